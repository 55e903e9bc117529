#pragma once
// The uploads pane: the browser upload page on the local network (switch, link with its QR code, copy and
// regenerate) and the internet upload inbox (switch, link, password, the status of the last check). It
// keeps nothing: every control reads and writes the settings, the status lines follow the state.
#include <QWidget>

#include "Ui/Settings/SettingsView.hpp"

class QLineEdit;
class QProgressBar;

namespace ombry::ui {

class QRShareRow;
class SettingsForm;
class Switch;

class UploadsSettings final : public QWidget {
    Q_OBJECT
public:
    UploadsSettings(SettingsContext& context, QWidget* parent = nullptr);
    void refresh();

private:
    void commitPassword();

    AppState& state_;
    RefreshGate* gate_ = nullptr;
    SettingsForm* form_ = nullptr;
    Switch* uploadSwitch_ = nullptr;
    QWidget* uploadRows_ = nullptr;
    QRShareRow* uploadShare_ = nullptr;
    QWidget* noAddress_ = nullptr;
    QWidget* cloudRows_ = nullptr;
    QWidget* inbox_ = nullptr;
    QRShareRow* inboxShare_ = nullptr;
    QWidget* inboxStatus_ = nullptr;
    QLineEdit* password_ = nullptr;
    QWidget* passwordWarning_ = nullptr;
    QWidget* settingUp_ = nullptr;
    QWidget* setupStatus_ = nullptr;
};

}  // namespace ombry::ui
