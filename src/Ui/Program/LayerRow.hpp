#pragma once
// One program layer in the panel: its dot, tag and name, the live clip's name, LIVE or OFFLINE, a clear
// button, and for a live video or audio clip the transport row and the volume track.
#include <QFrame>
#include <QPointer>

#include <optional>

#include "App/ViewModels.hpp"
#include "Ui/Bridge/RefreshGate.hpp"

class QLabel;
class QToolButton;

namespace ombry::ui {

class DragTrack;
class TimeText;

// Play/pause, restart, the scrub track and the playhead's timecode of one layer. Play and pause are set in
// the program state first, then sent; the scrub track moves only the view until it is released.
class LayerTransport final : public QWidget {
public:
    LayerTransport(AppState& state, StateSignals& stateSignals, LayerId layer, QWidget* parent = nullptr);
    LayerId layer() const { return layer_; }
    const std::optional<double>& scrubbing() const { return scrubbing_; }
    QToolButton* playButton() const { return play_; }
    QToolButton* restartButton() const { return restart_; }
    DragTrack* scrubTrack() const { return scrub_; }
    QString timeText() const;
    void sync();

private:
    void send(const std::string& action, std::optional<double> time);
    void syncButton();

    AppState& state_;
    LayerId layer_;
    std::optional<double> scrubbing_;
    QToolButton* play_ = nullptr;
    QToolButton* restart_ = nullptr;
    DragTrack* scrub_ = nullptr;
    TimeText* time_ = nullptr;
    bool showsPause_ = false;
};

class LayerRow final : public QFrame {
public:
    LayerRow(AppState& state, StateSignals& stateSignals, LayerId layer, QWidget* parent = nullptr);
    LayerId layer() const { return layer_; }
    // Shows the row's layer as the state has it now.
    void showLayer(const LayerVM& vm);
    LayerTransport* transport() const { return transport_; }
    DragTrack* volumeTrack() const { return volume_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    class Dot;
    AppState& state_;
    LayerId layer_;
    Dot* dot_ = nullptr;
    QLabel* tag_ = nullptr;
    QLabel* name_ = nullptr;
    QLabel* clip_ = nullptr;
    QToolButton* clear_ = nullptr;
    QLabel* live_ = nullptr;
    LayerTransport* transport_ = nullptr;
    QWidget* volumeRow_ = nullptr;
    DragTrack* volume_ = nullptr;
    std::optional<bool> shownLive_;
};

}  // namespace ombry::ui
