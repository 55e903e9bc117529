#pragma once
// One clip's tile on the board, painted: thumbnail (or its gradient and kind symbol), layer and duration
// chips, the LIVE/OFFLINE badge, the border, the name and the detail line. Hover prepares the clip. Clicks
// and drags are reported to the section, which decides what they do.
#include <QImage>
#include <QPixmap>
#include <QPoint>
#include <QWidget>

#include <optional>
#include <string>

#include "App/AppState.hpp"
#include "Ui/Shell/TileSize.hpp"

namespace ombry::ui {

class ThumbnailLoader;
struct ThumbnailShape;

class MediaCard final : public QWidget {
    Q_OBJECT
public:
    static constexpr int gap = 6, nameHeight = 17, detailHeight = 15;
    static int heightFor(TileSize tile);

    MediaCard(AppState& state, ThumbnailLoader& thumbnails, QWidget* parent = nullptr);

    // What the card shows; repaints only when something differs.
    void setItem(const MediaItem& item);
    void setTile(TileSize tile);
    void setFlags(bool live, bool offline, bool selected);
    const MediaItem& item() const { return item_; }
    const std::string& id() const { return item_.id; }
    bool isLive() const { return live_; }
    bool isOffline() const { return offline_; }
    bool isSelected() const { return selected_; }
    bool isHovered() const { return hovered_; }
    QString detail() const;
    // The thumbnail box in the card's coordinates.
    QRect thumbnailRect() const;
    // What the card asks the loader for: its picture fitted to the box at the screen's pixel ratio.
    ThumbnailShape thumbnailShape() const;
    QSize sizeHint() const override;
    // The accessibility default action: the same take as a plain click's.
    void triggerFromAccessibility();

signals:
    void clicked(const QString& id);
    // Pressed and moved past the drag distance with the left button.
    void dragStarted(const QString& id);
    // Right-click (or the menu key) at this global position.
    void menuRequested(const QString& id, QPoint globalPosition);

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void updateTexts();
    AppState& state_;
    ThumbnailLoader& thumbnails_;
    MediaItem item_;
    TileSize tile_ = TileSize::medium;
    bool live_ = false, offline_ = false, selected_ = false, hovered_ = false;
    std::optional<QPoint> pressAt_;
};

// The picture under the pointer while cards are dragged: the tile's gradient, the thumbnail when there is
// one, and a count badge when the drag carries two or more clips.
QPixmap mediaDragPreview(const MediaItem& item, TileSize tile, int count, const QImage& thumbnail);

// Paints a clip's thumbnail box (gradient, picture or kind symbol) into `box`.
void paintThumbnail(QPainter& p, const QRectF& box, const MediaItem& item, const QImage& thumbnail, bool offline);

// Installs the cards' accessibility interface (once per process).
void installMediaCardAccessibility();

}  // namespace ombry::ui
