// The toolbar over a real state: the project menu, search, Add Media, the stage-format pickers with their
// custom tips, and the pills.
#include <QAction>
#include <QLabel>
#include <QFontMetricsF>
#include <QLineEdit>
#include <QMenu>
#include <QToolBar>

#include "UiTestSupport.hpp"
#include "Engine/Library/Store.hpp"
#include "Ui/Program/ConnectionPills.hpp"
#include "Ui/Program/PillRules.hpp"
#include "Ui/Program/GlassMenuPicker.hpp"
#include "Ui/Program/StageFormatTips.hpp"
#include "Ui/Settings/SettingsView.hpp"
#include "Ui/Settings/StageSizeFields.hpp"
#include "Ui/Shell/MainWindowRoot.hpp"
#include "Ui/Shell/OmbryCommands.hpp"
#include "Ui/Shell/Theme.hpp"
#include "Ui/Shell/ToolbarRules.hpp"

namespace ombry::ui_test {
namespace {

namespace fs = std::filesystem;

class ToolbarTest : public UiTest {
protected:
    ui::MainWindowRoot& root() { return window().root(); }
    static QStringList titles(QMenu* menu) {
        QStringList out;
        for (QAction* a : menu->actions()) out << (a->isSeparator() ? QStringLiteral("-") : a->text());
        return out;
    }
    static QStringList entries(ui::GlassMenuPicker* picker, QStringList* checked = nullptr) {
        picker->rebuildMenu();
        QStringList out;
        for (QAction* a : picker->pickerMenu()->actions()) {
            if (a->isSeparator()) continue;
            out << a->text();
            if (checked && a->isChecked()) *checked << a->text();
        }
        return out;
    }
    static QAction* entry(ui::GlassMenuPicker* picker, const QString& text) {
        picker->rebuildMenu();
        for (QAction* a : picker->pickerMenu()->actions())
            if (a->text() == text) return a;
        return nullptr;
    }
};

TEST_F(ToolbarTest, TheToolbarHoldsItsItemsInOrderEachWithAnAccessibleName) {
    make();
    QToolBar* bar = root().toolbar();
    QStringList names;
    for (QAction* a : bar->actions())
        if (auto* w = bar->widgetForAction(a); w && !w->objectName().isEmpty()) names << w->objectName();
    EXPECT_EQ(names, (QStringList{"projectMenu", "searchMedia", "addMedia", "companionPill", "remotePill",
                                  "resolutionItem", "frameRateItem", "outputStatusPill"}));
    for (QWidget* w : {static_cast<QWidget*>(root().projectMenu()), static_cast<QWidget*>(root().search()->field()),
                       static_cast<QWidget*>(root().addMedia()), static_cast<QWidget*>(root().resolution()->picker()),
                       static_cast<QWidget*>(root().frameRate()->picker()), static_cast<QWidget*>(root().outputPill())})
        EXPECT_FALSE(w->accessibleName().isEmpty()) << w->objectName().toStdString();
    EXPECT_EQ(root().search()->field()->placeholderText(), "Search media");
    EXPECT_EQ(root().addMedia()->text(), "Add Media");
    EXPECT_EQ(root().resolution()->picker()->toolTip(), "Output resolution");
    EXPECT_EQ(root().frameRate()->picker()->toolTip(), "Frame rate");
    EXPECT_EQ(root().projectMenu()->toolTip(), "Project");
}

TEST_F(ToolbarTest, TheProjectLabelIsCutToTheWidthTheWindowGivesIt) {
    make();
    window();
    app->library.setProjectName("Annual General Meeting of the Regional Choir Association 2026 final");
    const QFontMetricsF metrics(ui::toolbar::projectLabelFont());
    for (int width : {200, 240, 480}) {
        app->setProjectNameWidth(width);
        turn();
        const QString shown = root().projectMenu()->text();
        EXPECT_LE(metrics.horizontalAdvance(shown), width);
        const QString full = QString::fromStdString(app->library.projectName());
        const int kept = int(shown.size()) - 1;
        const int front = ui::toolbar::frontCharacters(kept + 1);
        EXPECT_GT(metrics.horizontalAdvance(full.left(front) + QChar(0x2026) + full.right(kept + 1 - front)), width)
            << "one more character would not fit in " << width;
        EXPECT_TRUE(shown.startsWith(full.left(ui::toolbar::frontCharacters(kept))));
    }
    app->library.setProjectName("Show");
    app->setProjectNameWidth(200);
    turn();
    EXPECT_EQ(root().projectMenu()->text(), "Show");
}

TEST_F(ToolbarTest, TheProjectMenuOffersTheProjectCommandsAndShowsTheFileInTheFileManager) {
    make();
    ui::ProjectMenuItem* item = root().projectMenu();
    EXPECT_EQ(titles(item->projectMenu()),
              (QStringList{"New Project…", "Open Project…", "Open Recent", "-", "Save Project As…",
                           "Show in File Manager", "-", "Media Storage…"}));
    const fs::path other = Store::projectsDir() / "Second.ombry";
    Store::saveDoc(ProjectDoc::make("Second"), other);
    app->projects().openProject(other);
    turn();
    ASSERT_TRUE(item->recentMenu()->menuAction()->isEnabled());
    EXPECT_EQ(item->recentMenu()->actions().value(0)->text(), "Second");

    item->projectMenu()->findChild<QAction*>("showProjectFile")->trigger();
    ASSERT_EQ(reveal.shown.size(), 1u);
    EXPECT_EQ(reveal.shown[0], std::vector<fs::path>{other});

    // "Media Storage…" puts the settings on their media pane, also when the window is open already.
    ui::openSettings(windows, *app, SettingsSection::output);
    item->projectMenu()->findChild<QAction*>("mediaStorage")->trigger();
    EXPECT_EQ(app->settingsSection(), SettingsSection::media);
    ASSERT_TRUE(windows.window("settings"));
    EXPECT_TRUE(windows.window("settings")->isVisible());
}

TEST_F(ToolbarTest, AddMediaAndSearchGoThroughTheState) {
    make();
    QTest::mouseClick(root().addMedia(), Qt::LeftButton);
    ASSERT_EQ(panels.openRequests.size(), 1u);
    EXPECT_EQ(panels.openRequests[0].title, "Add Media");
    EXPECT_TRUE(panels.openRequests[0].allowsMultiple);

    QLineEdit* field = root().search()->field();
    QTest::keyClicks(field, "Ab");
    EXPECT_EQ(app->searchText(), "Ab") << "each edit is written at once";
    app->setSearchText("intro");
    turn();
    EXPECT_EQ(field->text(), "intro");
}

TEST_F(ToolbarTest, ThePickersOfferPresetsThenRememberedValuesAndSetTheStage) {
    make();
    ui::GlassMenuPicker* res = root().resolution()->picker();
    ui::GlassMenuPicker* rate = root().frameRate()->picker();
    EXPECT_EQ(res->text(), "1920x1080");
    QStringList checked;
    EXPECT_EQ(entries(res, &checked), (QStringList{"1920x1080", "1280x720", "3840x2160", "Custom…"}));
    EXPECT_EQ(checked, QStringList{"1920x1080"});
    entry(res, "1280x720")->trigger();
    EXPECT_EQ(app->resolution(), "1280x720");
    EXPECT_EQ(res->text(), "1280x720");

    app->rememberCustomFrameRate("50p");
    turn();
    EXPECT_EQ(entries(rate), (QStringList{"60p", "30p", "25p", "24p", "50p", "Custom…"}));
    entry(rate, "50p")->trigger();
    EXPECT_EQ(app->stageFps(), 50);

    // A size set elsewhere that is neither offered nor remembered: shown, nothing checked.
    app->setResolution("1000x500");
    turn();
    EXPECT_EQ(res->text(), "1000x500");
    checked.clear();
    entries(res, &checked);
    EXPECT_TRUE(checked.isEmpty());
}

TEST_F(ToolbarTest, TheFrameRateTipSetsTheStageAsEditsAreCommittedAndRemembersTheRateWhenItCloses) {
    make();
    window();
    ui::StageFormatItem* item = root().frameRate();
    // Closed without edits on a preset: nothing remembered.
    item->showCustom();
    ASSERT_TRUE(item->tip());
    auto* tip = static_cast<ui::CustomFrameRateTipView*>(item->tip());
    EXPECT_EQ(tip->field()->text(), "60");
    tip->close();
    turn();
    EXPECT_TRUE(app->settings().customFrameRates.empty());
    QTRY_VERIFY(!item->tip());

    item->showCustom();
    tip = static_cast<ui::CustomFrameRateTipView*>(item->tip());
    QLineEdit* field = tip->field();
    struct Case {
        const char* typed;
        std::int64_t fps;
    };
    for (const Case& c : {Case{"0", 60}, Case{"abc", 60}, Case{"500", 240}, Case{"1000", 240}, Case{"48", 48}}) {
        field->selectAll();
        QTest::keyClicks(field, c.typed);
        QTest::keyClick(field, Qt::Key_Return);
        EXPECT_EQ(app->stageFps(), c.fps) << c.typed;
        EXPECT_EQ(field->text(), QString::number(c.fps)) << "the field shows what the stage holds";
    }
    // A value still being typed counts when the tip closes.
    field->selectAll();
    QTest::keyClicks(field, "1200");
    tip->close();
    EXPECT_EQ(app->stageFps(), 240);
    EXPECT_EQ(app->settings().customFrameRates, std::vector<std::string>{"240p"});
    turn();
    EXPECT_EQ(root().frameRate()->picker()->text(), "240p");
}

TEST_F(ToolbarTest, TheResolutionTipSetsTheStageFieldByFieldAndRemembersOnlyTheFinalSizeWhenItCloses) {
    make();
    window();
    ui::StageFormatItem* item = root().resolution();
    item->showCustom();
    ASSERT_TRUE(item->tip());
    auto* tip = static_cast<ui::CustomResolutionTipView*>(item->tip());
    EXPECT_EQ(tip->fields()->widthField()->text(), "1920");
    tip->close();
    EXPECT_TRUE(app->settings().customResolutions.empty()) << "a preset is never remembered";
    QTRY_VERIFY(!item->tip());

    item->showCustom();
    tip = static_cast<ui::CustomResolutionTipView*>(item->tip());
    QLineEdit* w = tip->fields()->widthField();
    QLineEdit* h = tip->fields()->heightField();
    w->selectAll();
    QTest::keyClicks(w, "2048");
    QTest::keyClick(w, Qt::Key_Return);
    EXPECT_EQ(app->resolution(), "2048x1080") << "each committed field changes the stage at once";
    h->selectAll();
    QTest::keyClicks(h, "0");
    QTest::keyClick(h, Qt::Key_Return);
    EXPECT_EQ(app->resolution(), "2048x1080") << "below 1 is ignored";
    EXPECT_EQ(h->text(), "1080");
    h->selectAll();
    QTest::keyClicks(h, "1,000");
    QTest::keyClick(h, Qt::Key_Return);
    EXPECT_EQ(app->resolution(), "2048x1080") << "not a whole number: not applied";
    h->selectAll();
    QTest::keyClicks(h, "858");
    QTest::keyClick(h, Qt::Key_Return);
    EXPECT_EQ(app->resolution(), "2048x858");
    tip->close();
    EXPECT_EQ(app->settings().customResolutions, std::vector<std::string>{"2048x858"}) << "only the final size";
    turn();
    EXPECT_EQ(entries(root().resolution()->picker()).value(3), "2048x858");

    // A width past the stage's limit, still being typed as the tip closes: the stage's 8192 is remembered.
    QTRY_VERIFY(!item->tip());
    item->showCustom();
    tip = static_cast<ui::CustomResolutionTipView*>(item->tip());
    tip->fields()->widthField()->selectAll();
    QTest::keyClicks(tip->fields()->widthField(), "10000");
    tip->close();
    EXPECT_EQ(app->resolution(), "8192x858");
    EXPECT_EQ(app->settings().customResolutions, (std::vector<std::string>{"2048x858", "8192x858"}));
}

TEST_F(ToolbarTest, TheOutputPillCutsToBlackAndRestores) {
    make();
    ui::OutputStatusPill* pill = root().outputPill();
    EXPECT_EQ(pill->text(), "OFFLINE");
    QTest::mouseClick(pill, Qt::LeftButton);
    EXPECT_TRUE(app->program.state().black);
    turn();
    EXPECT_EQ(pill->text(), "BLACK");
    EXPECT_EQ(pill->tint(), ui::theme::black());
    EXPECT_EQ(pill->toolTip(), "Restore output");
    QTest::mouseClick(pill, Qt::LeftButton);
    turn();
    EXPECT_FALSE(app->program.state().black);
    EXPECT_EQ(pill->text(), "OFFLINE");
    const MediaItem clip = add(video("red"));
    ASSERT_TRUE(app->trigger(clip, false));
    turn();
    EXPECT_EQ(pill->text(), "LIVE");
    EXPECT_EQ(pill->toolTip(), "Cut to black");
}

TEST_F(ToolbarTest, ConnectionPillsShowWhileRemotesAreConnectedAndTheirTipsListThem) {
    make();
    window();
    EXPECT_FALSE(root().remoteEntry()->isVisible());
    EXPECT_FALSE(root().companionEntry()->isVisible());
    control->onClientsChanged(2, 0);
    ble->onClientsChanged(1);
    q.runPending();
    turn();
    ASSERT_TRUE(root().remoteEntry()->isVisible());
    auto* pill = root().toolbar()->findChild<ui::RemotePill*>("remotePill");
    ASSERT_TRUE(pill);
    QTRY_COMPARE(pill->text(), QString("REMOTE \u00D73"));
    EXPECT_EQ(pill->toolTip(), "3 remotes connected over Wi-Fi and Bluetooth");
    EXPECT_TRUE(pill->showsWifi());
    EXPECT_TRUE(pill->showsBluetooth());

    QTest::mouseClick(pill, Qt::LeftButton);
    ui::Popover* tip = pill->tip();
    ASSERT_TRUE(tip);
    QTRY_VERIFY(tip->isVisible());
    QTest::mouseClick(pill, Qt::LeftButton);
    EXPECT_TRUE(tip->isVisible()) << "a tap only ever opens the tip";
    EXPECT_EQ(tip->findChild<QLabel*>("wifiCount")->text(), "2 remotes");
    EXPECT_EQ(tip->findChild<QLabel*>("bluetoothCount")->text(), "1 remote");
    ble->onClientsChanged(0);
    q.runPending();
    q.advance(AppState::clientDropDelay + 0.1);
    turn();
    EXPECT_FALSE(tip->findChild<QWidget*>("bluetoothRow")->isVisible()) << "the tip follows the counts while open";
    EXPECT_TRUE(tip->findChild<QWidget*>("wifiRow")->isVisible());

    control->onClientsChanged(0, 2);
    q.runPending();
    q.advance(AppState::clientDropDelay + 0.1);
    turn();
    EXPECT_FALSE(root().remoteEntry()->isVisible());
    ASSERT_TRUE(root().companionEntry()->isVisible());
    auto* companion = root().toolbar()->findChild<ui::CompanionPill*>("companionPill");
    QTRY_COMPARE(companion->text(), QString("COMPANION \u00D72"));
    EXPECT_EQ(companion->toolTip(), "2 Companion connections");
    companion->openTip();
    ASSERT_TRUE(companion->tip());
    const auto port = app->controlServerInfo() ? std::optional<std::int64_t>(app->controlServerInfo()->port) : std::nullopt;
    EXPECT_EQ(companion->tip()->findChild<QLabel*>("companionCount")->text(), "2 connections");
    EXPECT_EQ(companion->tip()->findChild<QLabel*>("companionCaption")->text(), ui::pills::companionCaption(port));
}

}  // namespace
}  // namespace ombry::ui_test
