#pragma once
// The first-run sheet: a welcome page and a "How it works" page with page dots and one primary button.
// "Get Started" stores "hasSeenOnboarding" and closes it; the presenter stores it on any close, so closing the
// sheet any other way ends the onboarding too.
#include <QDialog>

#include <vector>

class QAbstractButton;
class QPushButton;
class QStackedWidget;

namespace ombry::ui {

class Preferences;

class OnboardingView final : public QDialog {
    Q_OBJECT
public:
    static constexpr int sheetWidth = 540, sheetHeight = 420, margin = 28;

    OnboardingView(Preferences& preferences, QWidget* parent = nullptr);
    int page() const { return page_; }
    void setPage(int page);
    QPushButton* primaryButton() const { return primary_; }

private:
    void advance();
    Preferences& preferences_;
    int page_ = 0;
    QStackedWidget* pages_ = nullptr;
    std::vector<QAbstractButton*> dots_;
    QPushButton* primary_ = nullptr;
};

// Opens the sheet window-modal over `window` when "hasSeenOnboarding" is not yet true, and stores it as
// true when the sheet closes, however it closes. The sheet, or none when the onboarding was seen.
OnboardingView* presentOnboardingIfNeeded(QWidget* window, Preferences& preferences);

}  // namespace ombry::ui
