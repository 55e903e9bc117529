#include "Ui/Bridge/DialogService.hpp"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QMessageBox>
#include <QPushButton>

#include <memory>

namespace ombry::ui {
namespace {

QMessageBox* makeBox(QWidget* parent, const DialogRequest& r) {
    auto* box = new QMessageBox(parent);
    box->setObjectName(QStringLiteral("dialog"));
    box->setIcon(r.style == DialogRequest::Style::critical  ? QMessageBox::Critical
                 : r.style == DialogRequest::Style::warning ? QMessageBox::Warning
                                                            : QMessageBox::Information);
    box->setWindowTitle(r.title.isEmpty() ? QCoreApplication::applicationName() : r.title);
    box->setText(r.message);
    box->setInformativeText(r.informative);
    for (int i = 0; i < r.buttons.size(); ++i) {
        const bool destructive = r.destructive && *r.destructive == i;
        auto role = destructive ? QMessageBox::DestructiveRole
                    : (r.cancel && *r.cancel == i) ? QMessageBox::RejectRole
                                                   : QMessageBox::AcceptRole;
        QPushButton* b = box->addButton(r.buttons[i], role);
        b->setObjectName(QStringLiteral("dialogButton%1").arg(i));
        b->setProperty("dialogIndex", i);
        if (i == 0) box->setDefaultButton(b);
        if (r.cancel && *r.cancel == i) box->setEscapeButton(b);
    }
    return box;
}

int indexOf(QMessageBox* box) {
    QAbstractButton* clicked = box->clickedButton();
    if (!clicked) return -1;
    return clicked->property("dialogIndex").toInt();
}

}  // namespace

void QtDialogService::ask(QWidget* parent, const DialogRequest& request, std::function<void(int)> done) {
    QMessageBox* box = makeBox(parent, request);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    const int fallback = request.cancel.value_or(0);
    QObject::connect(box, &QMessageBox::finished, box, [box, done = std::move(done), fallback](int) {
        const int i = indexOf(box);
        done(i < 0 ? fallback : i);
    });
    box->open();
}

void QtDialogService::alertAndWait(QWidget* parent, const DialogRequest& request) {
    std::unique_ptr<QMessageBox> box(makeBox(parent, request));
    box->exec();  // the process ends after this alert: nothing else runs meanwhile
}

void ScriptedDialogs::ask(QWidget*, const DialogRequest& request, std::function<void(int)> done) {
    asked.push_back(request);
    if (holdAnswers) {
        waiting_.push_back(std::move(done));
        return;
    }
    int a = 0;
    if (!answers.empty()) {
        a = answers.front();
        answers.erase(answers.begin());
    }
    done(a);
}

void ScriptedDialogs::alertAndWait(QWidget*, const DialogRequest& request) { asked.push_back(request); }

bool ScriptedDialogs::answer(int button) {
    if (waiting_.empty()) return false;
    auto done = std::move(waiting_.front());
    waiting_.erase(waiting_.begin());
    done(button);
    return true;
}

}  // namespace ombry::ui
