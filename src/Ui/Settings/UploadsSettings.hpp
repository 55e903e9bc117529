#pragma once
// The uploads pane: the browser upload page on the local network (switch, link with its QR code, copy and
// regenerate) and the internet upload inbox (switch, link, password, the status of the last check). It
// keeps nothing: every control reads and writes the settings, the status lines follow the state.
#include "Ui/Settings/PaneForm.hpp"
#include "Ui/Shell/Columns.hpp"

class QLineEdit;
class QProgressBar;
class QPushButton;

namespace ombry::ui {

class RefreshGate;
class Switch;

class UploadsSettings final : public PaneForm {
public:
    UploadsSettings(ViewContext& context, QWidget* parent = nullptr);
    void refresh();

private:
    struct StatusRow;
    void setStatus(QWidget* row, const std::optional<CloudSyncStatus>& status);
    void commitPassword();

    AppState& state_;
    RefreshGate* gate_ = nullptr;
    Switch* uploadSwitch_ = nullptr;
    QWidget* uploadRows_ = nullptr;
    QWidget* uploadShare_ = nullptr;
    QWidget* noAddress_ = nullptr;
    Switch* cloudSwitch_ = nullptr;
    QWidget* cloudRows_ = nullptr;
    QWidget* inbox_ = nullptr;
    QWidget* inboxShare_ = nullptr;
    QWidget* inboxStatus_ = nullptr;
    QLineEdit* password_ = nullptr;
    QWidget* passwordWarning_ = nullptr;
    QWidget* settingUp_ = nullptr;
    QProgressBar* busy_ = nullptr;
    QWidget* setupStatus_ = nullptr;
};

}  // namespace ombry::ui
