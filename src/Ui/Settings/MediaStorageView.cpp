#include "Ui/Settings/MediaStorageView.hpp"

#include <QHBoxLayout>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include <cstdlib>
#include <vector>

#include "Engine/Library/Store.hpp"
#include "Ui/Bridge/DesktopSeams.hpp"
#include "Ui/Bridge/DialogService.hpp"
#include "Ui/Bridge/RefreshGate.hpp"
#include "Ui/Settings/MediaStorageRules.hpp"
#include "Ui/Settings/SettingsForm.hpp"
#include "Ui/Widgets/ElidedLabel.hpp"
#include "Ui/Shell/Theme.hpp"
#include "Ui/Widgets/Symbols.hpp"

namespace ombry::ui {

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }

std::filesystem::path home() {
    const char* h = std::getenv("HOME");
    return h ? std::filesystem::path(h) : std::filesystem::path();
}

using theme::sized;

using theme::colourText;

QPushButton* smallButton(const QString& text, const char* objectName, QWidget* parent, bool destructive = false) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QString::fromLatin1(objectName));
    b->setAccessibleName(text);
    b->setFont(sized(b->font(), 11));
    if (destructive) {
        QPalette pal = b->palette();
        pal.setColor(QPalette::ButtonText, theme::live());
        b->setPalette(pal);
    }
    return b;
}

QLabel* dimText(const QString& text, QWidget* parent, const char* objectName) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(QString::fromLatin1(objectName));
    l->setTextFormat(Qt::PlainText);
    colourText(l, theme::secondaryText());
    return l;
}

// Holds a list's rows inside a section.
QVBoxLayout* listHost(SettingsGroup* group, const char* objectName) {
    auto* host = new QWidget;
    host->setObjectName(QString::fromLatin1(objectName));
    auto* v = new QVBoxLayout(host);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(8);
    group->addWidget(host);
    return v;
}

// The controls under w in the order its layouts show them: top to bottom, left to right.
void controlsInLayoutOrder(QWidget* w, std::vector<QWidget*>& out);
void controlsInLayoutOrder(QLayout* layout, std::vector<QWidget*>& out) {
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem* item = layout->itemAt(i);
        if (QWidget* c = item->widget()) controlsInLayoutOrder(c, out);
        else if (QLayout* inner = item->layout()) controlsInLayoutOrder(inner, out);
    }
}
void controlsInLayoutOrder(QWidget* w, std::vector<QWidget*>& out) {
    if ((w->focusPolicy() & Qt::TabFocus) && !w->focusProxy()) {
        out.push_back(w);
        return;
    }
    if (QLayout* layout = w->layout()) controlsInLayoutOrder(layout, out);
}

// Rows made after the form join the end of the window's tab chain; put every control back in the order
// the form shows them.
void chainInLayoutOrder(QWidget* content) {
    std::vector<QWidget*> controls;
    controlsInLayoutOrder(content, controls);
    for (std::size_t i = 1; i < controls.size(); ++i) QWidget::setTabOrder(controls[i - 1], controls[i]);
}

void clear(QLayout* layout) {
    while (QLayoutItem* item = layout->takeAt(0)) {
        // Later: the row's own button may be what is being answered.
        if (QWidget* w = item->widget()) {
            w->hide();
            w->setParent(nullptr);
            w->deleteLater();
        }
        delete item;
    }
}

// One managed file: its name, size, origin and users, and its two buttons.
QWidget* downloadedRow(const DownloadedMediaFile& file, QWidget* parent, std::function<void()> onReveal,
                       std::function<void()> onDelete) {
    auto* row = new QWidget(parent);
    row->setObjectName(QStringLiteral("downloadedRow"));
    row->setProperty("filename", q(file.filename));
    auto* h = new QHBoxLayout(row);
    h->setContentsMargins(0, 0, 0, 0);
    h->setSpacing(10);
    auto* text = new QVBoxLayout();
    text->setSpacing(2);
    auto* name = new ElidedLabel(row);
    name->setObjectName(QStringLiteral("filename"));
    name->setFont(sized(name->font(), 13));
    name->setFullText(q(file.filename));
    auto* detail = new QLabel(storage::detailLine(file), row);
    detail->setObjectName(QStringLiteral("detail"));
    detail->setTextFormat(Qt::PlainText);
    detail->setFont(sized(detail->font(), 11));
    colourText(detail, theme::secondaryText());
    text->addWidget(name);
    text->addWidget(detail);
    h->addLayout(text, 1);
    auto* reveal = smallButton(QStringLiteral("Reveal"), "reveal", row);
    reveal->setAccessibleName(QStringLiteral("Reveal %1").arg(q(file.filename)));
    auto* remove = smallButton(QStringLiteral("Delete"), "delete", row, true);
    remove->setAccessibleName(QStringLiteral("Delete %1").arg(q(file.filename)));
    h->addWidget(reveal);
    h->addWidget(remove);
    QObject::connect(reveal, &QPushButton::clicked, row, std::move(onReveal));
    QObject::connect(remove, &QPushButton::clicked, row, std::move(onDelete));
    return row;
}

