#include "Ui/Sidebar/SidebarView.hpp"

#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QSignalBlocker>
#include <QToolButton>
#include <QVBoxLayout>

#include "Ui/Board/PlaylistEditor.hpp"
#include "Ui/Bridge/RefreshGate.hpp"
#include "Ui/Shell/Theme.hpp"
#include "Ui/Sidebar/OutputsFooter.hpp"
#include "Ui/Widgets/Symbols.hpp"

namespace ombry::ui {

using namespace sidebar_rules;

PlaylistListModel::PlaylistListModel(AppState& state, QObject* parent) : QAbstractListModel(parent), state_(state) {
    reload();
}

bool PlaylistListModel::reload() {
    const auto& groups = state_.library.groups();
    std::vector<std::string> ids;
    std::vector<PlaylistRowData> rows{allPlaylistsRow(groups.size(), state_.library.media().size())};
    for (const Group& g : groups) {
        ids.push_back(g.id);
        rows.push_back(playlistRow(g));
    }
    if (ids == ids_ && rows == rows_) return false;
    beginResetModel();
    ids_ = std::move(ids);
    rows_ = std::move(rows);
    endResetModel();
    return true;
}

SidebarItem PlaylistListModel::item(int row) const {
    if (row <= 0 || row > int(ids_.size())) return SidebarItem::allPlaylists();
    return SidebarItem::playlist(ids_[std::size_t(row - 1)]);
}

int PlaylistListModel::rowOf(const std::string& id) const {
    for (std::size_t i = 0; i < ids_.size(); ++i)
        if (ids_[i] == id) return int(i + 1);
    return -1;
}

int PlaylistListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(rows_.size()); }

QVariant PlaylistListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= int(rows_.size())) return {};
    const PlaylistRowData& r = rows_[std::size_t(index.row())];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole: return r.name;
    case Qt::AccessibleDescriptionRole:
    case subtitleRole: return r.subtitle;
    case symbolRole: return QString::fromStdString(r.symbol);
    case tintRole: return r.tint;
    default: return {};
    }
}

Qt::ItemFlags PlaylistListModel::flags(const QModelIndex& index) const {
    // Drops land between rows, never on one; "All Playlists" stays first and cannot be dragged.
    if (!index.isValid()) return Qt::ItemIsDropEnabled;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.row() > 0) f |= Qt::ItemIsDragEnabled;
    return f;
}

QStringList PlaylistListModel::mimeTypes() const { return {QString::fromLatin1(mimeType)}; }

QMimeData* PlaylistListModel::mimeData(const QModelIndexList& indexes) const {
    QStringList rows;
    for (const QModelIndex& i : indexes)
        if (i.isValid() && i.row() > 0) rows << QString::number(i.row());
    auto* data = new QMimeData;
    data->setData(QString::fromLatin1(mimeType), rows.join(',').toLatin1());
    return data;
}

bool PlaylistListModel::dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int, const QModelIndex& parent) {
    if (!data || action != Qt::MoveAction || !data->hasFormat(QString::fromLatin1(mimeType))) return false;
    if (row < 0 && parent.isValid()) row = parent.row();
    std::set<std::size_t> from;
    for (const QByteArray& part : data->data(QString::fromLatin1(mimeType)).split(',')) {
        bool ok = false;
        const int r = part.toInt(&ok);
        if (ok && r > 0 && r <= int(ids_.size())) from.insert(std::size_t(r - 1));
    }
    if (from.empty()) return false;
    state_.library.moveGroups(from, dropOffset(row, ids_.size()));
    // The rows follow from the library; the view removes nothing itself (removeRows is not offered).
    return true;
}

