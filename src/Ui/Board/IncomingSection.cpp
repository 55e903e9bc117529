#include "Ui/Board/IncomingSection.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#include "Ui/Board/MediaCard.hpp"
#include "Ui/Widgets/FlowGridLayout.hpp"
#include "Ui/Widgets/Symbols.hpp"

namespace ombry::ui {

namespace incoming_rules {

QString subtitle(std::size_t downloads, bool encoding) {
    QStringList pieces;
    if (downloads > 0)
        pieces << QString::number(qulonglong(downloads)) + (downloads == 1 ? QStringLiteral(" upload") : QStringLiteral(" uploads")) +
                      QStringLiteral(" downloading");
    if (encoding) pieces << QStringLiteral("1 sequence encoding");
    return pieces.join(QStringLiteral(" \u00B7 "));
}

static QString bytes(std::int64_t n) {
    return QLocale().formattedDataSize(std::max<std::int64_t>(n, 0), 1, QLocale::DataSizeSIFormat);
}

QString transferred(std::int64_t received, std::int64_t total) {
    if (received < 1) return QStringLiteral("Waiting\u2026 \u00B7 ") + bytes(total);
    return bytes(received) + QStringLiteral(" of ") + bytes(total);
}

double fraction(std::int64_t received, std::int64_t total) {
    if (total < 1) return 0;
    return std::clamp(double(received) / double(total), 0.0, 1.0);
}

int percent(double f) {
    if (!std::isfinite(f)) return 0;
    return int(std::trunc(std::clamp(f, 0.0, 1.0) * 100));
}

QString encodeDetail(std::int64_t frames, double f) {
    return QStringLiteral("Encoding %1 frames \u00B7 %2%").arg(frames).arg(percent(f));
}

std::string downloadSymbol(const std::optional<MediaKind>& kind) {
    if (!kind) return "arrow.down.circle";
    switch (*kind) {
        case MediaKind::image: return "photo";
        case MediaKind::audio: return "music.note";
        case MediaKind::video: break;
    }
    return "film";
}

QString accessibleValue(const QString& badge, double f) {
    const QString word = badge.isEmpty() ? badge : badge.left(1).toUpper() + badge.mid(1).toLower();
    return QStringLiteral("%1, %2 percent").arg(word).arg(percent(f));
}

}  // namespace incoming_rules

namespace {
const QColor cyan(50, 173, 230);
}

IncomingCard::IncomingCard(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("incomingCard"));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void IncomingCard::set(const QString& name, const QString& detail, const std::string& symbol, double fraction,
                       const QString& badge, TileSize tile) {
    name_ = name;
    detail_ = detail;
    symbol_ = symbol;
    fraction_ = std::isfinite(fraction) ? std::clamp(fraction, 0.0, 1.0) : 0;
    badge_ = badge;
    if (tile != tile_) {
        tile_ = tile;
        updateGeometry();
    }
    setFixedSize(sizeHint());
    setAccessibleName(name);
    setAccessibleDescription(incoming_rules::accessibleValue(badge, fraction_));
    update();
}

QSize IncomingCard::sizeHint() const { return {metrics(tile_).cardWidth, MediaCard::heightFor(tile_)}; }

void IncomingCard::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const TileMetrics m = metrics(tile_);
    const QRectF box(0, 0, m.cardWidth, m.thumbnailHeight);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor::fromRgbF(1, 1, 1, 0.06f));
    p.drawRoundedRect(box, 9, 9);
    // Symbol over a progress bar, centred.
    const double barW = m.incomingMeasure, barH = 4, symbol = 26, gap = 8;
    const double top = box.center().y() - (symbol + gap + barH) / 2;
    symbols::draw(p, QRectF(box.center().x() - symbol / 2, top, symbol, symbol), symbol_, QColor::fromRgbF(1, 1, 1, 0.35f));
    const QRectF bar(box.center().x() - barW / 2, top + symbol + gap, barW, barH);
    p.setBrush(QColor::fromRgbF(1, 1, 1, 0.12f));
    p.drawRoundedRect(bar, 2, 2);
    if (fraction_ > 0) {
        p.setBrush(cyan);
        p.drawRoundedRect(QRectF(bar.topLeft(), QSizeF(bar.width() * fraction_, barH)), 2, 2);
    }
    // The badge.
    QFont bf = font();
    bf.setPixelSize(10);
    bf.setBold(true);
    const QFontMetricsF fm(bf);
    QRectF badge(0, 0, fm.horizontalAdvance(badge_) + 10, fm.height() + 3);
    badge.moveTopRight(box.topRight() + QPointF(-6, 6));
    QColor fill = cyan;
    fill.setAlphaF(0.85f);
    p.setBrush(fill);
    p.drawRoundedRect(badge, badge.height() / 2, badge.height() / 2);
    p.setFont(bf);
    p.setPen(Qt::white);
    p.drawText(badge, Qt::AlignCenter, badge_);
    // The dashed outline.
    QPen dash(QColor::fromRgbF(1, 1, 1, 0.25f), 1);
    dash.setDashPattern({5, 4});
    p.setPen(dash);
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(box.adjusted(0.5, 0.5, -0.5, -0.5), 9, 9);
    // Name and detail.
    QFont nf = font();
    nf.setPixelSize(12);
    nf.setWeight(QFont::Medium);
    p.setFont(nf);
    p.setPen(palette().color(QPalette::PlaceholderText));
    const double nameTop = box.bottom() + MediaCard::gap;
    p.drawText(QRectF(0, nameTop, m.cardWidth, MediaCard::nameHeight), Qt::AlignLeft | Qt::AlignVCenter,
               QFontMetrics(nf).elidedText(name_, Qt::ElideRight, m.cardWidth));
    QFont df = font();
    df.setPixelSize(11);
    p.setFont(df);
    p.drawText(QRectF(0, nameTop + MediaCard::nameHeight + MediaCard::gap, m.cardWidth, MediaCard::detailHeight),
               Qt::AlignLeft | Qt::AlignVCenter, QFontMetrics(df).elidedText(detail_, Qt::ElideRight, m.cardWidth));
}

