#include "Ui/Shell/StatusBarView.hpp"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>

#include "Ui/Bridge/RefreshGate.hpp"
#include "Ui/Bridge/WindowRegistry.hpp"
#include "Ui/Settings/SettingsView.hpp"
#include "Ui/Shell/ChromeRules.hpp"
#include "Ui/Shell/Theme.hpp"
#include "Ui/Widgets/Symbols.hpp"

namespace ombry::ui {

namespace {

QFrame* divider(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFixedSize(1, 11);
    line->setStyleSheet(QStringLiteral("background: %1;").arg(theme::separator().name(QColor::HexArgb)));
    return line;
}

QPixmap dot(const QColor& color) {
    QPixmap pm(6, 6);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    p.drawEllipse(QRectF(0, 0, 6, 6));
    return pm;
}

// The indeterminate spinner of a running encode, small (0.6 of a regular one).
class Spinner final : public QWidget {
public:
    explicit Spinner(QWidget* parent) : QWidget(parent) {
        setFixedSize(12, 12);
        timer_.setInterval(100);
        connect(&timer_, &QTimer::timeout, this, [this] {
            step_ = (step_ + 1) % 8;
            update();
        });
    }

protected:
    void showEvent(QShowEvent*) override { timer_.start(); }
    void hideEvent(QHideEvent*) override { timer_.stop(); }
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.translate(width() / 2.0, height() / 2.0);
        for (int i = 0; i < 8; ++i) {
            QColor c = theme::secondaryText();
            c.setAlphaF(0.15f + 0.85f * float((i + 8 - step_) % 8) / 8.0f);
            p.setPen(QPen(c, 1.5, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(QPointF(0, -2.5), QPointF(0, -5.5));
            p.rotate(45);
        }
    }

private:
    QTimer timer_;
    int step_ = 0;
};

}  // namespace

StatusBarView::StatusBarView(ViewContext& context, QWidget* parent) : QStatusBar(parent), context_(context) {
    setObjectName(QStringLiteral("statusBar"));
    setSizeGripEnabled(false);
    setFixedHeight(28);
    QFont caption = font();
    caption.setPixelSize(11);
    setFont(caption);
    setStyleSheet(QStringLiteral("QStatusBar { background: #262628; border-top: 1px solid %1; }"
                                 "QStatusBar::item { border: none; }")
                      .arg(theme::separator().name(QColor::HexArgb)));

    auto* content = new QWidget(this);
    content->setObjectName(QStringLiteral("statusContent"));
    auto* row = new QHBoxLayout(content);
    row->setContentsMargins(14, 0, 14, 0);
    row->setSpacing(16);
    const QString secondary = QStringLiteral("color: %1;").arg(theme::secondaryText().name(QColor::HexArgb));

    auto* state = new QWidget(content);
    auto* stateRow = new QHBoxLayout(state);
    stateRow->setContentsMargins(0, 0, 0, 0);
    stateRow->setSpacing(5);
    dot_ = new QLabel(state);
    dot_->setObjectName(QStringLiteral("onAirDot"));
    dot_->setFixedSize(6, 6);
    onAir_ = new QLabel(state);
    onAir_->setObjectName(QStringLiteral("onAirText"));
    stateRow->addWidget(dot_);
    stateRow->addWidget(onAir_);
    row->addWidget(state);
    row->addWidget(divider(content));

    auto* checks = new QWidget(content);
    checks->setObjectName(QStringLiteral("statusChecks"));
    auto* checkRow = new QHBoxLayout(checks);
    checkRow->setContentsMargins(0, 0, 0, 0);
    checkRow->setSpacing(12);
    for (const chrome::Check& c : chrome::statusChecks({})) {
        auto* one = new QWidget(checks);
        one->setObjectName(QStringLiteral("check") + c.name);
        auto* r = new QHBoxLayout(one);
        r->setContentsMargins(0, 0, 0, 0);
        r->setSpacing(3);
        auto* symbol = new QLabel(one);
        symbol->setFixedSize(11, 11);
        auto* name = new QLabel(c.name, one);
        name->setStyleSheet(secondary);
        r->addWidget(symbol);
        r->addWidget(name);
        checkRow->addWidget(one);
        checks_.push_back({symbol, name});
    }
    row->addWidget(checks);
    row->addStretch(1);

    encode_ = new QWidget(content);
    encode_->setObjectName(QStringLiteral("encodeProgress"));
    auto* encodeRow = new QHBoxLayout(encode_);
    encodeRow->setContentsMargins(0, 0, 0, 0);
    encodeRow->setSpacing(5);
    encodeRow->addWidget(new Spinner(encode_));
    encodeText_ = new QLabel(encode_);
    encodeText_->setObjectName(QStringLiteral("encodeText"));
    encodeText_->setStyleSheet(secondary);
    encodeRow->addWidget(encodeText_);
    row->addWidget(encode_);

    issues_ = new QPushButton(content);
    issues_->setObjectName(QStringLiteral("issuesButton"));
    issues_->setFlat(true);
    issues_->setFocusPolicy(Qt::NoFocus);
    issues_->setToolTip(QStringLiteral("Show recent issues"));
    issues_->setIcon(symbols::icon("exclamationmark.triangle.fill", 12, theme::live()));
    issues_->setIconSize(QSize(12, 12));
    issues_->setStyleSheet(QStringLiteral("QPushButton { color: %1; font-weight: 600; border: none;"
                                          " background: transparent; padding: 0; }")
                               .arg(theme::live().name()));
    connect(issues_, &QPushButton::clicked, this, &StatusBarView::showIssues);
    row->addWidget(issues_);
    issuesDivider_ = divider(content);
    row->addWidget(issuesDivider_);

    clock_ = new QLabel(content);
    clock_->setObjectName(QStringLiteral("clock"));
    clock_->setAccessibleName(QStringLiteral("Clock"));
    QFont mono = theme::monoCaption();
    mono.setPixelSize(11);
    clock_->setFont(mono);
    clock_->setStyleSheet(secondary);
    row->addWidget(clock_);
    addWidget(content, 1);

    clockTimer_.setSingleShot(true);
    clockTimer_.setTimerType(Qt::PreciseTimer);
    connect(&clockTimer_, &QTimer::timeout, this, [this] {
        showTime(QTime::currentTime());
        scheduleClock();
    });

    gate_ = new RefreshGate(this, [this] { refresh(); });
    gate_->watch(context_.stateSignals, {Aspect::program, Aspect::serverInfo, Aspect::openDisplays, Aspect::counts,
                                         Aspect::sequenceEncode, Aspect::issues, Aspect::settings});
    refresh();
    showTime(QTime::currentTime());
}

void StatusBarView::refresh() {
    AppState& s = context_.state;
    const chrome::OnAirState state = chrome::onAirState(s.program.isLive(), s.outputReady());
    dot_->setPixmap(dot(chrome::onAirColor(state)));
    onAir_->setText(chrome::onAirText(state));

    chrome::CheckInputs in;
    in.engineStarted = s.serverInfo.has_value();
    in.openDisplays = s.openDisplayIDs().size();
    in.outputPages = s.outputCount;
    in.previewConnected = s.previewConnected;
    in.remotes = s.remoteClientCount();
    in.companions = s.companionClientCount();
    const auto checks = chrome::statusChecks(in);
    for (std::size_t i = 0; i < checks.size() && i < checks_.size(); ++i) {
        const bool ok = checks[i].ok;
        checks_[i].symbol->setPixmap(symbols::pixmap(ok ? "checkmark" : "minus", 11,
                                                     ok ? QColor(48, 209, 88) : theme::tertiaryText()));
        checks_[i].symbol->setProperty("ok", ok);
        checks_[i].symbol->setAccessibleName(checks[i].name + (ok ? QStringLiteral(" ready") : QStringLiteral(" not ready")));
    }

    const auto& encode = s.sequenceEncode();
    encode_->setVisible(encode.has_value());
    if (encode) encodeText_->setText(chrome::encodeText(encode->name, encode->fraction));

    const std::size_t issues = IssueLog::shared().recent().size();
    issues_->setVisible(issues > 0);
    issuesDivider_->setVisible(issues > 0);
    issues_->setText(chrome::issueCountText(issues));
    issues_->setAccessibleName(chrome::issueCountText(issues));
}

void StatusBarView::showTime(const QTime& time) { clock_->setText(chrome::clockText(time)); }

void StatusBarView::showIssues() {
    openSettings(context_.windows, context_.state, SettingsSection::general);
}

void StatusBarView::scheduleClock() { clockTimer_.start(chrome::msToNextSecond(QTime::currentTime())); }

void StatusBarView::showEvent(QShowEvent* event) {
    QStatusBar::showEvent(event);
    showTime(QTime::currentTime());
    scheduleClock();
}

void StatusBarView::hideEvent(QHideEvent* event) {
    QStatusBar::hideEvent(event);
    clockTimer_.stop();
}

}  // namespace ombry::ui
