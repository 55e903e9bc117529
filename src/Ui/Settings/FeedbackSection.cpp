#include "Ui/Settings/FeedbackSection.hpp"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "Engine/Model/Issues.hpp"
#include "Platform/Paths.hpp"
#include "Ui/Settings/FeedbackRules.hpp"
#include "Ui/Settings/SettingsForm.hpp"
#include "Ui/Shell/Theme.hpp"
#include "Ui/Widgets/Symbols.hpp"

namespace ombry::ui {

namespace {

using theme::sized;

}  // namespace

FeedbackSection::FeedbackSection(AppState& state, QWidget* parent) : QWidget(parent), state_(state) {
    setObjectName(QStringLiteral("feedbackSection"));
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* section = new SettingsGroup(QStringLiteral("Feedback"), this);
    section->setObjectName(QStringLiteral("feedbackGroup"));
    outer->addWidget(section);

    kind_ = new QComboBox(section);
    kind_->setObjectName(QStringLiteral("feedbackType"));
    kind_->setAccessibleName(QStringLiteral("Type"));
    kind_->addItem(QStringLiteral("Bug Report"), true);
    kind_->addItem(QStringLiteral("Feature Request"), false);
    section->addRow(QStringLiteral("Type"), kind_);

    subject_ = new QLineEdit(section);
    subject_->setObjectName(QStringLiteral("feedbackSubject"));
    subject_->setPlaceholderText(QStringLiteral("Subject"));
    subject_->setAccessibleName(QStringLiteral("Subject"));
    section->addWidget(subject_);

    message_ = new QPlainTextEdit(section);
    message_->setObjectName(QStringLiteral("feedbackMessage"));
    message_->setAccessibleName(QStringLiteral("Message"));
    message_->setMinimumHeight(80);
    message_->setTabChangesFocus(true);
    section->addWidget(message_);

    email_ = new QLineEdit(section);
    email_->setObjectName(QStringLiteral("feedbackEmail"));
    email_->setPlaceholderText(QStringLiteral("Email for replies (optional)"));
    email_->setAccessibleName(QStringLiteral("Email for replies (optional)"));
    section->addWidget(email_);

    auto* sendRowHost = new QWidget(section);
    auto* sendRow = new QHBoxLayout(sendRowHost);
    sendRow->setContentsMargins(0, 0, 0, 0);
    send_ = new QPushButton(QStringLiteral("Send"), section);
    send_->setObjectName(QStringLiteral("feedbackSend"));
    send_->setAccessibleName(QStringLiteral("Send feedback"));
    sendRow->addWidget(send_);
    spinner_ = new QProgressBar(section);
    spinner_->setObjectName(QStringLiteral("feedbackSending"));
    spinner_->setAccessibleName(QStringLiteral("Sending"));
    spinner_->setRange(0, 0);
    spinner_->setTextVisible(false);
    spinner_->setFixedSize(40, 6);
    spinner_->hide();
    sendRow->addWidget(spinner_);
    status_ = new QWidget(section);
    status_->setObjectName(QStringLiteral("feedbackStatus"));
    auto* statusRow = new QHBoxLayout(status_);
    statusRow->setContentsMargins(0, 0, 0, 0);
    statusRow->setSpacing(5);
    statusIcon_ = new QLabel(status_);
    statusText_ = new QLabel(status_);
    statusText_->setObjectName(QStringLiteral("feedbackStatusText"));
    statusText_->setTextFormat(Qt::PlainText);
    statusText_->setWordWrap(true);
    statusText_->setFont(sized(statusText_->font(), 11));
    statusRow->addWidget(statusIcon_, 0, Qt::AlignTop);
    statusRow->addWidget(statusText_, 1);
    status_->hide();
    sendRow->addWidget(status_, 1);
    section->addWidget(sendRowHost);
    section->addNote(feedback::note())->setObjectName(QStringLiteral("feedbackNote"));

    connect(send_, &QPushButton::clicked, this, [this] { send(); });
    connect(subject_, &QLineEdit::textChanged, this, [this] { updateControls(); });
    connect(message_, &QPlainTextEdit::textChanged, this, [this] { updateControls(); });
    updateControls();
}

bool FeedbackSection::canSend() const {
    return feedback::canSend(subject_->text(), message_->toPlainText(), sending_);
}

void FeedbackSection::updateControls() {
    send_->setEnabled(canSend());
    // Nothing typed while a report is on its way can be lost when it succeeds.
    for (QWidget* w : {static_cast<QWidget*>(kind_), static_cast<QWidget*>(subject_), static_cast<QWidget*>(message_),
                       static_cast<QWidget*>(email_)})
        w->setEnabled(!sending_);
    spinner_->setVisible(sending_);
}

void FeedbackSection::showStatus(const std::optional<std::pair<bool, QString>>& status) {
    status_->setVisible(bool(status));
    if (!status) return;
    const QColor c = status->first ? QColor(48, 209, 88) : theme::orange();
    statusIcon_->setPixmap(symbols::pixmap(status->first ? "checkmark.circle" : "exclamationmark.triangle", 12, c));
    QPalette pal = statusText_->palette();
    pal.setColor(QPalette::WindowText, c);
    statusText_->setPalette(pal);
    statusText_->setText(status->second);
}

void FeedbackSection::send() {
    if (!canSend()) return;
    const auto client = ServiceClient::make(state_.settings().serviceBaseURL);
    if (!client) {
        showStatus(std::pair(false, feedback::noServiceText()));
        return;
    }
    sending_ = true;
    showStatus(std::nullopt);
    updateControls();
    feedback::Report report;
    report.isBug = kind_->currentData().toBool();
    report.subject = subject_->text().toStdString();
    report.message = message_->toPlainText().toStdString();
    report.email = email_->text().toStdString();
    report.issueDigest = IssueLog::shared().codeDigest();
    report.appVersion = feedback::appVersion();
    report.os = paths::osDescription();
    report.machineName = AppState::hostName().value_or("");
    QPointer<FeedbackSection> self(this);
    state_.postToService(*client, feedback::path, feedback::body(report), [self](ServiceResult result) {
        if (!self) return;
        const auto outcome = feedback::outcomeOf(result);
        self->sending_ = false;
        if (outcome.sent) {
            self->subject_->clear();
            self->message_->clear();
            self->email_->clear();
        }
        self->showStatus(std::pair(outcome.sent, outcome.text));
        self->updateControls();
    });
}

}  // namespace ombry::ui