IncomingSection::IncomingSection(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("incomingSection"));
    setAccessibleName(QStringLiteral("Incoming"));
    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(6, 6, 6, 6);
    v->setSpacing(10);
    header_ = new QWidget(this);
    auto* h = new QHBoxLayout(header_);
    h->setContentsMargins(11, 7, 11, 7);
    h->setSpacing(8);
    auto* symbol = new QLabel(header_);
    symbol->setPixmap(symbols::pixmap("icloud.and.arrow.down", 14, cyan));
    auto* title = new QLabel(QStringLiteral("Incoming"), header_);
    QFont tf = title->font();
    tf.setPixelSize(13);
    tf.setWeight(QFont::DemiBold);
    title->setFont(tf);
    subtitle_ = new QLabel(header_);
    subtitle_->setObjectName(QStringLiteral("incomingSubtitle"));
    subtitle_->setForegroundRole(QPalette::PlaceholderText);
    h->addWidget(symbol);
    h->addWidget(title);
    h->addWidget(subtitle_);
    h->addStretch(1);
    v->addWidget(header_);
    grid_ = new QWidget(this);
    gridLayout_ = new FlowGridLayout(grid_, 12);
    gridLayout_->setRowSpacing(14);
    v->addWidget(grid_);
    hide();
}

void IncomingSection::set(const std::vector<IncomingDownload>& downloads, const std::optional<SequenceEncode>& encode,
                          TileSize tile) {
    namespace r = incoming_rules;
    const std::size_t n = downloads.size() + (encode ? 1 : 0);
    setVisible(n > 0);
    if (n == 0) return;
    subtitle_->setText(r::subtitle(downloads.size(), encode.has_value()));
    while (cards_.size() < n) {
        auto* c = new IncomingCard(grid_);
        gridLayout_->addWidget(c);
        cards_.push_back(c);
    }
    while (cards_.size() > n) {
        delete cards_.back();
        cards_.pop_back();
    }
    gridLayout_->setItemWidth(metrics(tile).cardWidth);
    std::size_t i = 0;
    if (encode)
        cards_[i++]->set(QString::fromStdString(encode->name), r::encodeDetail(encode->frames, encode->fraction), "film",
                         encode->fraction, QStringLiteral("ENCODING"), tile);
    for (const auto& d : downloads)
        cards_[i++]->set(QString::fromStdString(d.name), r::transferred(d.received, d.total), r::downloadSymbol(d.kind),
                         r::fraction(d.received, d.total), QStringLiteral("DOWNLOADING"), tile);
    for (auto* c : cards_) c->show();
}

QString IncomingSection::subtitle() const { return subtitle_->text(); }
std::vector<IncomingCard*> IncomingSection::cards() const { return cards_; }

void IncomingSection::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QColor fill = cyan;
    fill.setAlphaF(0.13f);
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawRoundedRect(QRectF(header_->geometry()), 8, 8);
}

}  // namespace ombry::ui
