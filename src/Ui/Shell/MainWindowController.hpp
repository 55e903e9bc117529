#pragma once
// The main window: a three-pane splitter (sidebar, board, program column), its remembered geometry, the
// project-name width, visibility reporting and the on-air close question. The columns come from
// ColumnFactories (Columns.hpp); the menus, toolbar and status bar are added with QMainWindow's own
// menuBar(), addToolBar() and setStatusBar(); banners go into chromeLayout() above the splitter.
#include <QMainWindow>
#include <QPointer>
#include <QTimer>

#include <functional>

#include "Ui/Shell/Columns.hpp"

class QSplitter;
class QVBoxLayout;

namespace ombry::ui {

class OmbryCommands;
class MainWindowRoot;
class RootChromeView;

class MainWindowController final : public QMainWindow {
    Q_OBJECT
public:
    MainWindowController(ViewContext context, ColumnFactories columns = defaultColumns(), QWidget* parent = nullptr);
    ~MainWindowController() override;

    // Shows the window; at the first show without saved split positions, places the dividers.
    void showWindow();
    // Asks whether to quit while on air; `done(true)` when the operator chose "Quit".
    void confirmQuitWhileOnAir(std::function<void(bool)> done);
    bool quitConfirmed = false;
    // The close button asks this instead of closing; the application decides (requestQuit).
    std::function<void()> onCloseRequested;
    // Closes for good: the application is ending.
    void closeForQuit();
    // Writes the geometry and split positions now (pending writes are otherwise a moment behind).
    void saveState();

    QSplitter* split() const { return split_; }
    QWidget* sidebar() const { return sidebar_; }
    QWidget* board() const { return board_; }
    QWidget* programColumn() const { return program_; }
    QVBoxLayout* chromeLayout() const { return chrome_; }
    RootChromeView* chrome() const { return chromeView_; }
    ViewContext& context() { return context_; }
    // The menu bar's commands; other parts of the window connect their targets through its hooks.
    OmbryCommands& commands() const { return *commands_; }
    // The toolbar and its items.
    MainWindowRoot& root() const { return *root_; }
    bool hadSavedSplit() const { return hadSavedSplit_; }
    void syncProjectNameWidth();

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool restoreFrame();
    void saveFrame();
    void placeFirstFrame();
    void connectCommandHooks();
    void updateVisibility();

    ViewContext context_;
    QSplitter* split_ = nullptr;
    QWidget* sidebar_ = nullptr;
    QWidget* board_ = nullptr;
    QWidget* program_ = nullptr;
    QVBoxLayout* chrome_ = nullptr;
    OmbryCommands* commands_ = nullptr;
    MainWindowRoot* root_ = nullptr;
    RootChromeView* chromeView_ = nullptr;
    bool hadSavedSplit_ = false;
    bool dividersPlaced_ = false;
    bool closing_ = false;
    bool inCloseEvent_ = false;
    QTimer saveTimer_;
};

}  // namespace ombry::ui
