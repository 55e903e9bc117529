#include "Ui/Settings/SettingsView.hpp"

#include <QHBoxLayout>
#include <QHideEvent>
#include <QLabel>
#include <QLinearGradient>
#include <QListWidget>
#include <QPainter>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "Ui/Bridge/RefreshGate.hpp"
#include "Ui/Bridge/WindowRegistry.hpp"
#include "Ui/Settings/SettingsRules.hpp"
#include "Ui/Shell/Theme.hpp"
#include "Ui/Widgets/Symbols.hpp"

namespace ombry::ui {

namespace {

constexpr int tileSide = 22;

// The section's coloured square: a rounded tile in a gradient of its colour with the symbol in white.
QIcon sectionTile(SettingsSection section) {
    const settings::SectionRow row = settings::sectionRow(section);
    QPixmap pixmap(tileSide, tileSide);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient gradient(0, 0, 0, tileSide);
    gradient.setColorAt(0, row.tile.lighter(118));
    gradient.setColorAt(1, row.tile);
    p.setPen(Qt::NoPen);
    p.setBrush(gradient);
    p.drawRoundedRect(QRectF(0, 0, tileSide, tileSide), 5.5, 5.5);
    symbols::draw(p, QRectF(5, 5, 12, 12), row.symbol, Qt::white);
    p.end();
    QIcon icon;
    icon.addPixmap(pixmap, QIcon::Normal);
    icon.addPixmap(pixmap, QIcon::Selected);
    return icon;
}

}  // namespace

QString paneObjectName(SettingsSection section) {
    return QString::fromLatin1(rawValue(section).data(), qsizetype(rawValue(section).size())) +
           QStringLiteral("Pane");
}

QWidget* placeholderPane(SettingsSection section, QWidget* parent) {
    auto* w = new QWidget(parent);
    w->setObjectName(paneObjectName(section));
    return w;
}

SettingsView::SettingsView(SettingsContext context, SettingsPaneFactories panes, QWidget* parent)
    : QWidget(parent), context_(context), panes_(std::move(panes)) {
    setObjectName(QString::fromLatin1(windowId));
    setWindowTitle(QStringLiteral("Ombry Settings"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    setFixedWidth(sidebarWidth + paneWidth);
    setMinimumHeight(minimumHeight);
    resize(sidebarWidth + paneWidth, minimumHeight);

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);

    list_ = new QListWidget(this);
    list_->setObjectName(QStringLiteral("settingsSections"));
    list_->setAccessibleName(QStringLiteral("Settings sections"));
    list_->setFixedWidth(sidebarWidth);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setIconSize(QSize(tileSide, tileSide));
    list_->setFrameShape(QFrame::NoFrame);
    list_->setSpacing(2);
    list_->setStyleSheet(QStringLiteral(
        "QListWidget { background: rgba(255,255,255,0.03); padding: 8px 6px; outline: 0; }"
        "QListWidget::item { padding: 3px 4px; border-radius: 6px; color: palette(window-text); }"
        "QListWidget::item:selected { background: rgba(255,255,255,0.12); }"));
    for (SettingsSection s : allSettingsSections) {
        auto* item = new QListWidgetItem(sectionTile(s), settings::sectionRow(s).label, list_);
        item->setData(Qt::UserRole, int(s));
        item->setSizeHint(QSize(sidebarWidth - 16, 30));
    }
    row->addWidget(list_);

    auto* detail = new QWidget(this);
    detail->setObjectName(QStringLiteral("settingsDetail"));
    detail->setFixedWidth(paneWidth);
    host_ = new QVBoxLayout(detail);
    host_->setContentsMargins(0, 0, 0, 0);
    host_->setSpacing(0);
    title_ = new QLabel(detail);
    title_->setObjectName(QStringLiteral("paneTitle"));
    QFont f = title_->font();
    f.setPixelSize(15);
    f.setWeight(QFont::DemiBold);
    title_->setFont(f);
    title_->setContentsMargins(20, 12, 20, 4);
    host_->addWidget(title_);
    row->addWidget(detail);

    // The list's choice writes the state; the pane follows the state. A selection is never left empty.
    connect(list_, &QListWidget::itemSelectionChanged, this, [this] {
        const auto selected = list_->selectedItems();
        if (selected.isEmpty()) {
            refresh();
            return;
        }
        context_.state.setSettingsSection(SettingsSection(selected.front()->data(Qt::UserRole).toInt()));
    });
    gate_ = new RefreshGate(this, [this] { refresh(); });
    gate_->watch(context_.stateSignals, {Aspect::settingsSection});
    refresh();
}

SettingsView::~SettingsView() { dropPane(); }

void SettingsView::refresh() {
    const SettingsSection section = context_.state.settingsSection();
    {
        const QSignalBlocker block(list_);
        QListWidgetItem* item = list_->item(int(section));
        if (!item->isSelected() || list_->selectedItems().size() != 1) {
            list_->clearSelection();
            item->setSelected(true);
        }
        list_->setCurrentItem(item);
    }
    title_->setText(settings::sectionRow(section).label);
    if (isVisible()) showPane(section);
}

void SettingsView::showPane(SettingsSection section) {
    if (pane_ && paneSection_ == section) return;
    dropPane();
    auto f = panes_.find(section);
    QWidget* made = f != panes_.end() && f->second ? f->second(context_, this) : nullptr;
    pane_ = made ? made : placeholderPane(section, this);
    paneSection_ = section;
    host_->addWidget(pane_, 1);
    pane_->show();
    if (auto* hooks = dynamic_cast<SettingsPaneHooks*>(pane_)) hooks->paneAppeared();
}

void SettingsView::dropPane() {
    if (!pane_) return;
    QWidget* old = std::exchange(pane_, nullptr);
    paneSection_.reset();
    if (auto* hooks = dynamic_cast<SettingsPaneHooks*>(old)) hooks->paneDisappeared();
    host_->removeWidget(old);
    old->hide();
    // Later: the pane may be the sender of what led here.
    old->setParent(nullptr);
    old->deleteLater();
}

void SettingsView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    refresh();
}

void SettingsView::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    // A minimised window keeps its pane; a closed one lets it go.
    if (!event->spontaneous()) dropPane();
}

void defineSettingsWindow(WindowRegistry& windows, SettingsContext context, SettingsPaneFactories panes) {
    windows.define(QString::fromLatin1(SettingsView::windowId),
                   [context, panes = std::move(panes)]() -> QWidget* { return new SettingsView(context, panes); });
}

void openSettings(WindowRegistry& windows, AppState& state, std::optional<SettingsSection> section) {
    if (section) state.setSettingsSection(*section);
    windows.open(QString::fromLatin1(SettingsView::windowId));
}

}  // namespace ombry::ui
