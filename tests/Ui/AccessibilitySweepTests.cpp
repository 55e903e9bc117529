// The accessibility sweep: every control of the main window, each settings pane and the properties window
// has a name a screen reader can speak, and Tab moves through each pane in reading order.
#include <gtest/gtest.h>

#include <QStatusBar>

#include <filesystem>

#include "AccessibilitySweep.hpp"
#include "Engine/Library/Store.hpp"
#include "UiTestSupport.hpp"
#include "Ui/Properties/PropertiesWindowView.hpp"
#include "Ui/Settings/SettingsView.hpp"

namespace ombry::ui_test {
namespace {

TEST(TabOrderRule, ReadsLeftToRightWithinARowThenTopToBottom) {
    const QRect topLeft(0, 0, 100, 20), topRight(120, 2, 60, 16), below(0, 40, 100, 20), belowRight(120, 40, 60, 20);
    // A tall list on the left beside two fields stacked on the right.
    const QRect list(0, 100, 100, 80), upper(120, 100, 100, 20), lower(120, 150, 100, 20);
    struct Case {
        const char* what;
        std::vector<QRect> chain;
        std::vector<int> breaks;
    };
    for (const Case& c : std::vector<Case>{
             {"one row, left to right", {topLeft, topRight}, {}},
             {"one row, right to left", {topRight, topLeft}, {0}},
             {"rows top to bottom, the next row starting at the left", {topLeft, topRight, below, belowRight}, {}},
             {"a row back up", {below, topRight}, {0}},
             {"a column of fields, bottom first", {topLeft, below, topRight}, {1}},
             {"the list, then the fields beside it", {list, upper, lower}, {}},
             {"the fields, then the list beside them", {upper, lower, list}, {1}},
             {"the same control twice", {topLeft, topLeft}, {}},
             {"one control", {topLeft}, {}},
         }) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(tabOrderBreaks(c.chain), c.breaks);
    }
}

class AccessibilitySweep : public UiTest {
protected:
    void TearDown() override {
        delete windows.window("settings");
        delete windows.window("properties");
        UiTest::TearDown();
    }
    // A show in progress: a playlist of a video, a still and a tone on the board, the video live, an issue
    // in a banner, the remote-control server's addresses known, uploads on and a search folder for offline clips set, so
    // that the panes show their optional rows.
    void prepareShow() {
        make();
        AppSettings s = app->settings();
        s.mediaUploadEnabled = true;
        s.mediaUploadToken = AppSettings::makeUploadToken();
        s.autoRelinkFolderPath = test::tempDir("search").string();
        app->setSettings(s);
        app->setControlServerInfo(
            ServerInfo{7341, "http://localhost:7341/", {"http://localhost:7341/", "http://192.0.2.20:7341/"}});
        video_ = add(video());
        // Known facts show the trim fields; a managed file gives the media pane a downloaded row.
        app->library.setMeta(video_.id, [](MediaItem& m) {
            m.duration = 60;
            m.fps = 30;
            m.width = 1280;
            m.height = 720;
        });
        std::filesystem::copy_file(image(), Store::mediaDir() / "logo.png", std::filesystem::copy_options::overwrite_existing);
        const MediaItem still = add(image());
        const MediaItem tone = add(audio());
        const Group g = playlist({video_.id, still.id, tone.id});
        app->setSelection({SidebarItem::playlist(g.id)});
        window();
        ASSERT_TRUE(app->trigger(video_, false));
        app->setSelectedItemId(video_.id);
        IssueLog::shared().report(IssueCode::mediaFormat, "a.mp4");
        turn();
    }
    static void expectSwept(QWidget* window, const std::vector<QWidget*>& panes) {
        EXPECT_EQ(unnamedControls(window).join("\n").toStdString(), "") << window->objectName().toStdString();
        for (QWidget* pane : panes) {
            ASSERT_TRUE(pane);
            EXPECT_EQ(tabOrderBreaksIn(pane).join("\n").toStdString(), "") << pane->objectName().toStdString();
        }
    }
    MediaItem video_;
};

TEST_F(AccessibilitySweep, MainWindowNamesEveryControlAndTabsInReadingOrder) {
    prepareShow();
    auto& w = window();
    std::vector<QWidget*> panes;
    for (const char* name : {"mainToolbar", "sidebar", "board", "programColumn"})
        panes.push_back(w.findChild<QWidget*>(name));
    panes.push_back(w.statusBar());
    expectSwept(&w, panes);
}

TEST_F(AccessibilitySweep, EverySettingsPaneNamesEveryControlAndTabsInReadingOrder) {
    prepareShow();
    for (SettingsSection section : allSettingsSections) {
        SCOPED_TRACE(std::string(rawValue(section)));
        ui::openSettings(windows, *app, section);
        auto* w = dynamic_cast<ui::SettingsView*>(windows.window("settings"));
        ASSERT_TRUE(w);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(w));
        turn();
        ASSERT_EQ(w->paneSection(), section);
        expectSwept(w, {w->pane()});
    }
}

TEST_F(AccessibilitySweep, PropertiesWindowNamesEveryControlAndTabsInReadingOrder) {
    prepareShow();
    const MediaItem gone = addMissing();
    for (const MediaItem& clip : {video_, gone}) {
        SCOPED_TRACE(clip.name);
        ui::openProperties(windows, *app, clip.id);
        auto* w = windows.window("properties");
        ASSERT_TRUE(w);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(w));
        turn();
        expectSwept(w, {w});
    }
}

}  // namespace
}  // namespace ombry::ui_test
