#pragma once
// Widget tests over a real AppState (real renderer on the headless GL context, the virtual clock, the
// recording servers of tests/App). Link your test with UiTestMain.cpp through ombry_ui_test() in
// tests/Ui/CMakeLists.txt, derive the fixture from UiTest and make the views from context():
//
//     TEST_F(UiTest, SomethingShows) {
//         make();                                   // the AppState (AppStateTest::make)
//         auto& w = window();                       // the whole main window, or build one view:
//         MyView view(context());
//         view.show();
//         QTRY_COMPARE(view.findChild<QLabel*>("title")->text(), QString("All Playlists"));
//     }
//
// Qt warnings fail the test; offscreen platform, DejaVu Sans, scale 1.
#include <QApplication>
#include <QRegularExpression>
#include <QTest>

#include <memory>
#include <vector>

#include "AppStateFixture.hpp"
#include "Ui/Bridge/DesktopSeams.hpp"
#include "Ui/Bridge/DialogService.hpp"
#include "Ui/Bridge/Preferences.hpp"
#include "Ui/Bridge/StateSignals.hpp"
#include "Ui/Bridge/WindowRegistry.hpp"
#include "Ui/Shell/MainWindowController.hpp"

namespace ombry::ui_test {

// Warnings a test expects may be let through by a pattern for the rest of the test.
inline std::vector<QRegularExpression>& allowedWarnings() {
    static std::vector<QRegularExpression> patterns;
    return patterns;
}
inline bool warningAllowed(const QString& message) {
    for (const auto& p : allowedWarnings())
        if (p.match(message).hasMatch()) return true;
    return false;
}

class UiTest : public app_test::AppStateTest {
protected:
    MemoryDefaults defaults;
    std::unique_ptr<ui::Preferences> preferences = std::make_unique<ui::Preferences>(defaults);
    ui::ScriptedDialogs dialogs;
    ui::WindowRegistry windows;
    ui::FixedPointerState pointer;
    // The files the views asked the file manager to show.
    struct RecordingReveal final : ui::FileReveal {
        std::vector<std::vector<std::filesystem::path>> shown;
        std::vector<std::filesystem::path> opened;
        void reveal(const std::vector<std::filesystem::path>& files) override { shown.push_back(files); }
        void openFolder(const std::filesystem::path& folder) override { opened.push_back(folder); }
    } reveal;
    std::unique_ptr<ui::StateSignals> stateSignals;
    std::unique_ptr<ui::MainWindowController> mainWindow;

    void TearDown() override {
        mainWindow.reset();
        stateSignals.reset();
        windows.closeAll();
        QApplication::processEvents();
        allowedWarnings().clear();
        AppStateTest::TearDown();
    }

    // The state, as AppStateTest::make, with its stateSignals.
    AppState& make() {
        AppStateTest::make();
        stateSignals = std::make_unique<ui::StateSignals>(*app);
        return *app;
    }
    ui::ViewContext context() {
        if (!stateSignals) make();
        return ui::ViewContext{*app, *stateSignals, *preferences, dialogs, windows, pointer, {}, &reveal};
    }
    // The main window over the state (made when needed), shown and exposed.
    ui::MainWindowController& window(ui::ColumnFactories columns = ui::defaultColumns()) {
        if (!mainWindow) {
            mainWindow = std::make_unique<ui::MainWindowController>(context(), std::move(columns));
            mainWindow->showWindow();
            EXPECT_TRUE(QTest::qWaitForWindowExposed(mainWindow.get()));
        }
        return *mainWindow;
    }
    // Runs the event loop's pending events (refreshes are posted for the next turn).
    static void turn() {
        QApplication::processEvents();
        QApplication::processEvents();
    }
};

}  // namespace ombry::ui_test
