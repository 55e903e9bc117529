#pragma once
// The Output pane: the stage size and frame rate (with custom values), the browser output address, frame
// sharing, NDI with its audio delay, the guards for the operator's own screens with the detected displays,
// and the program-audio monitor with its device.
#include <QWidget>

#include <string>
#include <vector>

#include "Ui/Settings/SettingsView.hpp"

class QComboBox;
class QLabel;
class QPushButton;
class QSlider;
class QVBoxLayout;

namespace ombry::ui {

class RefreshGate;
class StageSizeFields;
class Switch;
class WholeNumberField;

class OutputSettings final : public QWidget, public SettingsPaneHooks {
    Q_OBJECT
public:
    // The tag of the pickers' "Custom" entry; it never reaches the stage or the settings.
    static constexpr const char* customTag = "custom";

    OutputSettings(SettingsContext& context, QWidget* parent = nullptr);

    // Fills the device list and sets the custom flags from the live stage.
    void paneAppeared() override;
    // Remembers a custom size or rate still chosen.
    void paneDisappeared() override;

    bool isCustomResolution() const { return isCustomResolution_; }
    bool isCustomFrameRate() const { return isCustomFrameRate_; }

private:
    void refresh();
    void chooseResolution(const QString& value);
    void chooseFrameRate(const QString& value);
    void refreshDisplays();
    void refreshDevices();

    SettingsContext context_;
    bool isCustomResolution_ = false;
    bool isCustomFrameRate_ = false;
    std::vector<AudioOutputDevice> monitorDevices_;

    QComboBox* resolution_ = nullptr;
    StageSizeFields* sizeFields_ = nullptr;
    QWidget* sizeRow_ = nullptr;
    QComboBox* frameRate_ = nullptr;
    WholeNumberField* fps_ = nullptr;
    QWidget* fpsRow_ = nullptr;
    QLabel* outputUrl_ = nullptr;
    QPushButton* copyUrl_ = nullptr;
    QWidget* delayRow_ = nullptr;
    QSlider* delay_ = nullptr;
    QLabel* delayText_ = nullptr;
    Switch* allowPrimary_ = nullptr;
    Switch* allowController_ = nullptr;
    QLabel* noDisplays_ = nullptr;
    QWidget* displayRows_ = nullptr;
    QVBoxLayout* displayLayout_ = nullptr;
    std::string displaysShown_;
    Switch* monitor_ = nullptr;
    QComboBox* device_ = nullptr;
    RefreshGate* gate_ = nullptr;
};

}  // namespace ombry::ui
