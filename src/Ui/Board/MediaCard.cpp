#include "Ui/Board/MediaCard.hpp"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QContextMenuEvent>
#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPixmapCache>

#include <algorithm>
#include <cmath>

#include "Ui/Board/BoardRules.hpp"
#include "Ui/Board/IncomingSection.hpp"
#include "Ui/Board/ThumbnailLoader.hpp"
#include "Ui/Shell/Theme.hpp"
#include "Ui/Widgets/Symbols.hpp"

namespace ombry::ui {

namespace rules = board_rules;

namespace {

constexpr double radius = 9;

QColor fromHsb(const Hsb& c) {
    return QColor::fromHsvF(float(c.hue), float(c.saturation), float(c.brightness), float(c.alpha));
}

QFont pixelFont(int px, QFont::Weight weight) {
    QFont f = QApplication::font();
    f.setPixelSize(px);
    f.setWeight(weight);
    return f;
}

// A capsule with a text: the card's chips and badges.
void paintCapsule(QPainter& p, QPointF at, bool alignRight, bool alignBottom, const QString& text, const QFont& f,
                  const QColor& textColor, const QColor& fill, double padX, double padY) {
    const QFontMetricsF m(f);
    const QSizeF size(m.horizontalAdvance(text) + 2 * padX, m.height() + 2 * padY);
    QRectF r(at, size);
    if (alignRight) r.moveRight(at.x());
    if (alignBottom) r.moveBottom(at.y());
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawRoundedRect(r, r.height() / 2, r.height() / 2);
    p.setFont(f);
    p.setPen(textColor);
    p.drawText(r, Qt::AlignCenter, text);
}

QColor accent() { return QApplication::palette().color(QPalette::Highlight); }

// The kind symbol over a card's gradient, white at 0.45, drawn once per size: shaping the symbol font's
// ligature for every card painted during a scroll cost more than the rest of the thumbnail.
QPixmap kindGlyph(MediaKind kind, int size, qreal dpr) {
    const std::string name = rules::kindSymbol(kind);
    const QString key = QStringLiteral("ombry.card.glyph/%1/%2/%3").arg(QString::fromStdString(name)).arg(size).arg(dpr);
    QPixmap pm;
    if (!QPixmapCache::find(key, &pm)) {
        QColor c(255, 255, 255);
        c.setAlphaF(0.45f);
        pm = symbols::pixmap(name, size, c, dpr);
        QPixmapCache::insert(key, pm);
    }
    return pm;
}

// The border of a card's thumbnail box in one look, stroked once per size and look (antialiased rounded
// strokes were the costliest part of painting a card).
QPixmap borderArt(QSizeF box, const QColor& line, double width, qreal dpr) {
    const QString key = QStringLiteral("ombry.card.border/%1x%2/%3/%4/%5")
                            .arg(box.width())
                            .arg(box.height())
                            .arg(line.rgba())
                            .arg(width)
                            .arg(dpr);
    QPixmap pm;
    if (!QPixmapCache::find(key, &pm)) {
        pm = QPixmap((box * dpr).toSize());
        pm.setDevicePixelRatio(dpr);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(line, width));
        p.setBrush(Qt::NoBrush);
        const QRectF r(QPointF(), box);
        p.drawRoundedRect(r.adjusted(width / 2, width / 2, -width / 2, -width / 2), radius - width / 2,
                          radius - width / 2);
        p.end();
        QPixmapCache::insert(key, pm);
    }
    return pm;
}

}  // namespace

void paintThumbnail(QPainter& p, const QRectF& box, const MediaItem& item, const QImage& thumbnail, bool offline) {
    QPainterPath shape;
    shape.addRoundedRect(box, radius, radius);
    const auto colours = gradient(item);
    QLinearGradient fill(box.topLeft(), box.bottomRight());
    fill.setColorAt(0, fromHsb(colours[0]));
    fill.setColorAt(1, fromHsb(colours[1]));
    p.fillPath(shape, fill);
    const qreal dpr = p.device()->devicePixelRatioF();
    if (!offline && thumbnail.size() == (box.size() * dpr).toSize() && thumbnail.hasAlphaChannel()) {
        // Shaped for this box on the loader's worker: rounded and sized already.
        p.drawImage(box.topLeft(), thumbnail);
        return;
    }
    p.save();
    p.setClipPath(shape);
    if (offline) p.setOpacity(0.55);
    if (!thumbnail.isNull()) {
        QImage picture = thumbnail;
        if (offline) {
            // Grey, keeping the transparency of a fitted picture's margins.
            picture = thumbnail.convertToFormat(QImage::Format_Grayscale8).convertToFormat(QImage::Format_ARGB32);
            if (thumbnail.hasAlphaChannel()) picture.setAlphaChannel(thumbnail.convertToFormat(QImage::Format_Alpha8));
        }
        const QSizeF scaled = QSizeF(picture.size())
                                  .scaled(box.size(), item.fillMode == FillMode::fill ? Qt::KeepAspectRatioByExpanding
                                                                                       : Qt::KeepAspectRatio);
        QRectF target(QPointF(), scaled);
        target.moveCenter(box.center());
        p.drawImage(target, picture);
    } else {
        const double s = box.height() * 0.36;
        QRectF glyph(0, 0, s, s);
        glyph.moveCenter(box.center());
        p.drawPixmap(glyph.topLeft(), kindGlyph(item.kind, int(std::lround(s)), p.device()->devicePixelRatioF()));
    }
    p.restore();
}

