#pragma once
// The main window's middle column: the header (title, subtitle, master transition), then the playlist
// sections of media cards or the empty board, in one vertically scrolling column. A drag from empty board
// space draws the marquee; the edge auto-scroller keeps marquees and drags moving past the edges.
#include <QMenu>
#include <QPointer>
#include <QScrollArea>

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Ui/Board/BoardRules.hpp"
#include "Ui/Shell/Columns.hpp"
#include "Ui/Widgets/Popover.hpp"

class QAbstractButton;
class QButtonGroup;
class QLabel;
class QSlider;
class QVBoxLayout;
class QHBoxLayout;

namespace ombry::ui {

class DragAutoScroller;
class EmptyBoard;
class IncomingSection;
struct IncomingDownload;
class PlaylistSection;
class RefreshGate;
class ThumbnailLoader;

// The set of card frames in the board's content coordinates, by clip id.
// The cloud downloads the incoming band shows.
std::vector<IncomingDownload> incomingDownloads(const AppState& state);

class CardFrames {
public:
    board_rules::FrameMap frames;
    void keep(const std::set<std::string>& ids);
    std::set<std::string> ids(const QRectF& intersecting) const { return board_rules::idsIntersecting(frames, intersecting); }
};

class PlaylistBoardView final : public QScrollArea {
    Q_OBJECT
public:
    PlaylistBoardView(const ViewContext& context, QWidget* parent = nullptr, ThumbnailLoader* thumbnails = nullptr);
    ~PlaylistBoardView() override;

    // Reads the state afresh (the gate calls it once per event-loop turn after a change).
    void refresh();
    RefreshGate& gate() const { return *gate_; }
    DragAutoScroller& autoScroller() const { return *scroller_; }
    QWidget* content() const { return content_; }
    const std::vector<PlaylistSection*>& sections() const { return sections_; }
    PlaylistSection* section(const std::string& id) const;
    // Frames of every shown card in content coordinates (the marquee's table).
    CardFrames& cardFrames();
    std::optional<QRectF> marquee() const { return marquee_; }
    bool headerIsNarrow() const { return narrow_; }
    // The context menu of a card, built afresh (shown at `at` unless null); the open one until it closes.
    QMenu* openCardMenu(const MediaItem& clip, const std::optional<std::string>& groupId, QPoint at);
    QMenu* cardMenu() const { return menu_; }
    // A playlist's playback tip in a popover at the anchor; the open one until it closes.
    Popover* openPlaybackTip(const std::string& groupId, QWidget* anchor);
    Popover* playbackTip() const { return tip_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool viewportEvent(QEvent* event) override;

private:
    class Overlay;
    void buildHeader();
    void layoutHeader();
    void marqueePress(QPointF at);
    void marqueeMove(QPointF at);
    void marqueeRelease();
    void updateMarquee();

    ViewContext context_;
    ThumbnailLoader& thumbnails_;
    RefreshGate* gate_;
    DragAutoScroller* scroller_;
    QWidget* content_;
    QVBoxLayout* column_;
    QWidget* header_;
    QWidget* titleBlock_;
    QLabel* title_;
    QLabel* subtitle_;
    QWidget* controls_;
    QHBoxLayout* headerRow_;
    QVBoxLayout* headerColumn_;
    QButtonGroup* transitions_;
    QSlider* duration_;
    QLabel* durationLabel_;
    IncomingSection* incoming_;
    QWidget* sectionsBox_;
    QVBoxLayout* sectionsLayout_;
    EmptyBoard* emptyBoard_;
    Overlay* overlay_;
    std::vector<PlaylistSection*> sections_;
    std::vector<std::string> visibleIds_;
    CardFrames frames_;
    bool narrow_ = false;
    QPointer<QMenu> menu_;
    QPointer<Popover> tip_;

    // The marquee, in content coordinates.
    std::optional<QPointF> pressAt_;
    std::optional<QRectF> marquee_;
    std::set<std::string> marqueeBase_;
    QPointF marqueeAnchor_, marqueePoint_;
};

}  // namespace ombry::ui
