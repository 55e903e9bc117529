#include "Ui/Program/LayerRow.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QToolButton>
#include <QVBoxLayout>

#include "Ui/Bridge/Ticker.hpp"
#include "Ui/Program/ProgramPanelRules.hpp"
#include "Ui/Program/ProgramPreview.hpp"
#include "Ui/Shell/Theme.hpp"
#include "Ui/Widgets/DragTrack.hpp"
#include "Ui/Widgets/Symbols.hpp"

namespace ombry::ui {

namespace {

QFont caption2(bool mono = false, QFont::Weight weight = QFont::Normal) {
    QFont f = mono ? QFont(QStringLiteral("DejaVu Sans Mono")) : QFont();
    if (mono) f.setStyleHint(QFont::Monospace);
    f.setPixelSize(10);
    f.setWeight(weight);
    return f;
}

void setTextColour(QWidget* w, const QColor& c) {
    QPalette pal = w->palette();
    if (pal.color(QPalette::WindowText) == c) return;
    pal.setColor(QPalette::WindowText, c);
    pal.setColor(QPalette::ButtonText, c);
    w->setPalette(pal);
}

QToolButton* symbolButton(const char* objectName, const char* symbol, const QString& name, QWidget* parent) {
    auto* b = new QToolButton(parent);
    b->setObjectName(QString::fromLatin1(objectName));
    b->setAutoRaise(true);
    b->setFocusPolicy(Qt::NoFocus);
    b->setIcon(symbols::icon(symbol, 12, theme::tertiaryText()));
    b->setIconSize(QSize(12, 12));
    b->setToolTip(name);
    b->setAccessibleName(name);
    b->setStyleSheet(QStringLiteral("QToolButton { border: none; padding: 0; background: transparent; }"));
    return b;
}

}  // namespace

// A fixed-size text that repaints alone when it changes: the transport's playhead time changes on every
// tick and must not relayout the row.
class TimeText final : public QWidget {
public:
    explicit TimeText(QWidget* parent) : QWidget(parent) {
        setObjectName(QStringLiteral("transportTime"));
        setFont(caption2(true));
        setFixedSize(76, QFontMetrics(font()).height());
    }
    void setText(const QString& text) {
        if (text == text_) return;
        text_ = text;
        update();
    }
    const QString& text() const { return text_; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setPen(theme::secondaryText());
        p.drawText(rect(), Qt::AlignRight | Qt::AlignVCenter, text_);
    }

private:
    QString text_;
};

LayerTransport::LayerTransport(AppState& state, StateSignals& stateSignals, LayerId layer, QWidget* parent)
    : QWidget(parent), state_(state), layer_(layer) {
    setObjectName(QStringLiteral("layerTransport"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(10);
    play_ = symbolButton("playPause", "play.fill", QStringLiteral("Play"), this);
    play_->setFixedWidth(12);
    restart_ = symbolButton("restart", "backward.end.fill", QStringLiteral("Restart"), this);
    scrub_ = new DragTrack(this);
    scrub_->setObjectName(QStringLiteral("scrub"));
    scrub_->setAccessibleName(QStringLiteral("Scrub position"));
    scrub_->setCommits(true);
    time_ = new TimeText(this);
    row->addWidget(play_);
    row->addWidget(restart_);
    row->addWidget(scrub_, 1);
    row->addWidget(time_);

    connect(play_, &QToolButton::clicked, this, [this] {
        const auto& cue = state_.program.state().layers[layer_].active;
        send(cue && cue->playing ? "pause" : "play", std::nullopt);
    });
    connect(restart_, &QToolButton::clicked, this, [this] { send("seek", 0.0); });
    connect(scrub_, &DragTrack::dragged, this, [this](double f) {
        scrubbing_ = f;
        sync();
    });
    connect(scrub_, &DragTrack::committed, this, [this](double f) {
        const double duration = std::get<1>(state_.transportProgress(layer_));
        // No seek while the duration is unknown: the playhead stays where it is.
        if (const auto t = panel::scrubSeekTime(f, duration)) send("seek", *t);
        scrubbing_.reset();
        sync();
    });
    connect(scrub_, &DragTrack::adjusted, this, [this](double f) {
        const double duration = std::get<1>(state_.transportProgress(layer_));
        if (const auto t = panel::scrubSeekTime(f, duration)) send("seek", *t);
    });

    auto* gate = new RefreshGate(this, [this] { sync(); });
    gate->watch(stateSignals, {Aspect::program, Aspect::clockEpoch});
    connect(&stateSignals.ticker(), &Ticker::tick, this, [this] {
        const auto& cue = state_.program.state().layers[layer_].active;
        if (isVisible() && cue && cue->playing) sync();
    });
    sync();
}

void LayerTransport::send(const std::string& action, std::optional<double> time) {
    if (action == "play" || action == "pause") state_.program.setLayerPlaying(layer_, action == "play");
    if (state_.program.onTransport) state_.program.onTransport(TransportCommandMessage{layer_, action, time});
    syncButton();
}

void LayerTransport::syncButton() {
    const auto& cue = state_.program.state().layers[layer_].active;
    const bool playing = cue && cue->playing;
    if (playing == showsPause_ && !play_->icon().isNull()) return;
    showsPause_ = playing;
    play_->setIcon(symbols::icon(playing ? "pause.fill" : "play.fill", 12, theme::secondaryText()));
    const QString name = playing ? QStringLiteral("Pause") : QStringLiteral("Play");
    play_->setToolTip(name);
    play_->setAccessibleName(name);
}

void LayerTransport::sync() {
    syncButton();
    const auto [current, duration, playing] = state_.transportProgress(layer_);
    (void)playing;
    scrub_->setFraction(scrubbing_ ? *scrubbing_ : panel::progressFraction(current, duration));
    time_->setText(QString::fromStdString(state_.timecode(panel::shownTime(scrubbing_, current, duration))));
}

QString LayerTransport::timeText() const { return time_->text(); }

class LayerRow::Dot final : public QWidget {
public:
    explicit Dot(QWidget* parent) : QWidget(parent) { setFixedSize(7, 7); }
    void setColour(const QColor& c) {
        if (c == colour_) return;
        colour_ = c;
        update();
    }
    const QColor& colour() const { return colour_; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(colour_);
        p.drawEllipse(QRectF(rect()));
    }

private:
    QColor colour_;
};

LayerRow::LayerRow(AppState& state, StateSignals& stateSignals, LayerId layer, QWidget* parent)
    : QFrame(parent), state_(state), layer_(layer) {
    setObjectName(QStringLiteral("layerRow.") + QString::fromStdString(std::string(rawValue(layer))));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(10, 8, 10, 8);
    column->setSpacing(7);

    auto* header = new QHBoxLayout();
    header->setContentsMargins(0, 0, 0, 0);
    header->setSpacing(8);
    dot_ = new Dot(this);
    dot_->setObjectName(QStringLiteral("layerDot"));
    tag_ = new QLabel(this);
    tag_->setObjectName(QStringLiteral("layerTag"));
    tag_->setFont(caption2(true));
    tag_->setFixedWidth(30);
    auto* names = new QVBoxLayout();
    names->setContentsMargins(0, 0, 0, 0);
    names->setSpacing(1);
    name_ = new QLabel(this);
    name_->setObjectName(QStringLiteral("layerName"));
    QFont callout = name_->font();
    callout.setPixelSize(12);
    name_->setFont(callout);
    clip_ = new QLabel(this);
    clip_->setObjectName(QStringLiteral("clipName"));
    clip_->setFont(caption2());
    clip_->setTextFormat(Qt::PlainText);
    clip_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    setTextColour(clip_, theme::tertiaryText());
    names->addWidget(name_);
    names->addWidget(clip_);
    clear_ = symbolButton("clearLayer", "xmark.circle.fill", QStringLiteral("Clear this layer"), this);
    live_ = new QLabel(this);
    live_->setObjectName(QStringLiteral("liveLabel"));
    QFont liveFont = caption2(false, QFont::DemiBold);
    liveFont.setLetterSpacing(QFont::AbsoluteSpacing, 0.5);
    live_->setFont(liveFont);
    header->addWidget(dot_);
    header->addWidget(tag_);
    header->addLayout(names, 1);
    header->addWidget(clear_);
    header->addWidget(live_);
    column->addLayout(header);

    transport_ = new LayerTransport(state, stateSignals, layer, this);
    column->addWidget(transport_);
    volumeRow_ = new QWidget(this);
    volumeRow_->setObjectName(QStringLiteral("volumeRow"));
    auto* volume = new QHBoxLayout(volumeRow_);
    volume->setContentsMargins(0, 0, 0, 0);
    volume->setSpacing(6);
    auto* speaker = new QLabel(volumeRow_);
    speaker->setPixmap(symbols::pixmap("speaker.wave.2.fill", 10, theme::tertiaryText()));
    volume_ = new DragTrack(volumeRow_);
    volume_->setObjectName(QStringLiteral("volume"));
    volume_->setAccessibleName(QStringLiteral("Layer volume"));
    volume->addWidget(speaker);
    volume->addWidget(volume_, 1);
    column->addWidget(volumeRow_);

    connect(clear_, &QToolButton::clicked, this, [this] {
        // A pending advance would put a clip back on the layer just cleared.
        state_.cancelAdvance();
        state_.program.clearLayer(layer_);
    });
    connect(volume_, &DragTrack::dragged, this, [this](double f) { state_.program.setLayerVolume(layer_, f); });
    connect(volume_, &DragTrack::adjusted, this, [this](double f) { state_.program.setLayerVolume(layer_, f); });
}

void LayerRow::showLayer(const LayerVM& vm) {
    const QColor colour = ProgramPreview::layerColor(vm.id);
    dot_->setColour(vm.isLive ? colour : QColor::fromRgbF(1, 1, 1, 0.15f));
    tag_->setText(QString::fromStdString(vm.tag));
    setTextColour(tag_, vm.isLive ? colour : theme::secondaryText());
    name_->setText(QString::fromStdString(vm.name));
    clip_->setVisible(vm.mediaName.has_value());
    if (vm.mediaName) clip_->setText(QString::fromStdString(*vm.mediaName));
    clear_->setVisible(vm.isLive);
    if (shownLive_ != vm.isLive) {
        shownLive_ = vm.isLive;
        live_->setText(vm.isLive ? QStringLiteral("LIVE") : QStringLiteral("OFFLINE"));
        setTextColour(live_, vm.isLive ? theme::live() : theme::tertiaryText());
    }
    const bool timeline = vm.isLive && vm.hasTimeline();
    transport_->setVisible(timeline);
    volumeRow_->setVisible(timeline);
    if (timeline) {
        const auto& cue = state_.program.state().layers[layer_].active;
        if (!volume_->dragging()) volume_->setFraction(cue ? cue->volume : 1.0);
        transport_->sync();
    }
}

void LayerRow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(theme::surface());
    p.drawRoundedRect(QRectF(rect()), 8, 8);
}

}  // namespace ombry::ui