int MediaCard::heightFor(TileSize tile) { return metrics(tile).thumbnailHeight + gap + nameHeight + gap + detailHeight; }

MediaCard::MediaCard(AppState& state, ThumbnailLoader& thumbnails, QWidget* parent)
    : QWidget(parent), state_(state), thumbnails_(thumbnails) {
    setObjectName(QStringLiteral("mediaCard"));
    setAttribute(Qt::WA_Hover);
    setMouseTracking(false);
    setFocusPolicy(Qt::NoFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setFixedSize(sizeHint());
}

QSize MediaCard::sizeHint() const { return {metrics(tile_).cardWidth, heightFor(tile_)}; }

ThumbnailShape MediaCard::thumbnailShape() const {
    const qreal dpr = devicePixelRatioF();
    return {(QSizeF(thumbnailRect().size()) * dpr).toSize(), item_.fillMode == FillMode::fill, radius * dpr, dpr};
}

QRect MediaCard::thumbnailRect() const { return {0, 0, metrics(tile_).cardWidth, metrics(tile_).thumbnailHeight}; }

QString MediaCard::detail() const { return QString::fromStdString(displayDetail(item_)); }

void MediaCard::setItem(const MediaItem& item) {
    if (item == item_) return;
    item_ = item;
    setProperty("clipId", QString::fromStdString(item_.id));
    updateTexts();
    update();
}

void MediaCard::setTile(TileSize tile) {
    if (tile == tile_) return;
    tile_ = tile;
    setFixedSize(sizeHint());
    update();
}

void MediaCard::setFlags(bool live, bool offline, bool selected) {
    if (live == live_ && offline == offline_ && selected == selected_) return;
    const bool selectionChanged = selected != selected_;
    live_ = live;
    offline_ = offline;
    selected_ = selected;
    updateTexts();
    update();
    if (selectionChanged && QAccessible::isActive()) {
        QAccessible::State s;
        s.selected = true;
        QAccessibleStateChangeEvent ev(this, s);
        QAccessible::updateAccessibility(&ev);
    }
}

void MediaCard::updateTexts() {
    setToolTip(rules::tooltip(live_, offline_));
    setAccessibleName(QString::fromStdString(item_.name));
}

void MediaCard::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRectF box = thumbnailRect();
    paintThumbnail(p, box, item_, thumbnails_.image(item_.id, item_.thumbAt, thumbnailShape(), this), offline_);

    const QFont chipFont = pixelFont(10, QFont::DemiBold);
    const QColor chipFill(0, 0, 0, 140);
    const LayerId layer = rules::effectiveLayer(item_);
    paintCapsule(p, box.topLeft() + QPointF(6, 6), false, false, rules::layerChipText(layer), chipFont,
                 rules::layerChipTint(layer), chipFill, 6, 2);
    if (const std::string d = displayDuration(item_); !d.empty())
        paintCapsule(p, box.bottomRight() + QPointF(-6, -6), true, true, QString::fromStdString(d), chipFont,
                     Qt::white, chipFill, 6, 2);

    const rules::CardBorder border = rules::cardBorder(live_, selected_, hovered_);
    QColor line;
    switch (border) {
        case rules::CardBorder::live: line = theme::live(); line.setAlphaF(0.95f); break;
        case rules::CardBorder::selected: line = accent(); break;
        case rules::CardBorder::hovered: line = QColor::fromRgbF(1, 1, 1, 0.35f); break;
        case rules::CardBorder::plain: line = QColor::fromRgbF(1, 1, 1, 0.09f); break;
    }
    p.drawPixmap(box.topLeft(), borderArt(box.size(), line, rules::borderWidth(border), devicePixelRatioF()));

    const rules::CardBadge badge = rules::cardBadge(live_, offline_);
    if (badge != rules::CardBadge::none)
        paintCapsule(p, box.topRight() + QPointF(-6, 6), true, false,
                     badge == rules::CardBadge::live ? QStringLiteral("LIVE") : QStringLiteral("OFFLINE"),
                     pixelFont(10, QFont::Bold), Qt::white, badge == rules::CardBadge::live ? theme::live() : theme::orange(),
                     5, 1.5);

    const double nameTop = box.bottom() + gap;
    const QFont nameFont = pixelFont(12, QFont::Medium);
    p.setFont(nameFont);
    p.setPen(selected_ ? accent() : palette().color(QPalette::WindowText));
    const int width = metrics(tile_).cardWidth;
    p.drawText(QRectF(0, nameTop, width, nameHeight), Qt::AlignLeft | Qt::AlignVCenter,
               QFontMetrics(nameFont).elidedText(QString::fromStdString(item_.name), Qt::ElideRight, width));
    const QFont detailFont = pixelFont(11, QFont::Normal);
    p.setFont(detailFont);
    p.setPen(palette().color(QPalette::PlaceholderText));
    p.drawText(QRectF(0, nameTop + nameHeight + gap, width, detailHeight), Qt::AlignLeft | Qt::AlignVCenter,
               QFontMetrics(detailFont).elidedText(detail(), Qt::ElideRight, width));
}

