#include "Ui/Settings/UploadsSettings.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "Ui/Bridge/RefreshGate.hpp"
#include "Ui/Settings/QRShareRow.hpp"
#include "Ui/Settings/SettingsForm.hpp"
#include "Ui/Settings/UploadsRules.hpp"
#include "Ui/Shell/Theme.hpp"
#include "Ui/Widgets/Switch.hpp"
#include "Ui/Widgets/Symbols.hpp"

namespace ombry::ui {

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }

using theme::sized;

QPushButton* smallButton(const QString& text, const char* objectName, QWidget* parent = nullptr) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QString::fromLatin1(objectName));
    b->setAccessibleName(text);
    b->setFont(sized(b->font(), 11));
    return b;
}

// Rows that show and hide together.
QWidget* column(const char* objectName, QVBoxLayout*& rows) {
    auto* w = new QWidget;
    w->setObjectName(QString::fromLatin1(objectName));
    rows = new QVBoxLayout(w);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(8);
    return w;
}

QLabel* note(const QString& text, QWidget* parent, const char* objectName) {
    auto* l = noteLabel(text, parent);
    l->setObjectName(QString::fromLatin1(objectName));
    return l;
}

// The triangle and its text in orange; `caption` sets it in the caption size.
QWidget* warning(const QString& text, const char* objectName, bool caption) {
    auto* w = new QWidget;
    w->setObjectName(QString::fromLatin1(objectName));
    auto* h = new QHBoxLayout(w);
    h->setContentsMargins(0, 0, 0, 0);
    h->setSpacing(5);
    auto* icon = new QLabel(w);
    icon->setPixmap(symbols::pixmap("exclamationmark.triangle", caption ? 12 : 14, theme::orange()));
    auto* label = new QLabel(text, w);
    label->setObjectName(QString::fromLatin1(objectName) + QStringLiteral("Text"));
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    if (caption) label->setFont(sized(label->font(), 11));
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, theme::orange());
    label->setPalette(pal);
    h->addWidget(icon, 0, Qt::AlignTop);
    h->addWidget(label, 1);
    return w;
}

// The inbox status line: nothing, a plain dimmed text, or the check-in warning.
QWidget* statusRow(const char* objectName) {
    auto* w = new QWidget;
    w->setObjectName(QString::fromLatin1(objectName));
    auto* v = new QVBoxLayout(w);
    v->setContentsMargins(0, 0, 0, 0);
    v->addWidget(note({}, w, "statusText"));
    auto* warn = warning({}, "statusWarning", false);
    warn->setParent(w);
    v->addWidget(warn);
    return w;
}

void setStatus(QWidget* row, const std::optional<CloudSyncStatus>& status) {
    const auto line = uploads::statusLine(status, uploads::shortTime);
    auto* text = row->findChild<QLabel*>(QStringLiteral("statusText"));
    auto* warn = row->findChild<QWidget*>(QStringLiteral("statusWarning"));
    text->setText(line.text);
    text->setVisible(line.kind == uploads::StatusLine::Kind::plain);
    warn->findChild<QLabel*>(QStringLiteral("statusWarningText"))->setText(line.text);
    warn->setVisible(line.kind == uploads::StatusLine::Kind::warning);
    row->setVisible(line.kind != uploads::StatusLine::Kind::none);
}

}  // namespace

