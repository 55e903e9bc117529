#pragma once
// The feedback form at the end of the General pane: a bug report or feature request posted to the
// feedback service with the app version, the system version, the computer's name and this run's issue
// codes. The fields are locked while a report is being sent and kept when sending fails.
#include <QWidget>

#include <optional>

#include "Ui/Shell/Columns.hpp"

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace ombry::ui {

class FeedbackSection final : public QWidget {
public:
    explicit FeedbackSection(AppState& state, QWidget* parent = nullptr);

    bool canSend() const;
    void send();
    bool sending() const { return sending_; }

private:
    void updateControls();
    void showStatus(const std::optional<std::pair<bool, QString>>& status);

    AppState& state_;
    bool sending_ = false;
    QComboBox* kind_ = nullptr;
    QLineEdit* subject_ = nullptr;
    QPlainTextEdit* message_ = nullptr;
    QLineEdit* email_ = nullptr;
    QPushButton* send_ = nullptr;
    QProgressBar* spinner_ = nullptr;
    QWidget* status_ = nullptr;
    QLabel* statusIcon_ = nullptr;
    QLabel* statusText_ = nullptr;
};

}  // namespace ombry::ui
