#include "Ui/Settings/GeneralSettings.hpp"

#include "Ui/Settings/FeedbackSection.hpp"

#include <QButtonGroup>
#include <QDateTime>
#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "Engine/Library/Store.hpp"
#include "Ui/Bridge/DesktopSeams.hpp"
#include "Ui/Bridge/Preferences.hpp"
#include "Ui/Bridge/RefreshGate.hpp"
#include "Ui/Settings/SettingsForm.hpp"
#include "Ui/Settings/SettingsRules.hpp"
#include "Ui/Shell/Theme.hpp"

namespace ombry::ui {

namespace {

using theme::colourText;

QLabel* valueLabel(const QString& text) {
    auto* l = new QLabel(text);
    l->setTextFormat(Qt::PlainText);
    l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    colourText(l, theme::secondaryText());
    return l;
}

QPushButton* button(const QString& text, const char* objectName, QWidget* parent) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QString::fromLatin1(objectName));
    b->setAccessibleName(text);
    b->setFocusPolicy(Qt::TabFocus);
    return b;
}

}  // namespace

RecentIssuesSection::RecentIssuesSection(AppState& state, StateSignals& stateSignals, QWidget* parent)
    : QWidget(parent), state_(state) {
    setObjectName(QStringLiteral("recentIssues"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* group = new SettingsGroup(QStringLiteral("Recent Issues"), this);
    layout->addWidget(group);
    box_ = new QWidget(group);
    rows_ = new QVBoxLayout(box_);
    rows_->setContentsMargins(0, 0, 0, 0);
    rows_->setSpacing(8);
    group->addWidget(box_);
    gate_ = new RefreshGate(this, [this] { refresh(); });
    gate_->watch(stateSignals, {Aspect::issues});
    refresh();
}

void RecentIssuesSection::refresh() {
    // At most 20 rows: rebuilt whole on each change.
    while (QLayoutItem* item = rows_->takeAt(0)) {
        if (QWidget* w = item->widget()) w->deleteLater();
        delete item;
    }
    const auto& recent = IssueLog::shared().recent();
    if (recent.empty()) {
        auto* empty = noteLabel(QStringLiteral("Nothing has gone wrong this session."), box_);
        empty->setObjectName(QStringLiteral("noIssues"));
        rows_->addWidget(empty);
        return;
    }
    const QLocale locale;
    for (const Issue& issue : recent) {
        auto* row = new QWidget(box_);
        row->setObjectName(QStringLiteral("issueRow"));
        auto* v = new QVBoxLayout(row);
        v->setContentsMargins(0, 2, 0, 2);
        v->setSpacing(2);
        auto* line = new QHBoxLayout();
        line->setSpacing(6);
        auto* code = new QLabel(QString::fromStdString(rawValue(issue.code)), row);
        code->setObjectName(QStringLiteral("issueCode"));
        code->setFont(theme::monoCaption());
        colourText(code, theme::secondaryText());
        line->addWidget(code);
        auto* title = new QLabel(QString::fromStdString(issue.title()), row);
        title->setObjectName(QStringLiteral("issueTitle"));
        title->setTextFormat(Qt::PlainText);
        line->addWidget(title);
        if (const QString badge = settings::countBadge(issue.count); !badge.isEmpty()) {
            auto* count = new QLabel(badge, row);
            count->setObjectName(QStringLiteral("issueCount"));
            colourText(count, theme::secondaryText());
            line->addWidget(count);
        }
        line->addStretch(1);
        const QDateTime at = QDateTime::fromMSecsSinceEpoch(std::int64_t(issue.at));
        auto* time = new QLabel(locale.toString(at.time(), QLocale::ShortFormat), row);
        time->setObjectName(QStringLiteral("issueTime"));
        colourText(time, theme::tertiaryText());
        line->addWidget(time);
        v->addLayout(line);
        auto* message = noteLabel(QString::fromStdString(issue.message()), row);
        message->setObjectName(QStringLiteral("issueMessage"));
        message->setTextFormat(Qt::PlainText);
        v->addWidget(message);
        rows_->addWidget(row);
    }
    auto* buttons = new QWidget(box_);
    auto* h = new QHBoxLayout(buttons);
    h->setContentsMargins(0, 0, 0, 0);
    auto* copy = button(QStringLiteral("Copy All"), "copyIssues", buttons);
    auto* clear = button(QStringLiteral("Clear"), "clearIssues", buttons);
    h->addWidget(copy);
    h->addWidget(clear);
    h->addStretch(1);
    connect(copy, &QPushButton::clicked, this,
            [this] { state_.copyPlainText(settings::issuesCopyText(IssueLog::shared().recent())); });
    connect(clear, &QPushButton::clicked, this, [] { IssueLog::shared().clear(); });
    rows_->addWidget(buttons);
    rows_->addWidget(noteLabel(
        QStringLiteral("Kept for this session only, newest first. The codes go out with a bug report automatically."),
        box_));
}

GeneralSettings::GeneralSettings(SettingsContext& context, QWidget* parent) : QWidget(parent), context_(context) {
    setObjectName(paneObjectName(SettingsSection::general));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    form_ = new SettingsForm(this);
    layout->addWidget(form_);

    // Appearance: the board's tile size, stored as the user default the board reads.
    SettingsGroup* appearance = form_->addSection(QStringLiteral("Appearance"), "appearanceSection");
    auto* segments = new QWidget;
    segments->setObjectName(QStringLiteral("mediaTiles"));
    auto* seg = new QHBoxLayout(segments);
    seg->setContentsMargins(0, 0, 0, 0);
    seg->setSpacing(0);
    // Segments: the chosen one filled with the accent colour.
    segments->setStyleSheet(QStringLiteral(
        "QPushButton { background: rgba(255,255,255,0.07); border: 1px solid rgba(255,255,255,0.10);"
        " padding: 3px 14px; }"
        "QPushButton:checked { background: rgb(10,132,255); color: white; border-color: rgb(10,132,255); }"));
    tiles_ = new QButtonGroup(segments);
    tiles_->setExclusive(true);
    for (TileSize size : allTileSizes) {
        QString label = QString::fromLatin1(rawValue(size).data(), qsizetype(rawValue(size).size()));
        label[0] = label[0].toUpper();
        auto* b = new QPushButton(label, segments);
        b->setObjectName(QStringLiteral("tile") + label);
        b->setAccessibleName(QStringLiteral("Media tiles: ") + label);
        b->setCheckable(true);
        b->setFocusPolicy(Qt::TabFocus);
        tiles_->addButton(b, int(size));
        seg->addWidget(b);
    }
    connect(tiles_, &QButtonGroup::idClicked, this,
            [this](int id) { context_.preferences.setTileSize(TileSize(id)); });
    appearance->addRow(QStringLiteral("Media tiles"), segments);

    // About.
    SettingsGroup* about = form_->addSection(QStringLiteral("About"), "aboutSection");
    about->addRow(QStringLiteral("Application"), valueLabel(QStringLiteral("Ombry")));
    auto* version = valueLabel(settings::appVersionString());
    version->setObjectName(QStringLiteral("versionText"));
    about->addRow(QStringLiteral("Version"), version);
    // Only an updater that installs by itself gives this switch a meaning.
    autoInstall_ = new Switch;
    autoInstall_->setObjectName(QStringLiteral("autoInstallUpdates"));
    connect(autoInstall_, &QAbstractButton::clicked, this, [this](bool on) {
        if (context_.updates) context_.updates->setAutomaticallyInstallsUpdates(on);
    });
    autoInstallRow_ = about->addRow(QStringLiteral("Automatically install updates"), autoInstall_);
    beta_ = new Switch;
    beta_->setObjectName(QStringLiteral("receiveBetaUpdates"));
    connect(beta_, &QAbstractButton::clicked, this, [this](bool on) { context_.preferences.setReceiveBetaUpdates(on); });
    about->addRow(QStringLiteral("Receive beta updates"), beta_);
    check_ = button(QStringLiteral("Check for Updates\u2026"), "checkForUpdates", nullptr);
    connect(check_, &QPushButton::clicked, this, [this] {
        if (context_.updates && context_.updates->canCheckForUpdates()) context_.updates->checkForUpdates();
    });
    about->addButton(check_);

    // Data: the support folder.
    SettingsGroup* data = form_->addSection(QStringLiteral("Data"), "dataSection");
    auto* reveal = button(QStringLiteral("Show in File Manager"), "revealSupportFolder", nullptr);
    connect(reveal, &QPushButton::clicked, this, [this] {
        if (context_.reveal) context_.reveal->reveal({Store::dir()});
    });
    data->addButton(reveal);
    auto* where = data->addNote(settings::dataFolderNote(QString::fromStdString(Store::dir().string()), QDir::homePath()));
    where->setObjectName(QStringLiteral("dataFolderNote"));

    form_->addWidget(new RecentIssuesSection(context_.state, context_.stateSignals));
    form_->addWidget(new FeedbackSection(context_.state));

    connect(&context_.preferences, &Preferences::changed, this, [this] { refresh(); });
    if (context_.updates) connect(context_.updates, &UpdateControls::changed, this, [this] { refresh(); });
    refresh();
}

void GeneralSettings::refresh() {
    {
        const QSignalBlocker block(tiles_);
        tiles_->button(int(context_.preferences.tileSize()))->setChecked(true);
    }
    const QSignalBlocker b1(beta_), b2(autoInstall_);
    beta_->setChecked(context_.preferences.receiveBetaUpdates());
    const bool installs = context_.updates && context_.updates->canInstallUpdates();
    autoInstallRow_->setVisible(installs);
    autoInstall_->setChecked(installs && context_.updates->automaticallyInstallsUpdates());
    check_->setEnabled(context_.updates && context_.updates->canCheckForUpdates());
}

}  // namespace ombry::ui