void MediaCard::enterEvent(QEnterEvent* event) {
    hovered_ = true;
    update();
    if (state_.preloadedId() != item_.id)
        if (const MediaItem* m = state_.library.item(item_.id)) state_.schedulePreload(m);
    QWidget::enterEvent(event);
}

void MediaCard::leaveEvent(QEvent* event) {
    hovered_ = false;
    update();
    QWidget::leaveEvent(event);
}

void MediaCard::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    pressAt_ = event->position().toPoint();
    event->accept();
}

void MediaCard::mouseMoveEvent(QMouseEvent* event) {
    if (!pressAt_ || !(event->buttons() & Qt::LeftButton)) return;
    const int distance = std::max(QApplication::startDragDistance(), int(rules::clickThreshold));
    if ((event->position().toPoint() - *pressAt_).manhattanLength() < distance) return;
    pressAt_.reset();
    emit dragStarted(QString::fromStdString(item_.id));  // may delete this card: touch nothing after
}

void MediaCard::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !pressAt_) return;
    pressAt_.reset();
    if (rect().contains(event->position().toPoint())) emit clicked(QString::fromStdString(item_.id));
}

void MediaCard::contextMenuEvent(QContextMenuEvent* event) {
    event->accept();
    emit menuRequested(QString::fromStdString(item_.id), event->globalPos());
}

QPixmap mediaDragPreview(const MediaItem& item, TileSize tile, int count, const QImage& thumbnail) {
    const TileMetrics m = metrics(tile);
    QPixmap pixmap(m.cardWidth, m.thumbnailHeight);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    paintThumbnail(p, QRectF(0, 0, m.cardWidth, m.thumbnailHeight), item, thumbnail, false);
    if (count >= 2)
        paintCapsule(p, QPointF(m.cardWidth - 5, 5), true, false, QString::number(count), pixelFont(11, QFont::Bold),
                     Qt::white, accent(), 7, 2);
    return pixmap;
}

namespace {

class MediaCardAccessible final : public QAccessibleWidget {
public:
    explicit MediaCardAccessible(MediaCard* card) : QAccessibleWidget(card, QAccessible::Button) {}
    MediaCard* card() const { return static_cast<MediaCard*>(widget()); }

    QString text(QAccessible::Text t) const override {
        switch (t) {
            case QAccessible::Name: return QString::fromStdString(card()->item().name);
            case QAccessible::Value: return rules::accessibleValue(card()->isLive(), card()->isOffline(), card()->detail());
            case QAccessible::Description: return card()->toolTip();
            default: return QAccessibleWidget::text(t);
        }
    }
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.selectable = true;
        s.selected = card()->isSelected();
        return s;
    }
    int childCount() const override { return 0; }
    QAccessibleInterface* child(int) const override { return nullptr; }
    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString& name) override {
        if (name == pressAction()) card()->triggerFromAccessibility();
    }
};

// An incoming card: one element named after its media, its progress as the value.
class IncomingCardAccessible final : public QAccessibleWidget {
public:
    explicit IncomingCardAccessible(IncomingCard* card) : QAccessibleWidget(card, QAccessible::ProgressBar) {}
    QString text(QAccessible::Text t) const override {
        auto* card = static_cast<IncomingCard*>(widget());
        if (t == QAccessible::Name) return card->name();
        if (t == QAccessible::Value) return incoming_rules::accessibleValue(card->badge(), card->fraction());
        return QAccessibleWidget::text(t);
    }
    int childCount() const override { return 0; }
    QAccessibleInterface* child(int) const override { return nullptr; }
};

QAccessibleInterface* cardFactory(const QString& className, QObject* object) {
    if (!object || !object->isWidgetType()) return nullptr;
    if (className == QLatin1String("ombry::ui::MediaCard")) return new MediaCardAccessible(static_cast<MediaCard*>(object));
    if (className == QLatin1String("ombry::ui::IncomingCard"))
        return new IncomingCardAccessible(static_cast<IncomingCard*>(object));
    return nullptr;
}

}  // namespace

void MediaCard::triggerFromAccessibility() {
    if (const MediaItem* m = state_.library.item(item_.id)) {
        const MediaItem copy = *m;
        state_.trigger(copy, false);
    }
}

void installMediaCardAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(cardFactory);
        return true;
    }();
    (void)installed;
}

}  // namespace ombry::ui
