#pragma once
// The General pane: the board's tile size, the version and updates, the support folder, and the issues of
// this run (RecentIssuesSection). The feedback form goes at the end of the pane.
#include <QWidget>

#include "Ui/Settings/SettingsView.hpp"

class QAbstractButton;
class QButtonGroup;
class QPushButton;
class QVBoxLayout;

namespace ombry::ui {

class RefreshGate;
class SettingsForm;
class Switch;

// "Recent Issues": every issue of this run, newest first, with Copy All and Clear.
class RecentIssuesSection final : public QWidget {
    Q_OBJECT
public:
    RecentIssuesSection(AppState& state, StateSignals& stateSignals, QWidget* parent = nullptr);

private:
    void refresh();
    AppState& state_;
    QWidget* box_ = nullptr;
    QVBoxLayout* rows_ = nullptr;
    RefreshGate* gate_ = nullptr;
};

class GeneralSettings final : public QWidget {
    Q_OBJECT
public:
    GeneralSettings(SettingsContext& context, QWidget* parent = nullptr);
    SettingsForm* form() const { return form_; }

private:
    void refresh();
    SettingsContext context_;
    SettingsForm* form_ = nullptr;
    QButtonGroup* tiles_ = nullptr;
    Switch* autoInstall_ = nullptr;
    QWidget* autoInstallRow_ = nullptr;
    Switch* beta_ = nullptr;
    QPushButton* check_ = nullptr;
};

}  // namespace ombry::ui
