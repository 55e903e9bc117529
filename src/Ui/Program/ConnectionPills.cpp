#include "Ui/Program/ConnectionPills.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

#include "Ui/Bridge/RefreshGate.hpp"
#include "Ui/Program/PillRules.hpp"
#include "Ui/Shell/Theme.hpp"
#include "Ui/Widgets/Symbols.hpp"

namespace ombry::ui {
namespace {

constexpr int pillHeight = 30, padding = 14, spacing = 5, dotSize = 6, glyphPixels = 12;

QColor green() { return QColor(48, 209, 88); }

// A glyph column 18 wide beside the row's name and count.
class RuneLabel final : public QWidget {
public:
    RuneLabel(QWidget* parent) : QWidget(parent) { setFixedSize(18, 14); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        QPen pen(green(), 1.3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
        p.setPen(pen);
        const QRectF frame((width() - 8) / 2.0, (height() - 13) / 2.0, 8, 13);
        p.drawPath(pills::bluetoothRune(frame));
    }
};

QWidget* tipRow(QWidget* parent, QWidget* glyph, const QString& name, QLabel*& count) {
    auto* row = new QWidget(parent);
    auto* h = new QHBoxLayout(row);
    h->setContentsMargins(0, 0, 0, 0);
    h->setSpacing(8);
    h->addWidget(glyph);
    auto* label = new QLabel(name, row);
    h->addWidget(label);
    h->addStretch(1);
    count = new QLabel(row);
    QPalette pal = count->palette();
    pal.setColor(QPalette::WindowText, theme::secondaryText());
    count->setPalette(pal);
    h->addWidget(count);
    return row;
}

QLabel* symbolLabel(QWidget* parent, const char* symbol) {
    auto* l = new QLabel(parent);
    l->setFixedWidth(18);
    l->setAlignment(Qt::AlignCenter);
    l->setPixmap(symbols::pixmap(symbol, 14, green()));
    return l;
}

QLabel* caption(QWidget* parent, const QString& text) {
    auto* l = new QLabel(text, parent);
    l->setWordWrap(true);
    QFont f = l->font();
    f.setPixelSize(11);
    l->setFont(f);
    QPalette pal = l->palette();
    pal.setColor(QPalette::WindowText, theme::secondaryText());
    l->setPalette(pal);
    return l;
}

QLabel* headline(QWidget* parent, const QString& text) {
    auto* l = new QLabel(text, parent);
    QFont f = l->font();
    f.setBold(true);
    f.setPixelSize(13);
    l->setFont(f);
    return l;
}

QVBoxLayout* tipColumn(Popover* tip) {
    tip->setFixedWidth(260);
    auto* v = new QVBoxLayout(tip);
    v->setContentsMargins(16, 16, 16, 16);
    v->setSpacing(10);
    return v;
}

}  // namespace

PillButton::PillButton(QWidget* parent) : QAbstractButton(parent) {
    setFocusPolicy(Qt::NoFocus);  // acts on the show: Space never fires it by accident
    setCursor(Qt::PointingHandCursor);
    setFixedHeight(pillHeight);
}

QFont PillButton::labelFont() const {
    QFont f = font();
    f.setPixelSize(11);
    f.setBold(true);
    f.setLetterSpacing(QFont::AbsoluteSpacing, 0.5);
    return f;
}

void PillButton::setLook(const QString& text, const QColor& tint, std::optional<QColor> dot) {
    const bool resized = text != this->text() || dot.has_value() != dot_.has_value();
    setText(text);
    setAccessibleName(text);
    tint_ = tint;
    dot_ = dot;
    if (resized) updateGeometry();
    update();
}

void PillButton::setGlyphs(bool wifi, bool bluetooth) {
    if (wifi == wifi_ && bluetooth == bluetooth_) return;
    wifi_ = wifi;
    bluetooth_ = bluetooth;
    updateGeometry();
    update();
}

QSize PillButton::sizeHint() const {
    int w = padding * 2 + QFontMetrics(labelFont()).horizontalAdvance(text());
    if (dot_) w += dotSize + spacing;
    if (symbol_) w += glyphPixels + spacing;
    if (wifi_) w += glyphPixels + spacing;
    if (bluetooth_) w += 7 + spacing;
    return {w, pillHeight};
}

void PillButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QColor fill = tint_;
    fill.setAlphaF(isDown() ? 1.0f : underMouse() ? 0.95f : 0.85f);
    QColor edge = tint_.lighter(140);
    edge.setAlphaF(0.6f);
    p.setPen(QPen(edge, 1));
    p.setBrush(fill);
    p.drawRoundedRect(r, r.height() / 2, r.height() / 2);

