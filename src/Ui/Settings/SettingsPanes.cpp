// Where each settings section's pane is made: replace a placeholder with the pane's factory.
#include "Ui/Settings/GeneralSettings.hpp"
#include "Ui/Settings/MediaStorageView.hpp"
#include "Ui/Settings/OutputSettings.hpp"
#include "Ui/Settings/RemoteControlSettings.hpp"
#include "Ui/Settings/SettingsView.hpp"
#include "Ui/Settings/UploadsSettings.hpp"

namespace ombry::ui {

SettingsPaneFactories defaultSettingsPanes() {
    SettingsPaneFactories f;
    f[SettingsSection::general] = [](SettingsContext& context, QWidget* parent) -> QWidget* {
        return new GeneralSettings(context, parent);
    };
    f[SettingsSection::output] = [](SettingsContext& context, QWidget* parent) -> QWidget* {
        return new OutputSettings(context, parent);
    };
    f[SettingsSection::media] = [](SettingsContext& context, QWidget* parent) -> QWidget* {
        return new MediaStorageView(context, parent);
    };
    f[SettingsSection::remote] = [](SettingsContext& context, QWidget* parent) -> QWidget* {
        return new RemoteControlSettings(context, parent);
    };
    f[SettingsSection::uploads] = [](SettingsContext& context, QWidget* parent) -> QWidget* {
        return new UploadsSettings(context, parent);
    };
    return f;
}

}  // namespace ombry::ui
