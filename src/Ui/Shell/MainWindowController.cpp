#include "Ui/Shell/MainWindowController.hpp"

#include <QApplication>
#include <QCloseEvent>
#include <QScopeGuard>
#include <QGuiApplication>
#include <QScreen>
#include <QSplitter>
#include <QVBoxLayout>
#include <QWindow>

#include "Ui/Bridge/DialogService.hpp"
#include "Ui/Bridge/Preferences.hpp"
#include "Ui/Properties/PropertiesWindowView.hpp"
#include "Ui/Settings/SettingsView.hpp"
#include "Ui/Shell/MainWindowRules.hpp"
#include "Ui/Shell/MainWindowRoot.hpp"
#include "Ui/Shell/OmbryCommands.hpp"
#include "Ui/Shell/RootChromeView.hpp"
#include "Ui/Shell/StatusBarView.hpp"
#include "Ui/Shell/ShowKeys.hpp"

namespace ombry::ui {

using namespace mainwindow;

MainWindowController::MainWindowController(ViewContext context, ColumnFactories columns, QWidget* parent)
    : QMainWindow(parent), context_(std::move(context)) {
    Preferences& prefs = context_.preferences;
    hadSavedSplit_ = prefs.splitState().has_value();
    setObjectName(QStringLiteral("ombry.main"));
    setWindowTitle(QStringLiteral("Ombry"));
    setMinimumSize(minWidth, minHeight);

    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("mainContent"));
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    chrome_ = new QVBoxLayout();
    chrome_->setContentsMargins(0, 0, 0, 0);
    chrome_->setSpacing(0);
    layout->addLayout(chrome_);

    split_ = new QSplitter(Qt::Horizontal, central);
    split_->setObjectName(QStringLiteral("mainSplit"));
    split_->setHandleWidth(1);
    split_->setChildrenCollapsible(false);
    layout->addWidget(split_, 1);
    auto make = [&](const ColumnFactories::Factory& f, const char* name) {
        QWidget* w = f ? f(context_, split_) : nullptr;
        return w ? w : placeholderColumn(name, split_);
    };
    sidebar_ = make(columns.sidebar, "sidebar");
    board_ = make(columns.board, "board");
    program_ = make(columns.programColumn, "programColumn");
    sidebar_->setMinimumWidth(sidebarMin);
    sidebar_->setMaximumWidth(sidebarMax);
    board_->setMinimumWidth(boardMin);
    program_->setMinimumWidth(programMin);
    split_->addWidget(sidebar_);
    split_->addWidget(board_);
    split_->addWidget(program_);
    // The board takes up width changes; the side columns keep theirs.
    split_->setStretchFactor(0, 0);
    split_->setStretchFactor(1, 1);
    split_->setStretchFactor(2, 0);
    setCentralWidget(central);
    commands_ = new OmbryCommands(context_, *this);
    root_ = new MainWindowRoot(context_, *this, *commands_);

    // Saved geometry first; else the earlier version's frame; else the screen's available area.
    if (auto saved = prefs.windowFrameText())
        if (auto stripped = strippedTilingState(*saved)) prefs.setWindowFrameText(*stripped);
    if (!restoreFrame()) {
        placeFirstFrame();
        saveFrame();
    }
    prefs.removeLegacyKeys();
    if (hadSavedSplit_) split_->restoreState(*prefs.splitState());

    saveTimer_.setSingleShot(true);
    saveTimer_.setInterval(500);
    connect(&saveTimer_, &QTimer::timeout, this, &MainWindowController::saveState);
    connect(split_, &QSplitter::splitterMoved, this, [this] { saveTimer_.start(); });

    // Banners and the questions of the state above the columns; the status bar below them.
    chromeView_ = new RootChromeView(context_, central);
    chrome_->addWidget(chromeView_);
    setStatusBar(new StatusBarView(context_, this));
    connectCommandHooks();

    definePropertiesWindow(context_.windows, context_.state, context_.stateSignals);
    defineSettingsWindow(context_.windows,
                         SettingsContext{context_.state, context_.stateSignals, context_.preferences, context_.reveal, context_.updates, {},
                                         &context_.dialogs});

    // Show keys work whatever widget has focus, while this window is the active one.
    AppState& state = context_.state;
    state.focusInTextInput = [] { return isTextInput(QApplication::focusWidget()); };
    state.mainWindowIsKey = [this] { return isActiveWindow(); };
    qApp->installEventFilter(new ShowKeys(state, this));
}

// The menu items that open the slides link sheet and check for updates.
void MainWindowController::connectCommandHooks() {
    CommandHooks hooks = commands_->hooks();
    hooks.importSlidesFromLink = [this] { context_.state.setSlidesLinkSheetOpen(true); };
    if (UpdateControls* updates = context_.updates) {
        QPointer<UpdateControls> guarded(updates);
        hooks.checkForUpdates = [guarded] {
            if (guarded) guarded->checkForUpdates();
        };
        hooks.canCheckForUpdates = [guarded] { return guarded && guarded->canCheckForUpdates(); };
        connect(updates, &UpdateControls::changed, commands_, &OmbryCommands::refresh);
    }
    commands_->setHooks(std::move(hooks));
}

MainWindowController::~MainWindowController() {
    if (saveTimer_.isActive()) saveState();
    context_.state.focusInTextInput = nullptr;
    context_.state.mainWindowIsKey = nullptr;
}