void PlaylistRowDelegate::paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    p->save();
    p->setRenderHint(QPainter::Antialiasing);
    const QRect r = option.rect.adjusted(4, 1, -4, -1);
    if (option.state & QStyle::State_Selected) {
        QColor hl = option.palette.color(QPalette::Highlight);
        if (!(option.state & QStyle::State_Active)) hl.setAlphaF(0.5f);
        p->setPen(Qt::NoPen);
        p->setBrush(hl);
        p->drawRoundedRect(QRectF(r), 6, 6);
    } else if (option.state & QStyle::State_MouseOver) {
        p->setPen(Qt::NoPen);
        p->setBrush(theme::surface());
        p->drawRoundedRect(QRectF(r), 6, 6);
    }
    const QColor tint = index.data(PlaylistListModel::tintRole).value<QColor>();
    const QRectF badge(r.left() + 6, r.center().y() - 13 + 1, 26, 26);
    QLinearGradient g(badge.topLeft(), badge.bottomLeft());
    g.setColorAt(0, tint.lighter(112));
    g.setColorAt(1, tint.darker(118));
    p->setPen(Qt::NoPen);
    p->setBrush(g);
    p->drawRoundedRect(badge, 6, 6);
    symbols::draw(*p, badge.adjusted(6, 6, -6, -6), index.data(PlaylistListModel::symbolRole).toString().toStdString(),
                  Qt::white);
    const int textX = int(badge.right()) + 9;
    const QRect text(textX, r.top() + 2, r.right() - textX - 4, r.height() - 4);
    QFont nameFont = option.font;
    QFont subFont = option.font;
    subFont.setPixelSize(11);
    const QFontMetrics nm(nameFont), sm(subFont);
    const int block = nm.height() + 1 + sm.height();
    const int top = text.top() + (text.height() - block) / 2;
    p->setFont(nameFont);
    p->setPen(Qt::white);
    p->drawText(QRect(text.left(), top, text.width(), nm.height()), Qt::AlignLeft | Qt::AlignVCenter,
                nm.elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideRight, text.width()));
    p->setFont(subFont);
    p->setPen(QColor::fromRgbF(1, 1, 1, 0.55f));
    p->drawText(QRect(text.left(), top + nm.height() + 1, text.width(), sm.height()), Qt::AlignLeft | Qt::AlignVCenter,
                sm.elidedText(index.data(PlaylistListModel::subtitleRole).toString(), Qt::ElideRight, text.width()));
    p->restore();
}

QSize PlaylistRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
    return {option.rect.width() > 0 ? option.rect.width() : 200, 36};
}

void PlaylistListView::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton) {
        event->accept();  // the context menu follows; the selection stays as it was
        return;
    }
    QListView::mousePressEvent(event);
}

