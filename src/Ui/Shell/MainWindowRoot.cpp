#include "Ui/Shell/MainWindowRoot.hpp"

#include <QAction>
#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QToolBar>

#include "Ui/Bridge/DesktopSeams.hpp"
#include "Ui/Bridge/RefreshGate.hpp"
#include "Ui/Bridge/WindowRegistry.hpp"
#include "Ui/Program/ConnectionPills.hpp"
#include "Ui/Program/GlassMenuPicker.hpp"
#include "Ui/Program/StageFormatTips.hpp"
#include "Ui/Settings/SettingsView.hpp"
#include "Ui/Shell/OmbryCommands.hpp"
#include "Ui/Shell/Theme.hpp"
#include "Ui/Shell/ToolbarRules.hpp"
#include "Ui/Widgets/Symbols.hpp"

#include <algorithm>
#include <cmath>

namespace ombry::ui {

using commands::Command;

ProjectMenuItem::ProjectMenuItem(ViewContext& context, OmbryCommands& commands, QWidget* parent)
    : QToolButton(parent), context_(context), commands_(commands) {
    setObjectName(QStringLiteral("projectMenu"));
    setToolTip(QStringLiteral("Project"));
    setFocusPolicy(Qt::NoFocus);
    setPopupMode(QToolButton::InstantPopup);
    setToolButtonStyle(Qt::ToolButtonTextOnly);
    setFont(toolbar::projectLabelFont());
    setFixedHeight(30);
    setStyleSheet(QStringLiteral("QToolButton { color: #808080; border: none; background: transparent; padding: 0 18px; }"
                                 "QToolButton:hover { color: #a0a0a0; }"
                                 "QToolButton::menu-indicator { image: none; width: 0; }"));
    menu_ = new QMenu(this);
    menu_->setObjectName(QStringLiteral("projectMenuItems"));
    menu_->addAction(commands.action(Command::newProject));
    menu_->addAction(commands.action(Command::openProject));
    recent_ = menu_->addMenu(QStringLiteral("Open Recent"));
    recent_->setObjectName(QStringLiteral("projectRecentMenu"));
    menu_->addSeparator();
    menu_->addAction(commands.action(Command::saveProjectAs));
    QAction* show = menu_->addAction(QStringLiteral("Show in File Manager"));
    show->setObjectName(QStringLiteral("showProjectFile"));
    connect(show, &QAction::triggered, this, [this] {
        const auto& url = context_.state.projects().currentProjectURL();
        if (url && context_.reveal) context_.reveal->reveal({*url});
    });
    menu_->addSeparator();
    QAction* storage = menu_->addAction(QStringLiteral("Media Storage…"));
    storage->setObjectName(QStringLiteral("mediaStorage"));
    connect(storage, &QAction::triggered, this, [this] {
        openSettings(context_.windows, context_.state, SettingsSection::media);
    });
    setMenu(menu_);
    auto* gate = new RefreshGate(this, [this] { refresh(); });
    gate->watch(context.stateSignals, {Aspect::project});
    refresh();
}

void ProjectMenuItem::refresh() {
    const int width = context_.state.projectNameWidth();
    const QString name = QString::fromStdString(context_.state.library.projectName());
    const QString shown = toolbar::middleTruncated(name, width);
    setText(shown);
    setAccessibleName(QStringLiteral("Project: ") + name);
    // As wide as the name shown (at most the width given) with its insets, so the search follows it.
    const int textWidth = int(std::ceil(QFontMetricsF(toolbar::projectLabelFont()).horizontalAdvance(shown)));
    setFixedWidth(std::min(textWidth, width) + 36);
    fillRecent();
}

void ProjectMenuItem::fillRecent() {
    fillRecentProjects(*recent_, commands::recentItems(context_.state.projects().recentsStore()), context_.state, this);
}

AddMediaItem::AddMediaItem(ViewContext& context, QWidget* parent) : QToolButton(parent) {
    setObjectName(QStringLiteral("addMedia"));
    setText(QStringLiteral("Add Media"));
    setAccessibleName(QStringLiteral("Add Media"));
    setIcon(symbols::icon("plus", 14, QColor(235, 235, 240)));
    setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    setFocusPolicy(Qt::NoFocus);
    setFixedHeight(30);
    setStyleSheet(QStringLiteral(
        "QToolButton { background: rgba(255,255,255,0.08); border: 1px solid rgba(255,255,255,0.14);"
        " border-radius: 15px; padding: 0 12px; color: #ebebf0; font-size: 12px; }"
        "QToolButton:hover { background: rgba(255,255,255,0.13); }"
        "QToolButton:pressed { background: rgba(255,255,255,0.18); }"));
    AppState& state = context.state;
    connect(this, &QToolButton::clicked, this, [&state] { state.promptAddMedia(); });
}

SearchMediaField::SearchMediaField(ViewContext& context, QWidget* parent) : QFrame(parent), state_(context.state) {
    setObjectName(QStringLiteral("searchMedia"));
    setMinimumWidth(90);
    setMaximumWidth(185);
    setFixedHeight(30);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setStyleSheet(QStringLiteral("#searchMedia { background: rgba(255,255,255,0.08); border: 1px solid rgba(255,255,255,0.14);"
                                 " border-radius: 15px; }"
                                 "#searchMedia QLineEdit { background: transparent; border: none; color: #ebebf0; }"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(12, 0, 12, 0);
    row->setSpacing(5);
    auto* glass = new QLabel(this);
    glass->setPixmap(symbols::pixmap("magnifyingglass", 14, theme::secondaryText()));
    row->addWidget(glass);
    field_ = new QLineEdit(this);
    field_->setObjectName(QStringLiteral("searchField"));
    field_->setPlaceholderText(QStringLiteral("Search media"));
    field_->setAccessibleName(QStringLiteral("Search media"));
    field_->setFrame(false);
    // Only a click types into it: the window's first focus must not land here, where the show keys stop.
    field_->setFocusPolicy(Qt::ClickFocus);
    row->addWidget(field_, 1);
    connect(field_, &QLineEdit::textEdited, this, [this](const QString& text) { state_.setSearchText(text.toStdString()); });
    auto* gate = new RefreshGate(this, [this] { refresh(); });
    gate->watch(context.stateSignals, {Aspect::search});
    refresh();
}


void SearchMediaField::refresh() {
    const QString text = QString::fromStdString(state_.searchText());
    if (field_->text() != text) field_->setText(text);
}

StageFormatItem::StageFormatItem(Kind kind, ViewContext& context, QWidget* parent)
    : QWidget(parent), kind_(kind), context_(context) {
    const bool res = kind == Kind::resolution;
    setObjectName(res ? QStringLiteral("resolutionItem") : QStringLiteral("frameRateItem"));
    AppState& s = context.state;
    GlassMenuPicker::Binding binding;
    if (res) {
        binding.selection = [&s] { return QString::fromStdString(s.resolution()); };
        binding.select = [&s](const QString& v) { s.setResolution(v.toStdString()); };
        binding.options = [&s] {
            QStringList out;
            for (const auto& o : s.listedResolutions()) out << QString::fromStdString(o);
            return out;
        };
    } else {
        binding.selection = [&s] { return QString::fromStdString(s.frameRate()); };
        binding.select = [&s](const QString& v) { s.setFrameRate(v.toStdString()); };
        binding.options = [&s] {
            QStringList out;
            for (const auto& o : s.listedFrameRates()) out << QString::fromStdString(o);
            return out;
        };
    }
    picker_ = new GlassMenuPicker(std::move(binding), res ? QStringLiteral("Output resolution") : QStringLiteral("Frame rate"),
                                  QStringLiteral("Custom…"), [this] { showCustom(); }, this);
    picker_->setObjectName(res ? QStringLiteral("resolutionPicker") : QStringLiteral("frameRatePicker"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(picker_);
    auto* gate = new RefreshGate(this, [this] { refresh(); });
    gate->watch(context.stateSignals, {Aspect::program, Aspect::settings});
}

void StageFormatItem::refresh() { picker_->refresh(); }

void StageFormatItem::showCustom() {
    if (tip_) return;
    Popover* tip = nullptr;
    if (kind_ == Kind::frameRate)
        tip = new CustomFrameRateTipView(context_, this);
    else
        tip = new CustomResolutionTipView(context_, this);
    tip_ = tip;
    // The tip goes when it closes; it remembers the format in force as it does.
    connect(tip, &Popover::closed, tip, &QObject::deleteLater);
    tip->showAt(QRect(picker_->mapToGlobal(QPoint(0, 0)), picker_->size()));
}

MainWindowRoot::MainWindowRoot(ViewContext& context, QMainWindow& window, OmbryCommands& commands)
    : QObject(&window), context_(context) {
    toolbar_ = new QToolBar(QStringLiteral("Toolbar"), &window);
    toolbar_->setObjectName(QStringLiteral("mainToolbar"));
    toolbar_->setMovable(false);
    toolbar_->setFloatable(false);
    toolbar_->setContextMenuPolicy(Qt::PreventContextMenu);
    toolbar_->toggleViewAction()->setEnabled(false);
    toolbar_->setStyleSheet(QStringLiteral("QToolBar { border: none; border-bottom: 1px solid rgba(255,255,255,0.12);"
                                           " padding: 6px 10px; }"));
    toolbar_->layout()->setSpacing(8);
    window.addToolBar(Qt::TopToolBarArea, toolbar_);

    project_ = new ProjectMenuItem(context, commands, toolbar_);
    toolbar_->addWidget(project_);
    search_ = new SearchMediaField(context, toolbar_);
    toolbar_->addWidget(search_);
    addMedia_ = new AddMediaItem(context, toolbar_);
    toolbar_->addWidget(addMedia_);
    auto* spacer = new QWidget(toolbar_);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    toolbar_->addWidget(spacer);
    companionEntry_ = toolbar_->addWidget(new CompanionPill(context, toolbar_));
    remoteEntry_ = toolbar_->addWidget(new RemotePill(context, toolbar_));
    resolution_ = new StageFormatItem(StageFormatItem::Kind::resolution, context, toolbar_);
    toolbar_->addWidget(resolution_);
    frameRate_ = new StageFormatItem(StageFormatItem::Kind::frameRate, context, toolbar_);
    toolbar_->addWidget(frameRate_);
    output_ = new OutputStatusPill(context, toolbar_);
    toolbar_->addWidget(output_);

    auto* gate = new RefreshGate(toolbar_, [this] { refresh(); });
    gate->watch(context.stateSignals, {Aspect::counts});
    refresh();
}

void MainWindowRoot::refresh() {
    companionEntry_->setVisible(context_.state.companionClientCount() >= 1);
    remoteEntry_->setVisible(context_.state.remoteClientCount() >= 1);
}

}  // namespace ombry::ui
