#include "Ui/Settings/UploadsSettings.hpp"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "Ui/Bridge/RefreshGate.hpp"
#include "Ui/Settings/UploadsRules.hpp"
#include "Ui/Shell/Theme.hpp"
#include "Ui/Widgets/Switch.hpp"

namespace ombry::ui {

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }

void colour(QWidget* w, const QColor& c) {
    QPalette pal = w->palette();
    pal.setColor(QPalette::WindowText, c);
    w->setPalette(pal);
}

// A labelled switch row.
Switch* switchRow(const QString& label, const QString& objectName, QVBoxLayout* into, QWidget* parent) {
    auto* row = new QHBoxLayout();
    row->addWidget(PaneForm::plain(label, parent));
    row->addStretch(1);
    auto* s = new Switch(parent);
    s->setObjectName(objectName);
    s->setAccessibleName(label);
    row->addWidget(s);
    into->addLayout(row);
    return s;
}

QWidget* column(QWidget* parent, const QString& objectName) {
    auto* w = new QWidget(parent);
    w->setObjectName(objectName);
    auto* v = new QVBoxLayout(w);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(10);
    return w;
}

// A shared link: its caption, the link itself (selectable) and the extra view under it.
QWidget* makeShareRow(QWidget* parent, const QString& objectName, const QString& caption, QWidget* extra) {
    auto* row = new QWidget(parent);
    row->setObjectName(objectName);
    auto* v = new QVBoxLayout(row);
    v->setContentsMargins(0, 4, 0, 4);
    v->setSpacing(6);
    auto* c = PaneForm::plain(caption, row, QStringLiteral("shareCaption"));
    c->setWordWrap(true);
    QFont f = c->font();
    f.setPixelSize(11);
    c->setFont(f);
    auto* value = new ElidedLabel(row);
    value->setObjectName(QStringLiteral("shareValue"));
    value->setFont(theme::monoCaption());
    value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    colour(value, theme::secondaryText());
    v->addWidget(c);
    v->addWidget(value);
    extra->setParent(row);
    v->addWidget(extra);
    return row;
}

void setShareValue(QWidget* row, const std::string& value) {
    auto* label = row->findChild<ElidedLabel*>(QStringLiteral("shareValue"));
    if (label->fullText() != q(value)) label->setFullText(q(value));
}

}  // namespace

// The inbox status line: nothing, a plain dimmed text, or the check-in warning.
struct UploadsSettings::StatusRow {
    static QWidget* make(QWidget* parent, const QString& objectName) {
        auto* w = new QWidget(parent);
        w->setObjectName(objectName);
        auto* v = new QVBoxLayout(w);
        v->setContentsMargins(0, 0, 0, 0);
        auto* plainText = PaneForm::note({}, w, QStringLiteral("statusText"));
        auto* warn = PaneForm::warning({}, w, QStringLiteral("statusWarning"), false);
        v->addWidget(plainText);
        v->addWidget(warn);
        return w;
    }
};