namespace {
// The screens' available areas, the primary screen's first.
std::vector<QRect> availableAreas() {
    std::vector<QRect> areas;
    QScreen* primary = QGuiApplication::primaryScreen();
    if (primary) areas.push_back(primary->availableGeometry());
    for (QScreen* s : QGuiApplication::screens())
        if (s != primary) areas.push_back(s->availableGeometry());
    return areas;
}
}  // namespace

bool MainWindowController::restoreFrame() {
    const auto text = context_.preferences.windowFrameText();
    if (!text) return false;
    std::optional<SavedFrame> saved = savedFrame(*text);
    if (!saved) {
        // As earlier builds stored it: the toolkit's own geometry, taken as a frame without margins.
        const auto bytes = context_.preferences.windowGeometry();
        if (!bytes || bytes->isEmpty() || !restoreGeometry(*bytes)) return false;
        saved = SavedFrame{geometry(), {}};
    }
    // The client area, so that a window manager's title bar and borders land on the saved frame again.
    setGeometry(fittedFrame(*saved, availableAreas()).client());
    return true;
}

void MainWindowController::saveFrame() {
    const QRect frame = frameGeometry(), client = geometry();
    const QMargins margins(client.left() - frame.left(), client.top() - frame.top(), frame.right() - client.right(),
                           frame.bottom() - client.bottom());
    context_.preferences.setWindowFrameText(frameText({frame, margins}));
}

void MainWindowController::placeFirstFrame() {
    const std::vector<QRect> screens = availableAreas();
    if (auto text = context_.preferences.legacyFrameText())
        if (auto frame = legacyFrame(*text, screens)) {
            setGeometry(*frame);
            return;
        }
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect available = screen->availableGeometry();
    // The frame (title bar and borders, once a window manager adds them) fills the available area.
    resize(available.size().expandedTo(QSize(minWidth, minHeight)));
    move(available.topLeft());
}

void MainWindowController::saveState() {
    saveTimer_.stop();
    saveFrame();
    if (split_->sizes().value(0) > 0) context_.preferences.setSplitState(split_->saveState());
}

void MainWindowController::showWindow() {
    show();
    syncProjectNameWidth();
    if (!hadSavedSplit_ && !dividersPlaced_) {
        centralWidget()->layout()->activate();
        const auto sizes = firstRunSizes(split_->width(), split_->handleWidth());
        if (!sizes.empty()) {
            split_->setSizes(QList<int>(sizes.begin(), sizes.end()));
            dividersPlaced_ = true;
        }
    }
    if (windowHandle()) windowHandle()->installEventFilter(this);
    updateVisibility();
}

void MainWindowController::syncProjectNameWidth() {
    context_.state.setProjectNameWidth(projectNameWidth(frameGeometry().width()));
}

void MainWindowController::confirmQuitWhileOnAir(std::function<void(bool)> done) {
    const QuitQuestion q = quitQuestion(context_.state.program.isLive(), context_.state.showActivitySummary());
    DialogRequest r;
    r.style = DialogRequest::Style::warning;
    r.message = q.message;
    r.informative = q.informative;
    r.buttons = {QStringLiteral("Cancel"), QStringLiteral("Quit")};
    r.destructive = 1;
    r.cancel = 0;
    context_.dialogs.ask(this, r, [done = std::move(done)](int button) { done(button == 1); });
}

void MainWindowController::closeForQuit() {
    closing_ = true;
    saveState();
    // A close asked while the close button's own event is handled is carried out right after it.
    if (inCloseEvent_)
        QMetaObject::invokeMethod(this, [this] { close(); }, Qt::QueuedConnection);
    else
        close();
}

void MainWindowController::closeEvent(QCloseEvent* event) {
    if (closing_) {
        event->accept();
        return;
    }
    event->ignore();
    inCloseEvent_ = true;
    const auto done = qScopeGuard([this] { inCloseEvent_ = false; });
    if (onCloseRequested) {
        onCloseRequested();
        return;
    }
    // Standalone (no application around it): ask, then close.
    AppState& s = context_.state;
    if (!quitConfirmed && (s.program.isLive() || s.outputReady())) {
        QPointer<MainWindowController> self(this);
        confirmQuitWhileOnAir([self](bool quit) {
            if (!self || !quit) return;
            self->quitConfirmed = true;
            self->closeForQuit();
        });
        return;
    }
    closeForQuit();
}

void MainWindowController::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    // After the event has been handled, as the window's size settles.
    QMetaObject::invokeMethod(this, [this] { syncProjectNameWidth(); }, Qt::QueuedConnection);
    if (isVisible()) saveTimer_.start();
}

void MainWindowController::moveEvent(QMoveEvent* event) {
    QMainWindow::moveEvent(event);
    if (isVisible()) saveTimer_.start();
}

void MainWindowController::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange) updateVisibility();
    if (event->type() == QEvent::ActivationChange) context_.state.setMainWindowFocused(isActiveWindow());
}

void MainWindowController::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    updateVisibility();
}

void MainWindowController::hideEvent(QHideEvent* event) {
    QMainWindow::hideEvent(event);
    updateVisibility();
}

bool MainWindowController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == windowHandle() && event->type() == QEvent::Expose) updateVisibility();
    return QMainWindow::eventFilter(watched, event);
}

void MainWindowController::updateVisibility() {
    const QWindow* w = windowHandle();
    const bool visible = isVisible() && !isMinimized() && (!w || w->isExposed());
    context_.state.setUiVisible(visible);
}

}  // namespace ombry::ui
