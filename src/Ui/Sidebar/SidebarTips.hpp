#pragma once
// The popovers of the outputs footer: how to bring the program into OBS, why a display takes no output,
// and the audio monitor's switch and device. They hold no state of their own and apply changes at once.
#include <QPointer>

#include <functional>
#include <vector>

#include "App/AppState.hpp"
#include "Render/Audio/AudioDevices.hpp"
#include "Ui/Widgets/Popover.hpp"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;

namespace ombry::ui {

class RefreshGate;
class StateSignals;

class ObsTipView final : public Popover {
    Q_OBJECT
public:
    ObsTipView(AppState& state, StateSignals& stateSignals, QWidget* parent = nullptr);
    void refresh();
    QLineEdit* address() const { return address_; }

private:
    AppState& state_;
    RefreshGate* gate_;
    QLineEdit* address_;
};

class DisplayBlockedTipView final : public Popover {
    Q_OBJECT
public:
    DisplayBlockedTipView(DisplayBlockReason reason, const QString& displayName, std::function<void()> openSettings,
                          QWidget* parent = nullptr);
    QString message() const;

private:
    QLabel* message_;
};

class AudioMonitorTipView final : public Popover {
    Q_OBJECT
public:
    AudioMonitorTipView(AppState& state, StateSignals& stateSignals, std::vector<AudioOutputDevice> devices,
                        QWidget* parent = nullptr);
    void refresh();
    QCheckBox* toggle() const { return toggle_; }
    QComboBox* picker() const { return picker_; }

private:
    AppState& state_;
    std::vector<AudioOutputDevice> devices_;
    RefreshGate* gate_;
    QCheckBox* toggle_;
    QComboBox* picker_;
};

}  // namespace ombry::ui