UploadsSettings::UploadsSettings(ViewContext& context, QWidget* parent) : PaneForm(parent), state_(context.state) {
    setObjectName(QStringLiteral("uploadsPane"));

    // Media Upload.
    auto* media = addSection(QStringLiteral("mediaUpload"), QStringLiteral("Media Upload"));
    uploadSwitch_ = switchRow(QStringLiteral("Allow media uploads"), QStringLiteral("allowMediaUploads"), media, content());
    uploadRows_ = column(content(), QStringLiteral("mediaUploadRows"));
    auto* uploadRows = static_cast<QVBoxLayout*>(uploadRows_->layout());
    auto* uploadExtra = new QWidget(uploadRows_);
    auto* buttons = new QHBoxLayout(uploadExtra);
    buttons->setContentsMargins(0, 0, 0, 0);
    buttons->setSpacing(8);
    auto* copyUpload = smallButton(QStringLiteral("Copy Link"), QStringLiteral("copyUploadLink"), uploadExtra);
    copyUpload->setAccessibleName(QStringLiteral("Copy upload link"));
    auto* regenerate = smallButton(QStringLiteral("Regenerate Link"), QStringLiteral("regenerateUploadLink"), uploadExtra);
    buttons->addWidget(copyUpload);
    buttons->addWidget(regenerate);
    buttons->addStretch(1);
    uploadShare_ = makeShareRow(uploadRows_, QStringLiteral("uploadShare"), uploads::uploadCaption(), uploadExtra);
    uploadRows->addWidget(uploadShare_);
    noAddress_ = note(uploads::noUploadAddress(), uploadRows_, QStringLiteral("noUploadAddress"));
    uploadRows->addWidget(noAddress_);
    uploadRows->addWidget(note(uploads::uploadNote(), uploadRows_, QStringLiteral("uploadNote")));
    media->addWidget(uploadRows_);

    connect(uploadSwitch_, &Switch::toggled, this, [this](bool on) {
        if (on == state_.settings().mediaUploadEnabled) return;
        state_.setSettings(uploads::withUploadEnabled(state_.settings(), on));
    });
    connect(copyUpload, &QPushButton::clicked, this, [this] {
        if (auto link = uploads::uploadURL(state_.settings(), state_.controlServerInfo()))
            state_.clipboard().clearAndSet(plainTextType, *link);
    });
    connect(regenerate, &QPushButton::clicked, this, [this] {
        AppSettings s = state_.settings();
        s.mediaUploadToken = AppSettings::makeUploadToken();
        state_.setSettings(s);
    });

    // Internet Upload.
    auto* cloud = addSection(QStringLiteral("internetUpload"), QStringLiteral("Internet Upload"));
    cloudSwitch_ = switchRow(QStringLiteral("Uploads from anywhere"), QStringLiteral("uploadsFromAnywhere"), cloud, content());
    cloudRows_ = column(content(), QStringLiteral("internetUploadRows"));
    auto* cloudRows = static_cast<QVBoxLayout*>(cloudRows_->layout());

    inbox_ = column(cloudRows_, QStringLiteral("inbox"));
    auto* inboxRows = static_cast<QVBoxLayout*>(inbox_->layout());
    auto* inboxExtra = new QWidget(inbox_);
    auto* inboxExtraRows = new QVBoxLayout(inboxExtra);
    inboxExtraRows->setContentsMargins(0, 0, 0, 0);
    inboxExtraRows->setSpacing(6);
    auto* copyInbox = smallButton(QStringLiteral("Copy Link"), QStringLiteral("copyInboxLink"), inboxExtra);
    copyInbox->setAccessibleName(QStringLiteral("Copy inbox link"));
    inboxExtraRows->addWidget(copyInbox, 0, Qt::AlignLeft);
    inboxStatus_ = StatusRow::make(inboxExtra, QStringLiteral("inboxStatus"));
    inboxExtraRows->addWidget(inboxStatus_);
    inboxShare_ = makeShareRow(inbox_, QStringLiteral("inboxShare"), uploads::inboxCaption(), inboxExtra);
    inboxRows->addWidget(inboxShare_);
    auto* passwordRow = new QHBoxLayout();
    passwordRow->addWidget(plain(QStringLiteral("Upload password"), inbox_));
    passwordRow->addSpacing(12);
    password_ = new QLineEdit(inbox_);
    password_->setObjectName(QStringLiteral("uploadPassword"));
    password_->setAccessibleName(QStringLiteral("Upload password"));
    passwordRow->addWidget(password_, 1);
    inboxRows->addLayout(passwordRow);
    passwordWarning_ = warning(uploads::passwordWarning(), inbox_, QStringLiteral("passwordWarning"), true);
    inboxRows->addWidget(passwordWarning_);
    inboxRows->addWidget(note(uploads::passwordNote(), inbox_, QStringLiteral("passwordNote")));
    cloudRows->addWidget(inbox_);

    settingUp_ = column(cloudRows_, QStringLiteral("settingUp"));
    auto* settingUpRows = static_cast<QVBoxLayout*>(settingUp_->layout());
    auto* busyRow = new QHBoxLayout();
    busyRow->setSpacing(8);
    busy_ = new QProgressBar(settingUp_);
    busy_->setObjectName(QStringLiteral("settingUpBusy"));
    busy_->setAccessibleName(uploads::settingUp());
    busy_->setRange(0, 0);
    busy_->setTextVisible(false);
    busy_->setFixedSize(60, 6);
    busyRow->addWidget(busy_);
    auto* settingUpText = note(uploads::settingUp(), settingUp_, QStringLiteral("settingUpText"));
    busyRow->addWidget(settingUpText, 1);
    settingUpRows->addLayout(busyRow);
    setupStatus_ = StatusRow::make(settingUp_, QStringLiteral("setupStatus"));
    settingUpRows->addWidget(setupStatus_);
    cloudRows->addWidget(settingUp_);
    cloud->addWidget(cloudRows_);

    connect(cloudSwitch_, &Switch::toggled, this, [this](bool on) {
        if (on == state_.settings().cloudUploadEnabled) return;
        AppSettings s = state_.settings();
        s.cloudUploadEnabled = on;
        state_.setSettings(s);
    });
    connect(copyInbox, &QPushButton::clicked, this, [this] {
        if (auto inbox = state_.cloudInbox()) state_.clipboard().clearAndSet(plainTextType, uploads::inboxLink(*inbox));
    });
    // The warning follows the typing; the password is stored once editing ends, trimmed, so that a space
    // typed inside it stays and the inbox is not sent every half-typed password.
    connect(password_, &QLineEdit::textEdited, this,
            [this](const QString& text) { passwordWarning_->setVisible(uploads::passwordTooShort(uploads::storedPassword(text))); });
    connect(password_, &QLineEdit::editingFinished, this, [this] { commitPassword(); });

    gate_ = new RefreshGate(this, [this] { refresh(); });
    gate_->watch(context.stateSignals, {Aspect::settings, Aspect::controlServerInfo, Aspect::cloudStatus});
    refresh();
}