// One referenced clip: name (with the offline badge), path and size, and its actions menu.
QWidget* referencedRow(const ReferencedMediaFile& ref, QWidget* parent, std::function<void()> onReveal,
                       std::function<void()> onRelink, std::function<void()> onRemove) {
    auto* row = new QWidget(parent);
    row->setObjectName(QStringLiteral("referencedRow"));
    row->setProperty("itemId", q(ref.itemId));
    auto* h = new QHBoxLayout(row);
    h->setContentsMargins(0, 0, 0, 0);
    h->setSpacing(10);
    auto* text = new QVBoxLayout();
    text->setSpacing(2);
    auto* top = new QHBoxLayout();
    top->setSpacing(6);
    auto* name = new ElidedLabel(row);
    name->setObjectName(QStringLiteral("name"));
    name->setFont(sized(name->font(), 13));
    name->setFullText(q(ref.name));
    top->addWidget(name, 1);
    if (ref.offline) {
        auto* badge = new QLabel(QStringLiteral("OFFLINE"), row);
        badge->setObjectName(QStringLiteral("offlineBadge"));
        badge->setFont(sized(badge->font(), 9, QFont::Bold));
        colourText(badge, theme::orange());
        top->addWidget(badge);
    }
    auto* path = new ElidedLabel(row);
    path->setObjectName(QStringLiteral("path"));
    path->setFont(sized(path->font(), 11));
    colourText(path, theme::secondaryText());
    path->setFullText(storage::tildePath(ref.path, home()));
    text->addLayout(top);
    text->addWidget(path);
    h->addLayout(text, 1);
    if (ref.size > 0) {
        auto* size = new QLabel(storage::formatBytes(ref.size), row);
        size->setObjectName(QStringLiteral("size"));
        size->setFont(sized(size->font(), 11));
        colourText(size, theme::secondaryText());
        h->addWidget(size);
    }
    auto* actions = new QToolButton(row);
    actions->setObjectName(QStringLiteral("fileActions"));
    actions->setAccessibleName(QStringLiteral("File actions"));
    actions->setToolTip(QStringLiteral("File actions"));
    actions->setIcon(symbols::icon("ellipsis.circle", 16, theme::secondaryText()));
    actions->setAutoRaise(true);
    actions->setPopupMode(QToolButton::InstantPopup);
    actions->setStyleSheet(QStringLiteral("QToolButton::menu-indicator { image: none; width: 0; }"));
    auto* menu = new QMenu(actions);
    menu->setObjectName(QStringLiteral("fileActionsMenu"));
    auto* show = menu->addAction(QStringLiteral("Show in File Manager"));
    show->setObjectName(QStringLiteral("showInFileManager"));
    auto* relink = menu->addAction(QStringLiteral("Relink\u2026"));
    relink->setObjectName(QStringLiteral("relink"));
    auto* remove = menu->addAction(QStringLiteral("Remove Reference"));
    remove->setObjectName(QStringLiteral("removeReference"));
    actions->setMenu(menu);
    h->addWidget(actions);
    // Queued: the menu closes before a modal panel or a reload replaces the row.
    QObject::connect(show, &QAction::triggered, row, std::move(onReveal), Qt::QueuedConnection);
    QObject::connect(relink, &QAction::triggered, row, std::move(onRelink), Qt::QueuedConnection);
    QObject::connect(remove, &QAction::triggered, row, std::move(onRemove), Qt::QueuedConnection);
    return row;
}

}  // namespace

