#include "Ui/Settings/MediaStorageView.hpp"

#include <QHBoxLayout>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include <cstdlib>

#include "Engine/Library/Store.hpp"
#include "Ui/Bridge/DesktopSeams.hpp"
#include "Ui/Bridge/DialogService.hpp"
#include "Ui/Bridge/RefreshGate.hpp"
#include "Ui/Settings/MediaStorageRules.hpp"
#include "Ui/Shell/Theme.hpp"
#include "Ui/Widgets/Symbols.hpp"

namespace ombry::ui {

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }

std::filesystem::path home() {
    const char* h = std::getenv("HOME");
    return h ? std::filesystem::path(h) : std::filesystem::path();
}

QFont sized(QFont f, int pixels, QFont::Weight weight = QFont::Normal) {
    f.setPixelSize(pixels);
    f.setWeight(weight);
    return f;
}

void colour(QWidget* w, const QColor& c) {
    QPalette pal = w->palette();
    pal.setColor(QPalette::WindowText, c);
    w->setPalette(pal);
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
    colour(detail, theme::secondaryText());
    text->addWidget(name);
    text->addWidget(detail);
    h->addLayout(text, 1);
    auto* reveal = smallButton(QStringLiteral("Reveal"), QStringLiteral("reveal"), row);
    reveal->setAccessibleName(QStringLiteral("Reveal %1").arg(q(file.filename)));
    auto* remove = smallButton(QStringLiteral("Delete"), QStringLiteral("delete"), row, true);
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
        colour(badge, theme::orange());
        top->addWidget(badge);
    }
    auto* path = new ElidedLabel(row);
    path->setObjectName(QStringLiteral("path"));
    path->setFont(sized(path->font(), 11));
    colour(path, theme::secondaryText());
    path->setFullText(storage::tildePath(ref.path, home()));
    text->addLayout(top);
    text->addWidget(path);
    h->addLayout(text, 1);
    if (ref.size > 0) {
        auto* size = new QLabel(storage::formatBytes(ref.size), row);
        size->setObjectName(QStringLiteral("size"));
        size->setFont(sized(size->font(), 11));
        colour(size, theme::secondaryText());
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

MediaStorageView::MediaStorageView(ViewContext& context, QWidget* parent)
    : PaneForm(parent), state_(context.state), dialogs_(context.dialogs), reveal_(context.reveal) {
    setObjectName(QStringLiteral("mediaStoragePane"));

    // Storage.
    auto* storageRows = addSection(QStringLiteral("storage"), QStringLiteral("Storage"), nullptr, storage::storageFooter());
    auto* totalRow = new QHBoxLayout();
    totalRow->addWidget(plain(QStringLiteral("On disk (downloads + thumbnails)"), content()));
    totalRow->addStretch(1);
    total_ = new QLabel(storage::formatBytes(0), content());
    total_->setObjectName(QStringLiteral("storageTotal"));
    colour(total_, theme::secondaryText());
    totalRow->addWidget(total_);
    storageRows->addLayout(totalRow);
    auto* showFolder = smallButton(QStringLiteral("Show Media Folder in File Manager"), QStringLiteral("showMediaFolder"), content());
    storageRows->addWidget(showFolder, 0, Qt::AlignLeft);
    connect(showFolder, &QPushButton::clicked, this, [this] {
        if (reveal_) reveal_->openFolder(Store::mediaDir());
    });

    // Downloaded media.
    deleteAll_ = smallButton(QStringLiteral("Delete All"), QStringLiteral("deleteAll"), content(), true);
    downloadedRows_ = addSection(QStringLiteral("downloaded"), storage::downloadedHeader(0), deleteAll_);
    connect(deleteAll_, &QPushButton::clicked, this, [this] { askDeleteAll(); });

    // Referenced media.
    referencedRows_ = addSection(QStringLiteral("referenced"), storage::referencedHeader(0));

    // Offline media.
    auto* offlineRows = addSection(QStringLiteral("offline"), QStringLiteral("Offline Media"));
    folderRow_ = new QWidget(content());
    folderRow_->setObjectName(QStringLiteral("searchFolderRow"));
    auto* folder = new QHBoxLayout(folderRow_);
    folder->setContentsMargins(0, 0, 0, 0);
    folder->setSpacing(6);
    folder->addWidget(plain(QStringLiteral("Search folder"), folderRow_));
    folder->addSpacing(12);
    folderPath_ = new ElidedLabel(folderRow_);
    folderPath_->setObjectName(QStringLiteral("searchFolderPath"));
    colour(folderPath_, theme::secondaryText());
    folder->addWidget(folderPath_, 1);
    auto* clearFolder = smallButton(QStringLiteral("Clear"), QStringLiteral("clearSearchFolder"), folderRow_);
    clearFolder->setAccessibleName(QStringLiteral("Clear search folder"));
    folder->addWidget(clearFolder);
    offlineRows->addWidget(folderRow_);
    folderButton_ = smallButton(storage::searchFolderButton(false), QStringLiteral("searchFolderButton"), content());
    offlineRows->addWidget(folderButton_, 0, Qt::AlignLeft);
    offlineRows->addWidget(note(storage::offlineNote(), content(), QStringLiteral("offlineNote")));
    connect(clearFolder, &QPushButton::clicked, this, [this] {
        AppSettings s = state_.settings();
        s.autoRelinkFolderPath.reset();
        state_.setSettings(s);
    });
    connect(folderButton_, &QPushButton::clicked, this, [this] { pickRelinkFolder(); });

    // The search folder follows the settings at once; the lists only through reload().
    gate_ = new RefreshGate(this, [this] { refreshFolder(); });
    gate_->watch(context.stateSignals, {Aspect::settings});
    refreshFolder();
    rebuildLists();
}

void MediaStorageView::showEvent(QShowEvent* event) {
    PaneForm::showEvent(event);
    // Each time the pane comes into view, once the window has drawn.
    QPointer<MediaStorageView> self(this);
    QMetaObject::invokeMethod(this, [self] {
        if (self) self->reload();
    }, Qt::QueuedConnection);
}

void MediaStorageView::reload() {
    downloaded_ = state_.downloadedMediaFiles();
    referenced_ = state_.referencedMediaFiles();
    totalBytes_ = state_.managedStorageBytes();
    rebuildLists();
}

void MediaStorageView::rebuildLists() {
    total_->setText(storage::formatBytes(totalBytes_));
    header(QStringLiteral("downloaded"))->setText(storage::downloadedHeader(downloaded_.size()));
    deleteAll_->setVisible(!downloaded_.empty());
    clear(downloadedRows_);
    if (downloaded_.empty()) {
        auto* none = plain(QStringLiteral("No downloaded media."), content(), QStringLiteral("noDownloaded"));
        colour(none, theme::secondaryText());
        downloadedRows_->addWidget(none);
    }
    for (const auto& file : downloaded_) {
        downloadedRows_->addWidget(downloadedRow(
            file, content(), [this, path = file.url] { if (reveal_) reveal_->reveal({path}); },
            [this, file] { askDelete(file); }));
    }

    header(QStringLiteral("referenced"))->setText(storage::referencedHeader(referenced_.size()));
    clear(referencedRows_);
    if (referenced_.empty()) {
        auto* none = plain(QStringLiteral("No externally referenced media in this project."), content(),
                           QStringLiteral("noReferenced"));
        colour(none, theme::secondaryText());
        referencedRows_->addWidget(none);
    }
    for (const auto& ref : referenced_) {
        referencedRows_->addWidget(referencedRow(
            ref, content(), [this, path = ref.path] { if (reveal_) reveal_->reveal({path}); },
            [this, id = ref.itemId] { relink(id); }, [this, ref] { askRemoveReference(ref); }));
    }
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
    if (pendingDelete_ || pendingDeleteAll_) return;
    pendingDelete_ = true;
    DialogRequest r;
    r.message = storage::deleteTitle(file);
    r.informative = storage::deleteMessage(file, clipNamesHere(file.currentItemIds));
    r.buttons = {storage::deleteButton(file), QStringLiteral("Cancel")};
    r.destructive = 0;
    r.cancel = 1;
    QPointer<MediaStorageView> self(this);
    dialogs_.ask(this, r, [self, name = file.filename](int answer) {
        if (!self) return;
        self->pendingDelete_ = false;
        if (answer != 0) return;
        // The file's record as it is now: the clips that use it at this moment leave with it.
        for (const auto& f : self->state_.downloadedMediaFiles())
            if (f.filename == name) self->state_.deleteDownloadedFile(f);
        self->reload();
    });
}

void MediaStorageView::askDeleteAll() {
    if (downloaded_.empty() || pendingDelete_ || pendingDeleteAll_) return;
    pendingDeleteAll_ = true;
    std::size_t clips = 0;
    for (const auto& f : downloaded_) clips += f.currentItemIds.size();
    DialogRequest r;
    r.message = storage::deleteAllTitle();
    r.informative = storage::deleteAllMessage(downloaded_.size(), clips);
    r.buttons = {storage::deleteAllButton(storage::totalSize(downloaded_)), QStringLiteral("Cancel")};
    r.destructive = 0;
    r.cancel = 1;
    QPointer<MediaStorageView> self(this);
    dialogs_.ask(this, r, [self, shown = downloaded_](int answer) {
        if (!self) return;
        self->pendingDeleteAll_ = false;
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
    DialogRequest r;
    r.message = storage::removeReferenceTitle(ref);
    r.informative = storage::removeReferenceMessage();
    r.buttons = {QStringLiteral("Remove Reference"), QStringLiteral("Cancel")};
    r.destructive = 0;
    r.cancel = 1;
    QPointer<MediaStorageView> self(this);
    dialogs_.ask(this, r, [self, id = ref.itemId](int answer) {
        if (!self || answer != 0) return;
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
