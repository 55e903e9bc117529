#include "Ui/Program/AudioMeter.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <cmath>

#include "Ui/Program/ProgramPanelRules.hpp"
#include "Ui/Shell/Theme.hpp"

namespace ombry::ui {

MeterBars::MeterBars(AppState& state, QWidget* parent) : QWidget(parent), state_(state) {
    setObjectName(QStringLiteral("meterBars"));
    setFixedWidth(13);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    sync();
}

void MeterBars::sync() {
    const MeterLevels& m = state_.meter();
    if (m.l == l_ && m.r == r_) return;
    l_ = m.l;
    r_ = m.r;
    update();
}

void MeterBars::paintEvent(QPaintEvent*) {
    ++repaints_;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const double h = height();
    QLinearGradient g(0, 0, 0, h);
    g.setColorAt(0, QColor(255, 69, 58));
    g.setColorAt(1.0 / 3, theme::yellow());
    g.setColorAt(2.0 / 3, QColor(48, 209, 88));
    g.setColorAt(1, QColor(48, 209, 88));
    for (auto [x, level] : {std::pair{0.0, l_}, std::pair{8.0, r_}}) {
        QPainterPath bar;
        bar.addRoundedRect(QRectF(x, 0, 5, h), 2.5, 2.5);
        p.fillPath(bar, g);
        const double unlit = panel::unlitHeight(level, h);
        if (unlit > 0) {
            p.save();
            p.setClipPath(bar);
            p.fillRect(QRectF(x, 0, 5, unlit), QColor::fromRgbF(0, 0, 0, 0.78f));
            p.restore();
        }
    }
}

FaderTrack::FaderTrack(QWidget* parent) : QSlider(Qt::Vertical, parent) {
    setObjectName(QStringLiteral("masterFader"));
    setRange(-600, 60);
    setFocusPolicy(Qt::NoFocus);
    setFixedWidth(capWidth);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    setToolTip(QStringLiteral("Master volume \u2014 drag to adjust"));
    setAccessibleName(QStringLiteral("Master volume"));
    connect(this, &QSlider::valueChanged, this, [this](int v) { emit adjusted(v / 10.0); });
}

void FaderTrack::setFraction(double fraction) {
    if (!std::isfinite(fraction)) fraction = 0;
    if (fraction == fraction_) return;
    fraction_ = fraction;
    const QSignalBlocker block(this);
    setValue(int(std::lround(panel::faderDB(std::clamp(fraction, 0.0, 1.0)) * 10)));
    update();
}

QRectF FaderTrack::capRect() const {
    const double travel = panel::faderTravel(height(), capHeight);
    const double f = std::clamp(fraction_, 0.0, 1.0);
    return QRectF((width() - capWidth) / 2.0, height() - capHeight - travel * f, capWidth, capHeight);
}

void FaderTrack::fromPointer(double y) {
    const double f = panel::faderFractionAt(y, height(), capHeight);
    setFraction(f);
    emit changedByPointer(f);
}

void FaderTrack::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return event->ignore();
    dragging_ = true;
    fromPointer(event->position().y());
}

void FaderTrack::mouseMoveEvent(QMouseEvent* event) {
    if (!dragging_) return event->ignore();
    fromPointer(event->position().y());
}

void FaderTrack::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) dragging_ = false;
}

void FaderTrack::wheelEvent(QWheelEvent* event) { event->ignore(); }

void FaderTrack::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(theme::hairline());
    p.drawRoundedRect(QRectF(width() / 2.0 - 1, 0, 2, height()), 1, 1);
    const QRectF cap = capRect();
    // The cap's shadow: black at 50 %, softened, one point down.
    for (int i = 2; i >= 1; --i) {
        p.setBrush(QColor::fromRgbF(0, 0, 0, 0.5f / (i + 1)));
        p.drawRoundedRect(cap.translated(0, 1).adjusted(-i, -i, i, i), 3 + i, 3 + i);
    }
    p.setBrush(Qt::white);
    p.drawRoundedRect(cap, 3, 3);
    p.fillRect(QRectF(cap.left(), cap.center().y() - 0.5, cap.width(), 1), QColor::fromRgbF(0, 0, 0, 0.4f));
}

AudioMeter::AudioMeter(AppState& state, StateSignals& stateSignals, QWidget* parent)
    : QWidget(parent), state_(state) {
    setObjectName(QStringLiteral("audioMeter"));
    setFixedWidth(52);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(5);
    auto* row = new QHBoxLayout();
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(5);
    bars_ = new MeterBars(state, this);
    fader_ = new FaderTrack(this);
    row->addStretch(1);
    row->addWidget(bars_);
    row->addWidget(fader_);
    row->addStretch(1);
    column->addLayout(row, 1);
    level_ = new QLabel(this);
    level_->setObjectName(QStringLiteral("masterLevel"));
    level_->setFont(theme::monoCaption());
    level_->setAlignment(Qt::AlignCenter);
    QPalette pal = level_->palette();
    pal.setColor(QPalette::WindowText, theme::secondaryText());
    level_->setPalette(pal);
    column->addWidget(level_, 0, Qt::AlignHCenter);

    connect(fader_, &FaderTrack::changedByPointer, this,
            [this](double f) { state_.setMasterVolumeDB(panel::faderDB(f)); });
    connect(fader_, &FaderTrack::adjusted, this, [this](double db) { state_.setMasterVolumeDB(db); });

    // Levels arrive up to the meter engine's rate; the bars repaint at most once per interval.
    auto* meterGate = new RefreshGate(bars_, [this] { bars_->sync(); }, meterIntervalMs);
    meterGate->watch(stateSignals, {Aspect::meter});
    auto* volumeGate = new RefreshGate(this, [this] { refreshVolume(); });
    volumeGate->watch(stateSignals, {Aspect::masterVolume});
    refreshVolume();
}

void AudioMeter::refreshVolume() {
    const double db = state_.masterVolumeDB();
    fader_->setFraction(panel::faderFraction(db));
    level_->setText(QString::fromStdString(panel::levelLabel(db)));
}

}  // namespace ombry::ui
