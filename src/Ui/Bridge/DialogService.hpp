#pragma once
// Questions and alerts of the window, answered asynchronously (a window-modal QMessageBox opened with
// open(), never exec(), so the frame loop keeps running). Tests install a ScriptedDialogs.
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

class QWidget;

namespace ombry::ui {

struct DialogRequest {
    enum class Style { information, warning, critical };
    Style style = Style::warning;
    QString title;        // the window title; empty: the application's name
    QString message;      // the bold first line
    QString informative;  // the text below it
    // In order; the first answers Return. `destructive` marks the index shown as destructive.
    QStringList buttons{QStringLiteral("OK")};
    std::optional<int> destructive;
    std::optional<int> cancel;  // the button Escape answers
};

class DialogService {
public:
    virtual ~DialogService() = default;
    // `done` gets the index of the chosen button, once, on the GUI thread.
    virtual void ask(QWidget* parent, const DialogRequest& request, std::function<void(int)> done) = 0;
    // A blocking alert for the moment the process is ending (the fatal renderer error).
    virtual void alertAndWait(QWidget* parent, const DialogRequest& request) = 0;
};

class QtDialogService final : public DialogService {
public:
    void ask(QWidget* parent, const DialogRequest& request, std::function<void(int)> done) override;
    void alertAndWait(QWidget* parent, const DialogRequest& request) override;
};

// Answers every question with the next scripted answer (or the first button when none is left) and keeps
// what was asked.
class ScriptedDialogs final : public DialogService {
public:
    std::vector<DialogRequest> asked;
    std::vector<int> answers;
    // When set, answers wait until answer() is called.
    bool holdAnswers = false;
    void ask(QWidget* parent, const DialogRequest& request, std::function<void(int)> done) override;
    void alertAndWait(QWidget* parent, const DialogRequest& request) override;
    // Answers the oldest question still waiting; false when none waits.
    bool answer(int button);
    std::size_t waiting() const { return waiting_.size(); }

private:
    std::vector<std::function<void(int)>> waiting_;
};

}  // namespace ombry::ui