    const QColor fg = Qt::white;
    double x = padding;
    const double mid = height() / 2.0;
    if (dot_) {
        p.setPen(Qt::NoPen);
        p.setBrush(*dot_);
        p.drawEllipse(QRectF(x, mid - dotSize / 2.0, dotSize, dotSize));
        x += dotSize + spacing;
    }
    if (symbol_) {
        symbols::draw(p, QRectF(x, mid - glyphPixels / 2.0, glyphPixels, glyphPixels), symbol_, fg);
        x += glyphPixels + spacing;
    }
    if (wifi_) {
        symbols::draw(p, QRectF(x, mid - glyphPixels / 2.0, glyphPixels, glyphPixels), "wifi", fg);
        x += glyphPixels + spacing;
    }
    if (bluetooth_) {
        p.setPen(QPen(fg, 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        p.drawPath(pills::bluetoothRune(QRectF(x, mid - 5.5, 7, 11)));
        x += 7 + spacing;
    }
    p.setPen(fg);
    p.setFont(labelFont());
    p.drawText(QRectF(x, 0, width() - x, height()), Qt::AlignVCenter | Qt::AlignLeft, text());
}

OutputStatusPill::OutputStatusPill(ViewContext& context, QWidget* parent)
    : PillButton(parent), state_(context.state) {
    setObjectName(QStringLiteral("outputStatusPill"));
    connect(this, &QAbstractButton::clicked, this, [this] { state_.program.setBlack(!state_.program.state().black); });
    auto* gate = new RefreshGate(this, [this] { refresh(); });
    gate->watch(context.stateSignals, {Aspect::program});
    refresh();
}

void OutputStatusPill::refresh() {
    const pills::OutputPillLook look = pills::outputPill(state_.outputStatus());
    setLook(look.label, look.tint, look.dot);
    setToolTip(look.tooltip);
}

ConnectionPill::ConnectionPill(Kind kind, ViewContext& context, QWidget* parent)
    : PillButton(parent), kind_(kind), context_(context) {
    setObjectName(kind == Kind::remote ? QStringLiteral("remotePill") : QStringLiteral("companionPill"));
    if (kind == Kind::companion) setSymbol("av.remote");
    connect(this, &QAbstractButton::clicked, this, [this] { openTip(); });
    auto* gate = new RefreshGate(this, [this] { refresh(); });
    gate->watch(context.stateSignals, {Aspect::counts});
    refresh();
}

void ConnectionPill::refresh() {
    const AppState& s = context_.state;
    if (kind_ == Kind::remote) {
        const int total = s.remoteClientCount();
        setLook(pills::pillText(QStringLiteral("REMOTE"), total), green());
        setGlyphs(s.remoteWifiCount() >= 1, s.remoteBleCount() >= 1);
        setToolTip(pills::remoteTooltip(total, s.remoteWifiCount(), s.remoteBleCount()));
    } else {
        const int n = s.companionClientCount();
        setLook(pills::pillText(QStringLiteral("COMPANION"), n), green());
        setToolTip(pills::companionTooltip(n));
    }
}

void ConnectionPill::openTip() {
    if (tip_ && tip_->isVisible()) return;
    if (!tip_) {
        if (kind_ == Kind::remote)
            tip_ = new RemoteTipView(context_, this);
        else
            tip_ = new CompanionTipView(context_, this);
    }
    tip_->showAt(QRect(mapToGlobal(QPoint(0, 0)), size()));
}

RemoteTipView::RemoteTipView(ViewContext& context, QWidget* parent) : Popover(parent), state_(context.state) {
    setObjectName(QStringLiteral("remoteTip"));
    QVBoxLayout* v = tipColumn(this);
    v->addWidget(headline(this, QStringLiteral("Remote Connected")));
    auto* rows = new QVBoxLayout();
    rows->setSpacing(6);
    wifiRow_ = tipRow(this, symbolLabel(this, "wifi"), QStringLiteral("Wi-Fi"), wifiCount_);
    wifiRow_->setObjectName(QStringLiteral("wifiRow"));
    bleRow_ = tipRow(this, new RuneLabel(this), QStringLiteral("Bluetooth"), bleCount_);
    bleRow_->setObjectName(QStringLiteral("bluetoothRow"));
    wifiCount_->setObjectName(QStringLiteral("wifiCount"));
    bleCount_->setObjectName(QStringLiteral("bluetoothCount"));
    rows->addWidget(wifiRow_);
    rows->addWidget(bleRow_);
    v->addLayout(rows);
    v->addWidget(caption(this, QStringLiteral("The Ombry Remote app is controlling this machine.")));
    auto* gate = new RefreshGate(this, [this] { refresh(); });
    gate->watch(context.stateSignals, {Aspect::counts});
    refresh();
}

void RemoteTipView::refresh() {
    const int wifi = state_.remoteWifiCount(), ble = state_.remoteBleCount();
    wifiRow_->setVisible(wifi >= 1);
    bleRow_->setVisible(ble >= 1);
    wifiCount_->setText(pills::remoteCountText(wifi));
    bleCount_->setText(pills::remoteCountText(ble));
    adjustSize();
}

CompanionTipView::CompanionTipView(ViewContext& context, QWidget* parent) : Popover(parent), state_(context.state) {
    setObjectName(QStringLiteral("companionTip"));
    QVBoxLayout* v = tipColumn(this);
    v->addWidget(headline(this, QStringLiteral("Companion Connected")));
    QWidget* row = tipRow(this, symbolLabel(this, "av.remote"), QStringLiteral("Bitfocus Companion"), count_);
    count_->setObjectName(QStringLiteral("companionCount"));
    v->addWidget(row);
    caption_ = caption(this, {});
    caption_->setObjectName(QStringLiteral("companionCaption"));
    v->addWidget(caption_);
    auto* gate = new RefreshGate(this, [this] { refresh(); });
    gate->watch(context.stateSignals, {Aspect::counts, Aspect::controlServerInfo});
    refresh();
}

void CompanionTipView::refresh() {
    count_->setText(pills::companionCountText(state_.companionClientCount()));
    const auto& info = state_.controlServerInfo();
    caption_->setText(pills::companionCaption(info ? std::optional<std::int64_t>(info->port) : std::nullopt));
}

}  // namespace ombry::ui
