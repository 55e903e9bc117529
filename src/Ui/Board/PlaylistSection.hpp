#pragma once
// One block of the board: a tinted header (symbol, name, count, playback chips) over a grid of media
// cards, or the empty-playlist hint. A click on a card selects or takes it; cards drag their clip id; the
// whole section takes drops of clips and files at the gap under the pointer.
#include <QLabel>
#include <QWidget>

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "App/AppState.hpp"
#include "Ui/Board/BoardRules.hpp"
#include "Ui/Shell/TileSize.hpp"

class QHBoxLayout;
class QMimeData;

namespace ombry::ui {

class DragAutoScroller;
class FlowGridLayout;
class MediaCard;
class PointerState;
class ThumbnailLoader;

// The dashed outline with a one-line hint where a section has no cards.
class EmptyPlaylistDrop final : public QWidget {
    Q_OBJECT
public:
    explicit EmptyPlaylistDrop(QWidget* parent = nullptr);
    void setHint(const QString& hint);
    QString hint() const;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* label_;
};

class PlaylistSection final : public QWidget {
    Q_OBJECT
public:
    PlaylistSection(AppState& state, PointerState& pointer, ThumbnailLoader& thumbnails, DragAutoScroller& scroller,
                    QWidget* parent = nullptr);

    // What the section shows now; cards are kept by clip id.
    void setSection(const BoardSection& section, TileSize tile);
    // Live, offline and selected marks of every card.
    void updateFlags(const std::set<std::string>& live, const std::set<std::string>& offline,
                     const std::set<std::string>& selected);
    const BoardSection& section() const { return section_; }
    const std::vector<MediaCard*>& cards() const { return cards_; }
    MediaCard* card(const std::string& id) const;

    // The gap a point (section coordinates) falls into, from the cards' live geometry.
    int dropIndex(QPointF at) const;
    std::optional<int> insertionIndex() const { return insertionIndex_; }
    std::optional<board_rules::InsertionLine> insertionLine(int index) const;
    board_rules::FrameMap cardFrames() const;

    // A card's context menu was asked for: its clip, this section's playlist and where.
    std::function<void(const MediaItem&, const std::optional<std::string>&, QPoint)> onCardMenu;

    // The playback-settings button of a playlist section was pressed.
    std::function<void(const std::string& groupId, QWidget* anchor)> onPlaybackSettings;
    QWidget* playbackButton() const { return playback_; }

    // What a card's drag carries: its clip id as text.
    static QMimeData* dragData(const std::string& id);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    class Indicator;
    void onCardClicked(const QString& id);
    void onCardDrag(const QString& id);
    void setInsertion(std::optional<int> index);
    void rebuildChips(const Group* group);

    AppState& state_;
    PointerState& pointer_;
    ThumbnailLoader& thumbnails_;
    DragAutoScroller& scroller_;
    BoardSection section_;
    TileSize tile_ = TileSize::medium;
    QWidget* header_;
    QLabel* symbol_;
    QLabel* title_;
    QLabel* count_;
    QWidget* chips_;
    QHBoxLayout* chipsLayout_;
    QWidget* playback_;
    std::vector<std::string> chipKeys_;
    QWidget* grid_;
    FlowGridLayout* gridLayout_;
    EmptyPlaylistDrop* empty_;
    Indicator* indicator_;
    std::vector<MediaCard*> cards_;
    std::optional<int> insertionIndex_;
    bool dropCompleted_ = false;
};

// Fills the board's card area when there is nothing to show; files dropped on it are added to the library.
class EmptyBoard final : public QWidget {
    Q_OBJECT
public:
    EmptyBoard(AppState& state, QWidget* parent = nullptr);
    void setHasMedia(bool hasMedia);
    QString title() const;

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    AppState& state_;
    QLabel* title_;
};

// The local files of a drop, in the drag's order.
std::vector<std::string> droppedPaths(const QMimeData& data);

}  // namespace ombry::ui
