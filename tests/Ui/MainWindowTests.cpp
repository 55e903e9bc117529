// The main window over a real state: its columns and sizes, what it remembers, the close question, the
// show keys and the program preview.
#include <QLineEdit>
#include <QScreen>
#include <QSplitter>

#include "UiTestSupport.hpp"
#include "Ui/Program/ProgramPreview.hpp"
#include "Ui/Shell/MainWindowRules.hpp"

namespace ombry::ui_test {
namespace {

TEST_F(UiTest, OpensWithThreeNamedColumnsAndThePreviewAtTheTopOfTheProgramColumn) {
    auto& w = window();
    auto* split = w.findChild<QSplitter*>("mainSplit");
    ASSERT_TRUE(split);
    ASSERT_EQ(split->count(), 3);
    EXPECT_EQ(split->widget(0)->objectName(), "sidebar");
    EXPECT_EQ(split->widget(1)->objectName(), "board");
    EXPECT_EQ(split->widget(2)->objectName(), "programColumn");
    auto* preview = w.findChild<ui::ProgramPreview*>("programPreview");
    ASSERT_TRUE(preview);
    EXPECT_TRUE(split->widget(2)->isAncestorOf(preview));
    EXPECT_LT(preview->mapTo(split->widget(2), QPoint()).y(), 50) << "under the section caption only";
    EXPECT_EQ(w.minimumSize(), QSize(1120, 750));
    EXPECT_EQ(w.windowTitle(), "Ombry");
    // First run: the screen's available area (at least the minimum), the sidebar 245 wide, the program
    // column max(370, 0.28 × split width).
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(w.size(), available.size().expandedTo(QSize(1120, 750)));
    const auto sizes = split->sizes();
    EXPECT_EQ(sizes[0], 245);
    EXPECT_EQ(sizes[2], std::max(370, int(0.28 * split->width())));
    // Saved at once.
    ASSERT_TRUE(preferences->windowFrameText());
    EXPECT_EQ(ui::mainwindow::savedFrame(*preferences->windowFrameText()), (ui::mainwindow::SavedFrame{w.frameGeometry(), {}}));
}

TEST_F(UiTest, ColumnsKeepTheirLimitsAndTheBoardTakesUpResizes) {
    auto& w = window();
    auto* split = w.split();
    // Dragging the sidebar's divider far to the right stops at 320, far to the left at 180.
    QSplitterHandle* handle = split->handle(1);
    auto drag = [&](int dx) {
        QTest::mousePress(handle, Qt::LeftButton, {}, QPoint(0, 10));
        QTest::mouseMove(handle, QPoint(dx, 10));
        QTest::mouseRelease(handle, Qt::LeftButton, {}, QPoint(dx, 10));
    };
    drag(400);
    EXPECT_EQ(split->sizes()[0], 320);
    drag(-400);
    EXPECT_EQ(split->sizes()[0], 180);
    const int program = split->sizes()[2];
    const int board = split->sizes()[1];
    w.resize(w.width() + 200, w.height());
    turn();
    EXPECT_EQ(split->sizes()[2], program);
    EXPECT_EQ(split->sizes()[1], board + 200);
    EXPECT_EQ(split->widget(0)->minimumWidth(), 180);
    EXPECT_EQ(split->widget(1)->minimumWidth(), 476);
    EXPECT_EQ(split->widget(2)->minimumWidth(), 300);
}

TEST_F(UiTest, ASecondStartRestoresTheSavedGeometryAndSplitAndDropsTheLegacyKeys) {
    defaults.set("mainWindowFrame", "{{0, 0}, {1300, 800}}");
    defaults.set("NSSplitView Subview Frames boardProgramSplit", "old");
    {
        auto& w = window();
        EXPECT_EQ(w.size(), QSize(1300, 800)) << "the earlier version's frame is taken once";
        EXPECT_FALSE(defaults.value("mainWindowFrame"));
        EXPECT_FALSE(defaults.value("NSSplitView Subview Frames boardProgramSplit"));
        w.split()->setSizes({200, 700, 398});
        w.resize(1250, 780);
        w.saveState();
        mainWindow.reset();
    }
    ui::MainWindowController again(context());
    EXPECT_TRUE(again.hadSavedSplit());
    again.showWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&again));
    EXPECT_EQ(again.size(), QSize(1250, 780));
    EXPECT_EQ(again.split()->sizes()[0], 200) << "saved dividers are not moved at the first show";
}

TEST_F(UiTest, ResizingSetsTheProjectNameWidthOnTheNextTurn) {
    auto& w = window();
    for (auto [width, want] : std::vector<std::pair<int, int>>{{1400, 480}, {1157, 240}, {1120, 200}}) {
        w.resize(width, 800);
        QTRY_COMPARE(app->projectNameWidth(), want);
    }
}