void UploadsSettings::commitPassword() {
    const auto stored = uploads::storedPassword(password_->text());
    if (stored != state_.settings().cloudUploadPassword) {
        AppSettings s = state_.settings();
        s.cloudUploadPassword = stored;
        state_.setSettings(s);
    }
    password_->setText(q(stored.value_or("")));
    passwordWarning_->setVisible(uploads::passwordTooShort(stored));
}

void UploadsSettings::setStatus(QWidget* row, const std::optional<CloudSyncStatus>& status) {
    const auto line = uploads::statusLine(status, uploads::shortTime);
    auto* text = row->findChild<QLabel*>(QStringLiteral("statusText"));
    auto* warn = row->findChild<QWidget*>(QStringLiteral("statusWarning"));
    text->setText(line.text);
    text->setVisible(line.kind == uploads::StatusLine::Kind::plain);
    setWarningText(warn, line.text);
    warn->setVisible(line.kind == uploads::StatusLine::Kind::warning);
    row->setVisible(line.kind != uploads::StatusLine::Kind::none);
}

void UploadsSettings::refresh() {
    const AppSettings& s = state_.settings();
    {
        const QSignalBlocker block(uploadSwitch_);
        uploadSwitch_->setChecked(s.mediaUploadEnabled);
    }
    uploadRows_->setVisible(s.mediaUploadEnabled);
    const auto link = uploads::uploadURL(s, state_.controlServerInfo());
    setShareValue(uploadShare_, link.value_or(""));
    uploadShare_->setVisible(bool(link));
    noAddress_->setVisible(!link);

    {
        const QSignalBlocker block(cloudSwitch_);
        cloudSwitch_->setChecked(s.cloudUploadEnabled);
    }
    cloudRows_->setVisible(s.cloudUploadEnabled);
    const auto inbox = state_.cloudInbox();
    inbox_->setVisible(bool(inbox));
    settingUp_->setVisible(!inbox);
    if (inbox) setShareValue(inboxShare_, uploads::inboxLink(*inbox));
    setStatus(inboxStatus_, state_.cloudStatus());
    setStatus(setupStatus_, state_.cloudStatus());
    // A password being typed stays as typed until its editing ends.
    if (!password_->hasFocus()) {
        password_->setText(q(s.cloudUploadPassword.value_or("")));
        passwordWarning_->setVisible(uploads::passwordTooShort(s.cloudUploadPassword));
    }
}

}  // namespace ombry::ui