MediaStorageView::MediaStorageView(SettingsContext& context, QWidget* parent)
    : QWidget(parent), context_(context), state_(context.state) {
    setObjectName(paneObjectName(SettingsSection::media));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    form_ = new SettingsForm(this);
    layout->addWidget(form_);

    // Storage.
    SettingsGroup* storage = form_->addSection(QStringLiteral("Storage"), "storageSection");
    total_ = dimText(storage::formatBytes(0), nullptr, "storageTotal");
    storage->addRow(QStringLiteral("On disk (downloads + thumbnails)"), total_);
    auto* showFolder = smallButton(QStringLiteral("Show Media Folder in File Manager"), "showMediaFolder", nullptr);
    storage->addButton(showFolder);
    auto* footer = noteLabel(storage::storageFooter(), storage);
    footer->setObjectName(QStringLiteral("storageFooter"));
    footer->setContentsMargins(4, 0, 4, 0);
    storage->layout()->addWidget(footer);
    connect(showFolder, &QPushButton::clicked, this, [this] {
        if (context_.reveal) context_.reveal->openFolder(Store::mediaDir());
    });

    // Downloaded media.
    downloadedGroup_ = form_->addSection(storage::downloadedHeader(0), "downloadedSection");
    deleteAll_ = smallButton(QStringLiteral("Delete All"), "deleteAll", nullptr, true);
    downloadedGroup_->setHeaderAccessory(deleteAll_);
    downloadedRows_ = listHost(downloadedGroup_, "downloadedRows");
    connect(deleteAll_, &QPushButton::clicked, this, [this] { askDeleteAll(); });

    // Referenced media.
    referencedGroup_ = form_->addSection(storage::referencedHeader(0), "referencedSection");
    referencedRows_ = listHost(referencedGroup_, "referencedRows");

    // Offline media.
    SettingsGroup* offline = form_->addSection(QStringLiteral("Offline Media"), "offlineSection");
    auto* folderValue = new QWidget;
    auto* folder = new QHBoxLayout(folderValue);
    folder->setContentsMargins(0, 0, 0, 0);
    folder->setSpacing(6);
    folderPath_ = new ElidedLabel(folderValue);
    folderPath_->setObjectName(QStringLiteral("searchFolderPath"));
    folderPath_->setMinimumWidth(200);
    colourText(folderPath_, theme::secondaryText());
    folder->addWidget(folderPath_, 1);
    auto* clearFolder = smallButton(QStringLiteral("Clear"), "clearSearchFolder", folderValue);
    clearFolder->setAccessibleName(QStringLiteral("Clear search folder"));
    folder->addWidget(clearFolder);
    folderValue->setAccessibleName(QStringLiteral("Search folder"));
    folderRow_ = offline->addRow(QStringLiteral("Search folder"), folderValue);
    folderRow_->setObjectName(QStringLiteral("searchFolderRow"));
    folderButton_ = smallButton(storage::searchFolderButton(false), "searchFolderButton", nullptr);
    offline->addButton(folderButton_);
    offline->addNote(storage::offlineNote())->setObjectName(QStringLiteral("offlineNote"));
    connect(clearFolder, &QPushButton::clicked, this, [this] {
        AppSettings s = state_.settings();
        s.autoRelinkFolderPath.reset();
        state_.setSettings(s);
    });
    connect(folderButton_, &QPushButton::clicked, this, [this] { pickRelinkFolder(); });

    // The search folder follows the settings at once; the lists change only through reload().
    gate_ = new RefreshGate(this, [this] { refreshFolder(); });
    gate_->watch(context.stateSignals, {Aspect::settings});
    refreshFolder();
    rebuildLists();
}

void MediaStorageView::reload() {
    downloaded_ = state_.downloadedMediaFiles();
    referenced_ = state_.referencedMediaFiles();
    totalBytes_ = state_.managedStorageBytes();
    rebuildLists();
}

void MediaStorageView::rebuildLists() {
    total_->setText(storage::formatBytes(totalBytes_));
    downloadedGroup_->header()->setText(storage::downloadedHeader(downloaded_.size()));
    deleteAll_->setVisible(!downloaded_.empty());
    clear(downloadedRows_);
    if (downloaded_.empty()) {
        downloadedRows_->addWidget(dimText(QStringLiteral("No downloaded media."), nullptr, "noDownloaded"));
    }
    for (const auto& file : downloaded_) {
        downloadedRows_->addWidget(downloadedRow(
            file, nullptr, [this, path = file.url] { if (context_.reveal) context_.reveal->reveal({path}); },
            [this, file] { askDelete(file); }));
    }

    referencedGroup_->header()->setText(storage::referencedHeader(referenced_.size()));
    clear(referencedRows_);
    if (referenced_.empty()) {
        referencedRows_->addWidget(
            dimText(QStringLiteral("No externally referenced media in this project."), nullptr, "noReferenced"));
    }
    for (const auto& ref : referenced_) {
        referencedRows_->addWidget(referencedRow(
            ref, nullptr, [this, path = ref.path] { if (context_.reveal) context_.reveal->reveal({path}); },
            [this, id = ref.itemId] { relink(id); }, [this, ref] { askRemoveReference(ref); }));
    }
    chainInLayoutOrder(form_->widget());
}

