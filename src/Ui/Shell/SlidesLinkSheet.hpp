#pragma once
// The sheet in which the operator pastes the link of a shared slide deck: checks it is a deck link, starts
// the import, shows that it runs and why it failed, and closes once the deck is in.
#include <QDialog>

#include <string>

class QLabel;
class QLineEdit;
class QPushButton;

namespace ombry {
class AppState;
}

namespace ombry::ui {

class SlidesLinkSheet final : public QDialog {
    Q_OBJECT
public:
    SlidesLinkSheet(AppState& state, QWidget* parent);
    // The link with spaces and tabs at either end removed (line breaks stay).
    static std::string trimmed(const std::string& link);
    // The one action of Return and "Import".
    void start();
    bool working() const { return working_; }

private:
    void sync();
    void showError(const QString& text);

    AppState& state_;
    QLineEdit* link_ = nullptr;
    QLabel* errorIcon_ = nullptr;
    QLabel* error_ = nullptr;
    QWidget* errorRow_ = nullptr;
    QWidget* progress_ = nullptr;
    QPushButton* import_ = nullptr;
    bool working_ = false;
};

}  // namespace ombry::ui