UploadsSettings::UploadsSettings(SettingsContext& context, QWidget* parent) : QWidget(parent), state_(context.state) {
    setObjectName(paneObjectName(SettingsSection::uploads));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    form_ = new SettingsForm(this);
    layout->addWidget(form_);

    // Media Upload.
    SettingsGroup* media = form_->addSection(QStringLiteral("Media Upload"), "mediaUploadSection");
    uploadSwitch_ = new Switch;
    uploadSwitch_->setObjectName(QStringLiteral("allowMediaUploads"));
    media->addRow(QStringLiteral("Allow media uploads"), uploadSwitch_);
    QVBoxLayout* uploadRows = nullptr;
    uploadRows_ = column("mediaUploadRows", uploadRows);
    auto* uploadExtra = new QWidget;
    auto* buttons = new QHBoxLayout(uploadExtra);
    buttons->setContentsMargins(0, 0, 0, 0);
    buttons->setSpacing(8);
    auto* copyUpload = smallButton(QStringLiteral("Copy Link"), "copyUploadLink", uploadExtra);
    copyUpload->setAccessibleName(QStringLiteral("Copy upload link"));
    auto* regenerate = smallButton(QStringLiteral("Regenerate Link"), "regenerateUploadLink", uploadExtra);
    buttons->addWidget(copyUpload);
    buttons->addWidget(regenerate);
    buttons->addStretch(1);
    uploadShare_ = new QRShareRow({}, uploads::uploadCaption(), uploadExtra, uploadRows_);
    uploadShare_->setObjectName(QStringLiteral("uploadShare"));
    uploadRows->addWidget(uploadShare_);
    noAddress_ = note(uploads::noUploadAddress(), uploadRows_, "noUploadAddress");
    uploadRows->addWidget(noAddress_);
    uploadRows->addWidget(note(uploads::uploadNote(), uploadRows_, "uploadNote"));
    media->addWidget(uploadRows_);

    connect(uploadSwitch_, &Switch::clicked, this, [this](bool on) {
        if (on != state_.settings().mediaUploadEnabled) state_.setSettings(uploads::withUploadEnabled(state_.settings(), on));
    });
    connect(copyUpload, &QPushButton::clicked, this, [this] {
        if (auto link = uploads::uploadURL(state_.settings(), state_.controlServerInfo()))
            state_.clipboard().clearAndSet(plainTextType, *link);
    });
    connect(regenerate, &QPushButton::clicked, this,
            [this] { writeSetting(state_, &AppSettings::mediaUploadToken, std::optional(AppSettings::makeUploadToken())); });

    // Internet Upload.
    SettingsGroup* cloud = form_->addSection(QStringLiteral("Internet Upload"), "internetUploadSection");
    auto* cloudSwitch = settingsToggle(state_, context.stateSignals, &AppSettings::cloudUploadEnabled);
    cloudSwitch->setObjectName(QStringLiteral("uploadsFromAnywhere"));
    cloud->addRow(QStringLiteral("Uploads from anywhere"), cloudSwitch);
    QVBoxLayout* cloudRows = nullptr;
    cloudRows_ = column("internetUploadRows", cloudRows);

    QVBoxLayout* inboxRows = nullptr;
    inbox_ = column("inbox", inboxRows);
    auto* inboxExtra = new QWidget;
    auto* inboxExtraRows = new QVBoxLayout(inboxExtra);
    inboxExtraRows->setContentsMargins(0, 0, 0, 0);
    inboxExtraRows->setSpacing(6);
    auto* copyInbox = smallButton(QStringLiteral("Copy Link"), "copyInboxLink", inboxExtra);
    copyInbox->setAccessibleName(QStringLiteral("Copy inbox link"));
    inboxExtraRows->addWidget(copyInbox, 0, Qt::AlignLeft);
    inboxStatus_ = statusRow("inboxStatus");
    inboxExtraRows->addWidget(inboxStatus_);
    inboxShare_ = new QRShareRow({}, uploads::inboxCaption(), inboxExtra, inbox_);
    inboxShare_->setObjectName(QStringLiteral("inboxShare"));
    inboxRows->addWidget(inboxShare_);
    auto* passwordRow = new QHBoxLayout();
    auto* passwordLabel = new QLabel(QStringLiteral("Upload password"), inbox_);
    passwordRow->addWidget(passwordLabel);
    passwordRow->addSpacing(12);
    password_ = new QLineEdit(inbox_);
    password_->setObjectName(QStringLiteral("uploadPassword"));
    password_->setAccessibleName(QStringLiteral("Upload password"));
    passwordLabel->setBuddy(password_);
    passwordRow->addWidget(password_, 1);
    inboxRows->addLayout(passwordRow);
    passwordWarning_ = warning(uploads::passwordWarning(), "passwordWarning", true);
    inboxRows->addWidget(passwordWarning_);
    inboxRows->addWidget(note(uploads::passwordNote(), inbox_, "passwordNote"));
    cloudRows->addWidget(inbox_);

    QVBoxLayout* settingUpRows = nullptr;
    settingUp_ = column("settingUp", settingUpRows);
    auto* busyRow = new QHBoxLayout();
    busyRow->setSpacing(8);
    auto* busy = new QProgressBar(settingUp_);
    busy->setObjectName(QStringLiteral("settingUpBusy"));
    busy->setAccessibleName(uploads::settingUp());
    busy->setRange(0, 0);
    busy->setTextVisible(false);
    busy->setFixedSize(60, 6);
    busyRow->addWidget(busy);
    auto* settingUpText = new QLabel(uploads::settingUp(), settingUp_);
    settingUpText->setObjectName(QStringLiteral("settingUpText"));
    QPalette pal = settingUpText->palette();
    pal.setColor(QPalette::WindowText, theme::secondaryText());
    settingUpText->setPalette(pal);
    busyRow->addWidget(settingUpText, 1);
    settingUpRows->addLayout(busyRow);
    setupStatus_ = statusRow("setupStatus");
    settingUpRows->addWidget(setupStatus_);
    cloudRows->addWidget(settingUp_);
    cloud->addWidget(cloudRows_);

    connect(copyInbox, &QPushButton::clicked, this, [this] {
        if (auto inbox = state_.cloudInbox()) state_.clipboard().clearAndSet(plainTextType, uploads::inboxLink(*inbox));
    });
    // The warning follows the typing; the password is stored once editing ends, trimmed, so that a space
    // typed inside it stays and the inbox is not sent every half-typed password.
    connect(password_, &QLineEdit::textEdited, this, [this](const QString& text) {
        passwordWarning_->setVisible(uploads::passwordTooShort(uploads::storedPassword(text)));
    });
    connect(password_, &QLineEdit::editingFinished, this, [this] { commitPassword(); });

    gate_ = new RefreshGate(this, [this] { refresh(); });
    gate_->watch(context.stateSignals, {Aspect::settings, Aspect::controlServerInfo, Aspect::cloudStatus});
    refresh();
}