void MediaStorageView::refreshFolder() {
    const auto& path = state_.settings().autoRelinkFolderPath;
    folderRow_->setVisible(bool(path));
    if (path) folderPath_->setFullText(storage::tildePath(*path, home()));
    const QString title = storage::searchFolderButton(bool(path));
    folderButton_->setText(title);
    folderButton_->setAccessibleName(title);
}

QStringList MediaStorageView::clipNamesHere(const std::vector<std::string>& ids) const {
    QStringList names;
    for (const auto& id : ids)
        if (const MediaItem* m = state_.library.item(id)) names << q(m->name);
    return names;
}

void MediaStorageView::askDelete(const DownloadedMediaFile& file) {
    if (pending_ || !context_.dialogs) return;
    pending_ = true;
    DialogRequest r;
    r.message = storage::deleteTitle(file);
    r.informative = storage::deleteMessage(file, clipNamesHere(file.currentItemIds));
    r.buttons = {storage::deleteButton(file), QStringLiteral("Cancel")};
    r.destructive = 0;
    r.cancel = 1;
    QPointer<MediaStorageView> self(this);
    context_.dialogs->ask(this, r, [self, name = file.filename](int answer) {
        if (!self) return;
        self->pending_ = false;
        if (answer != 0) return;
        // The file's record as it is now: the clips that use it at this moment leave with it.
        for (const auto& f : self->state_.downloadedMediaFiles())
            if (f.filename == name) self->state_.deleteDownloadedFile(f);
        self->reload();
    });
}

void MediaStorageView::askDeleteAll() {
    if (downloaded_.empty() || pending_ || !context_.dialogs) return;
    pending_ = true;
    std::size_t clips = 0;
    for (const auto& f : downloaded_) clips += f.currentItemIds.size();
    DialogRequest r;
    r.message = storage::deleteAllTitle();
    r.informative = storage::deleteAllMessage(downloaded_.size(), clips);
    r.buttons = {storage::deleteAllButton(storage::totalSize(downloaded_)), QStringLiteral("Cancel")};
    r.destructive = 0;
    r.cancel = 1;
    QPointer<MediaStorageView> self(this);
    context_.dialogs->ask(this, r, [self, shown = downloaded_](int answer) {
        if (!self) return;
        self->pending_ = false;
        if (answer != 0) return;
        for (const auto& f : storage::stillShown(self->state_.downloadedMediaFiles(), shown))
            self->state_.deleteDownloadedFile(f);
        self->reload();
    });
}

void MediaStorageView::relink(const std::string& itemId) {
    state_.promptRelink(itemId);
    reload();
}

void MediaStorageView::askRemoveReference(const ReferencedMediaFile& ref) {
    if (pending_ || !context_.dialogs) return;
    pending_ = true;
    DialogRequest r;
    r.message = storage::removeReferenceTitle(ref);
    r.informative = storage::removeReferenceMessage();
    r.buttons = {QStringLiteral("Remove Reference"), QStringLiteral("Cancel")};
    r.destructive = 0;
    r.cancel = 1;
    QPointer<MediaStorageView> self(this);
    context_.dialogs->ask(this, r, [self, id = ref.itemId](int answer) {
        if (!self) return;
        self->pending_ = false;
        if (answer != 0) return;
        // Off air, out of the selection and the playlists, then out of the library.
        self->state_.removeFromLibrary({id});
        self->reload();
    });
}

void MediaStorageView::pickRelinkFolder() {
    OpenPanelRequest r;
    r.canChooseFolders = true;
    r.title = "Choose Relink Search Folder";
    const auto chosen = state_.filePanels().runOpenPanel(r);
    if (!chosen) return;
    AppSettings s = state_.settings();
    s.autoRelinkFolderPath = chosen->string();
    state_.setSettings(s);
}

}  // namespace ombry::ui
