#include "Ui/Program/GlassMenuPicker.hpp"

#include <QActionGroup>
#include <QMenu>

#include "Ui/Shell/Theme.hpp"
#include "Ui/Widgets/Symbols.hpp"

namespace ombry::ui {

std::vector<PickerEntry> pickerEntries(const QStringList& options, const QString& selection) {
    std::vector<PickerEntry> out;
    for (const QString& o : options) out.push_back({o, o == selection});
    return out;
}

GlassMenuPicker::GlassMenuPicker(Binding binding, const QString& help, std::optional<QString> customLabel,
                                 std::function<void()> onCustom, QWidget* parent)
    : QToolButton(parent), binding_(std::move(binding)), customLabel_(std::move(customLabel)),
      onCustom_(std::move(onCustom)) {
    setToolTip(help);
    setAccessibleName(help);
    setFocusPolicy(Qt::NoFocus);
    setFixedHeight(30);
    setPopupMode(QToolButton::InstantPopup);
    setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    // The chevron follows the text.
    setLayoutDirection(Qt::RightToLeft);
    setIcon(symbols::icon("chevron.up.chevron.down", 12, theme::secondaryText()));
    setIconSize(QSize(12, 12));
    setStyleSheet(QStringLiteral(
        "QToolButton { background: rgba(255,255,255,0.08); border: 1px solid rgba(255,255,255,0.14);"
        " border-radius: 15px; padding: 0 12px; color: #ebebf0; font-size: 12px; }"
        "QToolButton:hover { background: rgba(255,255,255,0.13); }"
        "QToolButton:pressed { background: rgba(255,255,255,0.18); }"
        "QToolButton::menu-indicator { image: none; width: 0; }"));
    menu_ = new QMenu(this);
    menu_->setTitle(help);
    menu_->setLayoutDirection(Qt::LeftToRight);
    menu_->setObjectName(QStringLiteral("pickerMenu"));
    setMenu(menu_);
    connect(menu_, &QMenu::aboutToShow, this, [this] { rebuildMenu(); });
    rebuildMenu();
    refresh();
}

void GlassMenuPicker::refresh() {
    const QString shown = binding_.selection();
    if (text() != shown) setText(shown);
}

void GlassMenuPicker::rebuildMenu() {
    menu_->clear();
    auto* group = new QActionGroup(menu_);
    group->setExclusive(true);
    for (const PickerEntry& e : pickerEntries(binding_.options(), binding_.selection())) {
        QAction* a = menu_->addAction(e.text);
        a->setCheckable(true);
        a->setChecked(e.checked);
        group->addAction(a);
        const QString value = e.text;
        connect(a, &QAction::triggered, this, [this, value] {
            binding_.select(value);
            refresh();
        });
    }
    if (customLabel_ && onCustom_) {
        menu_->addSeparator();
        QAction* custom = menu_->addAction(*customLabel_);
        custom->setObjectName(QStringLiteral("customEntry"));
        // Queued: the tip opens once the menu has closed, so the menu's own close does not close it.
        connect(custom, &QAction::triggered, this, [this] { QMetaObject::invokeMethod(this, onCustom_, Qt::QueuedConnection); });
    }
}

}  // namespace ombry::ui
