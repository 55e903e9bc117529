// The board in the real main window on a private X server: a project of 30 clips in three playlists,
// a screenshot for the developer to look at, and a real drag of a card into another section.
#include <QContextMenuEvent>
#include <QDir>
#include <QMenu>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <cstdlib>

#include "UiTestSupport.hpp"
#include "Engine/Library/Store.hpp"
#include "support/TestEnv.hpp"
#include "Ui/Board/MediaCard.hpp"
#include "Ui/Board/PlaylistBoardView.hpp"
#include "Ui/Board/PlaylistSection.hpp"
#include "Ui/Shell/Theme.hpp"

namespace ombry::ui_test {
namespace {

class BoardWindowTest : public UiTest {
protected:
    std::vector<Group> playlists;
    std::vector<MediaItem> clips;

    void project() {
        // The look the application runs with.
        ui::theme::apply(*qApp);
        make();
        const char* colours[] = {"red", "green", "blue", "yellow", "white", "cyan", "magenta", "orange", "purple", "gray"};
        for (int g = 0; g < 3; ++g) {
            std::vector<std::string> ids;
            for (int i = 0; i < 10; ++i) {
                MediaItem m = add(i == 4 ? image() : i == 7 ? audio() : video(colours[(g * 3 + i) % 10]));
                app->library.setMeta(m.id, [&](MediaItem& x) { x.name = "Scene " + std::to_string(g * 10 + i + 1); });
                clips.push_back(*app->library.item(m.id));
                ids.push_back(m.id);
            }
            Group p = playlist(ids, [&](Group& x) {
                x.name = std::vector<std::string>{"Opening", "Main Show", "Encore"}[std::size_t(g)];
                x.color = std::vector<std::string>{"#e5484d", "#3e63dd", "#30a46c"}[std::size_t(g)];
                if (g == 1) {
                    x.advanceSeconds = 10;
                    x.loopPlaylist = true;
                }
            });
            playlists.push_back(p);
        }
    }
    ui::PlaylistBoardView* board() { return window().findChild<ui::PlaylistBoardView*>("board"); }
    static std::string shotPath(const char* name) {
        const char* dir = std::getenv("OMBRY_SCREENSHOTS");
        return (dir ? std::string(dir) : QDir::currentPath().toStdString()) + "/" + name;
    }
};

TEST_F(BoardWindowTest, TheBoardInTheMainWindowAndARealDragBetweenSections) {
    project();
    auto& w = window();
    ui::PlaylistBoardView* b = board();
    ASSERT_TRUE(b);
    turn();
    ASSERT_EQ(b->sections().size(), 4u);  // three playlists and Unsorted
    // Something live, something selected, something missing, for the picture.
    ui::MediaCard* first = b->section(playlists[0].id)->cards().at(0);
    QTest::mouseClick(first, Qt::LeftButton, Qt::NoModifier, QPoint(30, 30));
    turn();
    app->setSelectedIds({clips[2].id, clips[3].id});
    app->library.markOffline(clips[5].id);
    QTRY_VERIFY(b->section(playlists[0].id)->cards().at(5)->isOffline());
    QTest::qWait(50);  // let the X server draw (a screenshot, not a check)
    const QImage shot = w.screen()->grabWindow(w.winId()).toImage();
    ASSERT_FALSE(shot.isNull());
    EXPECT_TRUE(shot.save(QString::fromStdString(shotPath("board-window.png"))));
    app->setSelectedIds({});

    // A real drag: press on a card of "Opening", move it over "Main Show" and release between its first two
    // cards. The drag runs its own loop, so the moves are posted before it starts.
    ui::PlaylistSection* target = b->section(playlists[1].id);
    ui::MediaCard* dragged = b->section(playlists[0].id)->cards().at(1);
    ui::MediaCard* before = target->cards().at(1);
    const QPoint drop = before->mapTo(&w, QPoint(12, 40));
    const std::string id = dragged->id();
    bool released = false;
    QTimer::singleShot(100, &w, [&] {
        QTest::mouseMove(&w, drop + QPoint(0, -3));
        QTimer::singleShot(100, &w, [&] {
            QTest::mouseMove(&w, drop);
            QTimer::singleShot(100, &w, [&] {
                QTest::mouseRelease(&w, Qt::LeftButton, Qt::NoModifier, drop);
                released = true;
            });
        });
    });
    // The press and the first move go to the card, which starts the drag; the posted moves and the release
    // reach the drag through the application's event filter while it runs.
    pointer.pressed = Qt::LeftButton;
    QTest::mousePress(dragged, Qt::LeftButton, Qt::NoModifier, QPoint(40, 40));
    QTest::mouseMove(dragged, QPoint(72, 44));  // returns when the drag has ended
    pointer.pressed = Qt::NoButton;
    QTRY_VERIFY(released);
    const auto inTarget = [&] { return board::findGroup(app->library, playlists[1].id)->mediaIds; };
    QTRY_COMPARE(inTarget().size(), std::size_t(11));
    EXPECT_EQ(inTarget().at(1), id);
    EXPECT_EQ(board::findGroup(app->library, playlists[0].id)->mediaIds.size(), 9u);
}

TEST_F(BoardWindowTest, AnOpenCardMenuOverTheBoardWithTheIncomingBandOfAnEncode) {
    project();
    auto& w = window();
    ui::PlaylistBoardView* b = board();
    ASSERT_TRUE(b);
    const auto dir = test::tempDir("seq");
    std::filesystem::create_directories(Store::mediaIncomingDir());
    std::vector<std::string> frames;
    for (int i = 1; i <= 240; ++i) {
        QImage frame(64, 36, QImage::Format_ARGB32);
        frame.fill(QColor(40, 160, 220));
        const auto to = dir / ("count_" + std::to_string(1000 + i) + ".png");
        ASSERT_TRUE(frame.save(QString::fromStdString(to.string()), "PNG"));
        frames.push_back(to.string());
    }
    // The encode's reports reach the state through its main queue, which this test does not run: the band
    // stays as the encode started.
    app->importSequence(frames, "Countdown", playlists[0].id, 24);
    turn();
    ASSERT_TRUE(app->sequenceEncode());
    app->setSelectedIds({clips[1].id, clips[2].id, clips[3].id});
    turn();
    ui::MediaCard* card = b->section(playlists[0].id)->cards().at(2);
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(60, 40), card->mapToGlobal(QPoint(60, 40)));
    QApplication::sendEvent(card, &event);
    QTRY_VERIFY(b->cardMenu() && b->cardMenu()->isVisible());
    QMenu* addTo = b->cardMenu()->findChild<QMenu*>("addToPlaylist");
    ASSERT_TRUE(addTo);
    EXPECT_EQ(addTo->title(), "Add 3 Clips to Playlist");
    QTest::qWait(100);  // let the X server draw (a screenshot, not a check)
    const QImage shot = w.screen()->grabWindow(0).toImage();
    ASSERT_FALSE(shot.isNull());
    EXPECT_TRUE(shot.save(QString::fromStdString(shotPath("board-menu-incoming.png"))));
    b->cardMenu()->close();

    // The playback tip of "Main Show" (an interval and a loop set), from its header button.
    QTest::mouseClick(b->section(playlists[1].id)->playbackButton(), Qt::LeftButton);
    QTRY_VERIFY(b->playbackTip() && b->playbackTip()->isVisible());
    QTest::qWait(100);  // let the X server draw (a screenshot, not a check)
    const QImage tipShot = w.screen()->grabWindow(0).toImage();
    EXPECT_TRUE(tipShot.save(QString::fromStdString(shotPath("board-playback-tip.png"))));
    b->playbackTip()->close();
    ASSERT_TRUE(q.waitUntil([&] { return !app->sequenceEncode(); }, 60.0));
}

}  // namespace
}  // namespace ombry::ui_test
