#pragma once
// The window's status bar: On Air / Ready / Waiting, the seven checks, the image-sequence encode, the count
// of this run's issues (a button to the settings' General pane) and a clock that turns every second while
// the bar is shown.
#include <QStatusBar>
#include <QTimer>

#include <vector>

#include "Ui/Shell/Columns.hpp"

class QLabel;
class QPushButton;
class QFrame;

namespace ombry::ui {

class RefreshGate;

class StatusBarView final : public QStatusBar {
    Q_OBJECT
public:
    explicit StatusBarView(ViewContext& context, QWidget* parent = nullptr);
    void refresh();
    // Shows the time given (the clock's own timer passes the current time).
    void showTime(const QTime& time);
    // What the issues button does: the General pane of the settings window.
    void showIssues();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void scheduleClock();

    ViewContext& context_;
    RefreshGate* gate_ = nullptr;
    QLabel* dot_ = nullptr;
    QLabel* onAir_ = nullptr;
    struct CheckWidgets {
        QLabel* symbol;
        QLabel* name;
    };
    std::vector<CheckWidgets> checks_;
    QWidget* encode_ = nullptr;
    QLabel* encodeText_ = nullptr;
    QPushButton* issues_ = nullptr;
    QFrame* issuesDivider_ = nullptr;
    QLabel* clock_ = nullptr;
    QTimer clockTimer_;
};

}  // namespace ombry::ui