void UploadsSettings::commitPassword() {
    const auto stored = uploads::storedPassword(password_->text());
    if (stored != state_.settings().cloudUploadPassword) writeSetting(state_, &AppSettings::cloudUploadPassword, stored);
    password_->setText(q(stored.value_or("")));
    passwordWarning_->setVisible(uploads::passwordTooShort(stored));
}

void UploadsSettings::refresh() {
    const AppSettings& s = state_.settings();
    {
        const QSignalBlocker block(uploadSwitch_);
        uploadSwitch_->setChecked(s.mediaUploadEnabled);
    }
    uploadRows_->setVisible(s.mediaUploadEnabled);
    const auto link = uploads::uploadURL(s, state_.controlServerInfo());
    if (link) uploadShare_->setValue(q(*link));
    uploadShare_->setVisible(bool(link));
    noAddress_->setVisible(!link);

    cloudRows_->setVisible(s.cloudUploadEnabled);
    const auto inbox = state_.cloudInbox();
    inbox_->setVisible(bool(inbox));
    settingUp_->setVisible(!inbox);
    if (inbox) inboxShare_->setValue(q(uploads::inboxLink(*inbox)));
    setStatus(inboxStatus_, state_.cloudStatus());
    setStatus(setupStatus_, state_.cloudStatus());
    // A password being typed stays as typed until its editing ends.
    if (!password_->hasFocus()) {
        password_->setText(q(s.cloudUploadPassword.value_or("")));
        passwordWarning_->setVisible(uploads::passwordTooShort(s.cloudUploadPassword));
    }
}

}  // namespace ombry::ui
