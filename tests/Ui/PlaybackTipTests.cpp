// The playlist playback tip: its rules as tables, and the tip over a real state writing one field at a time
// to the playlist as it is at that moment.
#include <QComboBox>
#include <QLineEdit>

#include <cmath>
#include <limits>

#include "UiTestSupport.hpp"
#include "Ui/Board/PlaylistBoardView.hpp"
#include "Ui/Board/PlaylistPlaybackTip.hpp"
#include "Ui/Board/PlaylistSection.hpp"
#include "Ui/Widgets/Switch.hpp"

namespace ombry::ui_test {
namespace {

namespace tr = ui::tip_rules;

TEST(PlaybackTipRules, TransitionRowsAndWrites) {
    struct Case {
        std::optional<TransitionType> stored;
        int row;
    } cases[] = {{std::nullopt, 0}, {TransitionType::cut, 1}, {TransitionType::fade, 2},
                 {TransitionType::crossfade, 2}, {TransitionType::slide, 3}, {TransitionType::zoom, 4}};
    for (const auto& c : cases) EXPECT_EQ(tr::transitionRow(c.stored), c.row);
    EXPECT_EQ(tr::transitionForRow(2), TransitionType::crossfade) << "Fade stores crossfade";
    EXPECT_EQ(tr::transitionForRow(0), std::nullopt);
    Group g;
    g.transitionType = TransitionType::zoom;
    EXPECT_FALSE(tr::withTransition(g, 0).transitionType) << "Default removes the field";
}

TEST(PlaybackTipRules, SwitchesWriteAbsenceAndTheIntervalIsClamped) {
    Group g;
    g.name = "Keep";
    EXPECT_EQ(tr::withAdvanceEvery(g, true).advanceSeconds, 10);
    g.advanceSeconds = 30;
    EXPECT_FALSE(tr::withAdvanceEvery(g, false).advanceSeconds);
    EXPECT_EQ(tr::withAdvanceOnEnd(g, true).advanceOnEnd, true);
    EXPECT_FALSE(tr::withAdvanceOnEnd(g, false).advanceOnEnd.has_value());
    EXPECT_FALSE(tr::withLoop(g, false).loopPlaylist.has_value());
    EXPECT_EQ(tr::withLoop(g, true).name, "Keep");
    struct Case {
        double entered, stored;
    } cases[] = {{45, 45}, {0.5, 1}, {0, 1}, {-3, 1}, {std::nan(""), 1},
                 {std::numeric_limits<double>::infinity(), 1}, {1e12, 86400}};
    for (const auto& c : cases) EXPECT_EQ(tr::withInterval(g, c.entered).advanceSeconds, c.stored) << c.entered;
    EXPECT_EQ(tr::intervalText(std::nullopt), "10");
    EXPECT_EQ(tr::intervalText(45), "45");
}

TEST_F(UiTest, ThePlaybackTipWritesOneFieldToThePlaylistAsItIsNow) {
    make();
    const MediaItem a = add(video());
    Group g = playlist({a.id}, [](Group& x) { x.transitionType = TransitionType::crossfade; });
    ui::PlaylistPlaybackTipView tip(*app, *stateSignals, g.id);
    tip.show();
    turn();
    auto* transition = tip.findChild<QComboBox*>("tipTransition");
    auto* every = tip.findChild<ui::Switch*>("tipAdvanceEvery");
    auto* seconds = tip.findChild<QLineEdit*>("tipSeconds");
    auto* loop = tip.findChild<ui::Switch*>("tipLoop");
    ASSERT_TRUE(transition && every && seconds && loop);
    EXPECT_EQ(transition->currentText(), "Fade");
    EXPECT_FALSE(seconds->isEnabled());
    EXPECT_EQ(seconds->text(), "10");

    // A change made elsewhere shows and survives the tip's next write.
    Group renamed = *board::findGroup(app->library, g.id);
    renamed.name = "Renamed";
    app->library.updateGroup(renamed);
    QTest::mouseClick(every, Qt::LeftButton);
    turn();
    const Group* now = board::findGroup(app->library, g.id);
    EXPECT_EQ(now->name, "Renamed");
    EXPECT_EQ(now->advanceSeconds, 10);
    EXPECT_TRUE(seconds->isEnabled());
    seconds->setText("0.5");
    emit seconds->editingFinished();
    EXPECT_EQ(board::findGroup(app->library, g.id)->advanceSeconds, 1);
    QTest::mouseClick(loop, Qt::LeftButton);
    QTest::mouseClick(loop, Qt::LeftButton);
    EXPECT_FALSE(board::findGroup(app->library, g.id)->loopPlaylist.has_value()) << "off writes absent";
    EXPECT_EQ(board::findGroup(app->library, g.id)->advanceSeconds, 1) << "the earlier write survives";
    QTest::mouseClick(every, Qt::LeftButton);
    turn();
    EXPECT_FALSE(board::findGroup(app->library, g.id)->advanceSeconds);
    EXPECT_EQ(seconds->text(), "10");
    // Deleted meanwhile: an empty tip, no writes.
    app->deleteGroup(g.id);
    turn();
    EXPECT_FALSE(tip.findChild<QWidget*>()->isVisible());
}

TEST_F(UiTest, TheSectionHeaderButtonOpensThePlaybackTip) {
    make();
    const MediaItem a = add(video());
    Group g = playlist({a.id});
    ui::PlaylistBoardView board(context());
    board.resize(900, 600);
    board.show();
    turn();
    ui::PlaylistSection* section = board.section(g.id);
    ASSERT_TRUE(section);
    EXPECT_EQ(section->playbackButton()->accessibleName(), "Playlist playback settings");
    EXPECT_FALSE(board.section("unsorted")->playbackButton()->isVisible());
    QTest::mouseClick(section->playbackButton(), Qt::LeftButton);
    QTRY_VERIFY(board.playbackTip() && board.playbackTip()->isVisible());
    auto* tip = board.playbackTip()->findChild<ui::PlaylistPlaybackTipView*>();
    ASSERT_TRUE(tip);
    EXPECT_EQ(tip->groupId(), g.id);
    board.playbackTip()->close();
}

}  // namespace
}  // namespace ombry::ui_test