SidebarView::SidebarView(const ViewContext& context, QWidget* parent) : QWidget(parent), context_(context) {
    setObjectName(QStringLiteral("sidebar"));
    setAccessibleName(QStringLiteral("Sidebar"));
    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(0);

    auto* header = new QWidget(this);
    header->setObjectName(QStringLiteral("playlistsHeader"));
    auto* h = new QHBoxLayout(header);
    h->setContentsMargins(14, 10, 6, 4);
    h->setSpacing(4);
    auto* title = new QLabel(QStringLiteral("Playlists"), header);
    title->setObjectName(QStringLiteral("playlistsTitle"));
    QFont tf = title->font();
    tf.setPixelSize(11);
    tf.setWeight(QFont::DemiBold);
    title->setFont(tf);
    QPalette tp = title->palette();
    tp.setColor(QPalette::WindowText, theme::secondaryText());
    title->setPalette(tp);
    plus_ = new QToolButton(header);
    plus_->setObjectName(QStringLiteral("newPlaylistButton"));
    plus_->setIcon(symbols::icon("plus", 14, theme::secondaryText()));
    plus_->setAutoRaise(true);
    plus_->setFocusPolicy(Qt::NoFocus);
    plus_->setToolTip(QStringLiteral("New Playlist"));
    plus_->setAccessibleName(QStringLiteral("New Playlist"));
    h->addWidget(title, 0, Qt::AlignBottom);
    h->addStretch(1);
    h->addWidget(plus_);
    v->addWidget(header);

    model_ = new PlaylistListModel(context.state, this);
    list_ = new PlaylistListView(this);
    list_->setObjectName(QStringLiteral("playlistList"));
    list_->setAccessibleName(QStringLiteral("Playlists"));
    list_->setModel(model_);
    list_->setItemDelegate(new PlaylistRowDelegate(list_));
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setDragDropMode(QAbstractItemView::InternalMove);
    list_->setDefaultDropAction(Qt::MoveAction);
    list_->setDropIndicatorShown(true);
    list_->setFrameShape(QFrame::NoFrame);
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    // Show keys (arrows, digits) run the show wherever they are typed; the list takes none of them.
    list_->setFocusPolicy(Qt::NoFocus);
    list_->setMouseTracking(true);
    list_->viewport()->setAutoFillBackground(false);
    list_->setStyleSheet(QStringLiteral("QListView { background: transparent; }"));
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    v->addWidget(list_, 1);

    footer_ = new OutputsFooter(context, this);
    v->addWidget(footer_);

    connect(plus_, &QToolButton::clicked, this, [this] {
        context_.state.playlistEditor = PlaylistEditorTarget::create({});
        context_.state.notify(Aspect::playlistEditor);
    });
    connect(list_->selectionModel(), &QItemSelectionModel::selectionChanged, this, &SidebarView::selectionEdited);
    connect(list_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        const QModelIndex i = list_->indexAt(at);
        if (!i.isValid()) return;
        const SidebarItem item = model_->item(i.row());
        if (item.kind != SidebarItem::Kind::playlist) return;  // "All Playlists" has no menu
        openPlaylistMenu(item.playlistId, list_->viewport()->mapToGlobal(at));
    });

    editors_ = new PlaylistEditorPresenter(context.state, context.stateSignals, context.dialogs, this,
                                           [this](const PlaylistEditorTarget& t) -> std::optional<QRect> {
                                               if (t.kind == PlaylistEditorTarget::Kind::edit) return rowAnchor(t.playlistId);
                                               return QRect(plus_->mapToGlobal(QPoint(0, 0)), plus_->size());
                                           });
    gate_ = new RefreshGate(this, [this] { refresh(); });
    gate_->watch(context.stateSignals, {Aspect::groups, Aspect::media, Aspect::sidebarSelection, Aspect::project});
    refresh();
}

SidebarView::~SidebarView() = default;

void SidebarView::refresh() {
    {
        const QSignalBlocker block(list_->selectionModel());
        model_->reload();
    }
    applySelection();
}

void SidebarView::applySelection() {
    QItemSelectionModel* sm = list_->selectionModel();
    QItemSelection want;
    for (const SidebarItem& item : context_.state.selection()) {
        const int row = item.kind == SidebarItem::Kind::allPlaylists ? 0 : model_->rowOf(item.playlistId);
        if (row < 0) continue;
        const QModelIndex i = model_->index(row);
        want.select(i, i);
    }
    {
        const QSignalBlocker block(sm);
        sm->select(want, QItemSelectionModel::ClearAndSelect);
    }
    list_->viewport()->update();
}

void SidebarView::selectionEdited() {
    std::set<SidebarItem> selection;
    for (const QModelIndex& i : list_->selectionModel()->selectedIndexes()) selection.insert(model_->item(i.row()));
    if (selection != context_.state.selection()) context_.state.setSelection(std::move(selection));
}

QMenu* SidebarView::openPlaylistMenu(const std::string& playlistId, QPoint at) {
    if (menu_) menu_->close();
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("playlistMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    AppState& state = context_.state;
    for (const MenuEntry& e : sidebar_rules::playlistMenu(state.selectedPlaylistIds(), playlistId)) {
        if (e.dividerBefore) menu->addSeparator();
        QAction* a = menu->addAction(e.title);
        if (e.destructive) a->setProperty("destructive", true);
        const Command command = e.command;
        connect(a, &QAction::triggered, this, [this, command, playlistId] { perform(context_.state, command, playlistId); });
    }
    menu_ = menu;
    if (!at.isNull()) menu->popup(at);
    return menu;
}

std::optional<QRect> SidebarView::rowAnchor(const std::string& playlistId) const {
    const int row = model_->rowOf(playlistId);
    if (row < 0) return std::nullopt;
    const QRect r = list_->visualRect(model_->index(row));
    return QRect(list_->viewport()->mapToGlobal(r.topLeft()), r.size());
}

}  // namespace ombry::ui
