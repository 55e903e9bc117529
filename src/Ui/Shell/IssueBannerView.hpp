#pragma once
// One issue of the log as a banner: icon, code, title, "×n", the message, "Copy Details", "Email Support"
// and a dismiss button. Reused by issue id; setIssue() shows the record as it is now.
#include <QFrame>

#include <functional>
#include <string>

#include "Engine/Model/Issues.hpp"

class QLabel;
class QPushButton;
class QToolButton;

namespace ombry::ui {

class IssueBannerView final : public QFrame {
    Q_OBJECT
public:
    struct Actions {
        std::function<void(const std::string& text)> copy;
        std::function<void()> contactSupport;
        std::function<void(const std::string& issueId)> dismiss;
    };
    IssueBannerView(const Issue& issue, Actions actions, QWidget* parent = nullptr);
    void setIssue(const Issue& issue);
    const std::string& issueId() const { return id_; }
    QColor accentColor() const { return accent_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Actions actions_;
    std::string id_;
    std::string details_;
    QColor accent_;
    QLabel* icon_ = nullptr;
    QLabel* code_ = nullptr;
    QLabel* title_ = nullptr;
    QLabel* count_ = nullptr;
    QLabel* message_ = nullptr;
};

}  // namespace ombry::ui
