#pragma once
// The main window's left column: the playlist list ("All Playlists", then one row per playlist) with its
// plus button, row menus and drag reordering, and the outputs footer under it. Selecting rows writes
// AppState.selection; the playlist editor popovers open where AppState.playlistEditor asks.
#include <QAbstractListModel>
#include <QListView>
#include <QMenu>
#include <QPointer>
#include <QStyledItemDelegate>
#include <QWidget>

#include <optional>
#include <string>
#include <vector>

#include "Ui/Shell/Columns.hpp"
#include "Ui/Sidebar/SidebarRules.hpp"

class QToolButton;

namespace ombry::ui {

class OutputsFooter;
class PlaylistEditorPresenter;
class RefreshGate;

// The rows of the list: "All Playlists" first, then the library's playlists in order. Dragging playlist
// rows within the list moves the playlists through Library.moveGroups.
class PlaylistListModel final : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role { subtitleRole = Qt::UserRole + 1, symbolRole, tintRole };
    static constexpr const char* mimeType = "application/x-ombry-playlist-rows";

    explicit PlaylistListModel(AppState& state, QObject* parent = nullptr);
    // Reads the playlists afresh; resets only when a row changed. True when it reset.
    bool reload();
    SidebarItem item(int row) const;
    // The row of the playlist, or -1.
    int rowOf(const std::string& playlistId) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    Qt::DropActions supportedDropActions() const override { return Qt::MoveAction; }
    Qt::DropActions supportedDragActions() const override { return Qt::MoveAction; }
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    bool dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                      const QModelIndex& parent) override;

private:
    AppState& state_;
    std::vector<std::string> ids_;  // the playlist of each row after the first
    std::vector<sidebar_rules::PlaylistRowData> rows_;
};

// A playlist row: the tinted badge with its symbol, the name and the count under it.
class PlaylistRowDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

// A right-click opens the row's menu without changing the selection.
class PlaylistListView final : public QListView {
    Q_OBJECT
public:
    using QListView::QListView;

protected:
    void mousePressEvent(QMouseEvent* event) override;
};

class SidebarView final : public QWidget {
    Q_OBJECT
public:
    SidebarView(const ViewContext& context, QWidget* parent = nullptr);
    ~SidebarView() override;

    void refresh();
    RefreshGate& gate() const { return *gate_; }
    PlaylistListView* list() const { return list_; }
    PlaylistListModel* model() const { return model_; }
    QToolButton* newPlaylistButton() const { return plus_; }
    OutputsFooter* footer() const { return footer_; }
    PlaylistEditorPresenter& editors() const { return *editors_; }
    // The row's menu, built afresh for the playlist (shown at `at` unless null); the open one until it closes.
    QMenu* openPlaylistMenu(const std::string& playlistId, QPoint at);
    QMenu* playlistMenu() const { return menu_; }
    // The playlist's row in global coordinates; none when no row shows it.
    std::optional<QRect> rowAnchor(const std::string& playlistId) const;

private:
    void applySelection();
    void selectionEdited();

    ViewContext context_;
    RefreshGate* gate_;
    PlaylistListModel* model_;
    PlaylistListView* list_;
    QToolButton* plus_;
    OutputsFooter* footer_;
    PlaylistEditorPresenter* editors_;
    QPointer<QMenu> menu_;
};

}  // namespace ombry::ui