TEST_F(UiTest, ClosingWhileOnAirAsksAndCancelKeepsTheShow) {
    make();
    const MediaItem clip = add(video());
    auto& w = window();
    // Nothing live: no question.
    ASSERT_TRUE(app->trigger(clip, false));
    advance(0.1);
    dialogs.answers = {0};  // "Cancel"
    w.close();
    ASSERT_EQ(dialogs.asked.size(), 1u);
    EXPECT_EQ(dialogs.asked[0].message, "Quit Ombry while on air?");
    EXPECT_EQ(dialogs.asked[0].informative, "1 layer is live. Quitting stops all output immediately.");
    EXPECT_EQ(dialogs.asked[0].buttons, QStringList({"Cancel", "Quit"}));
    EXPECT_EQ(dialogs.asked[0].destructive, 1);
    EXPECT_TRUE(w.isVisible());
    EXPECT_TRUE(onAir());
    dialogs.answers = {1};  // "Quit"
    w.close();
    EXPECT_EQ(dialogs.asked.size(), 2u);
    QTRY_VERIFY(!w.isVisible());
    EXPECT_TRUE(w.quitConfirmed);
}

TEST_F(UiTest, ClosingWithNothingOnAirAsksNothing) {
    auto& w = window();
    w.close();
    EXPECT_TRUE(dialogs.asked.empty());
    QTRY_VERIFY(!w.isVisible());
}

TEST_F(UiTest, NumberKeysInTheWindowTakeClipsButNotWhileTyping) {
    make();
    add(image());
    add(video("green"));
    const auto clips = app->visibleClips();
    ASSERT_EQ(clips.size(), 2u);
    const MediaItem& first = clips[0];
    const MediaItem& second = clips[1];
    auto& w = window();
    app->installKeyboardMonitor();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    QTest::keyClick(w.windowHandle(), Qt::Key_2);
    advance(0.1);
    ASSERT_TRUE(onAir());
    EXPECT_EQ(onAir()->mediaId, second.id);
    QTest::keyClick(w.windowHandle(), Qt::Key_1);
    advance(0.1);
    ASSERT_TRUE(onAir());
    EXPECT_EQ(onAir()->mediaId, first.id);
    // A key sent straight to a focused widget is taken too (the board, a button …).
    QTest::keyClick(w.board(), Qt::Key_2);
    advance(0.1);
    EXPECT_EQ(onAir()->mediaId, second.id);

    auto* field = new QLineEdit(w.board());
    field->show();
    field->setFocus();
    QTRY_VERIFY(field->hasFocus());
    QTest::keyClick(w.windowHandle(), Qt::Key_1);
    advance(0.1);
    EXPECT_EQ(field->text(), "1");
    EXPECT_EQ(onAir()->mediaId, second.id);
}

TEST_F(UiTest, MinimisingTheWindowStopsTheMeters) {
    auto& w = window();
    EXPECT_TRUE(app->uiVisible());
    w.showMinimized();
    QTRY_VERIFY(!app->uiVisible());
    w.showNormal();
    QTRY_VERIFY(app->uiVisible());
}

TEST_F(UiTest, PreviewReadsOutTheSourceAgainstTheStageAndReshapesLater) {
    make();
    const MediaItem clip = add(video());
    app->library.setMeta(clip.id, [](MediaItem& m) {
        m.width = 1280;
        m.height = 720;
        m.fps = 29.97;
    });
    auto& w = window();
    auto* preview = w.findChild<ui::ProgramPreview*>("programPreview");
    ASSERT_TRUE(preview);
    EXPECT_EQ(preview->outputText(), "OUT 1920x1080 \u00B7 60p");
    EXPECT_FALSE(preview->source());
    EXPECT_EQ(preview->picture()->accessibleName(), "Program preview");
    EXPECT_EQ(preview->picture()->accessibleDescription(), "No source");

    ASSERT_TRUE(app->trigger(clip, false));
    turn();
    ASSERT_TRUE(preview->source());
    EXPECT_EQ(preview->source()->text(), "SRC 1280x720 \u00B7 30p");
    EXPECT_EQ(preview->source()->sizeTone, ui::preview::Tone::yellow);
    EXPECT_EQ(preview->picture()->accessibleDescription(), QString::fromStdString(clip.name));
    const auto& badges = preview->badges();
    ASSERT_EQ(badges.size(), 4u);
    EXPECT_TRUE(std::any_of(badges.begin(), badges.end(), [](auto& b) { return b.id == LayerId::media && b.live; }));

    q.advance(0.5);  // the first reshape after showing: the stage's own 16:9
    EXPECT_DOUBLE_EQ(preview->previewAspect(), 1920.0 / 1080.0);
    app->program.setStage([](StageConfig& s) {
        s.width = 1080;
        s.height = 1920;
    });
    turn();
    EXPECT_EQ(preview->outputText(), "OUT 1080x1920 \u00B7 60p") << "the read-out follows at once";
    EXPECT_EQ(preview->source()->sizeTone, ui::preview::Tone::orange);
    q.advance(0.39);
    EXPECT_DOUBLE_EQ(preview->previewAspect(), 1920.0 / 1080.0) << "the shape waits 0.4 s";
    q.advance(0.02);
    EXPECT_DOUBLE_EQ(preview->previewAspect(), 1080.0 / 1920.0);
    // Taller than wide now: the picture keeps the stage's shape inside the preview.
    const QRect r = preview->pictureRect();
    EXPECT_NEAR(double(r.width()) / r.height(), 1080.0 / 1920.0, 0.02);
}

}  // namespace
}  // namespace ombry::ui_test
