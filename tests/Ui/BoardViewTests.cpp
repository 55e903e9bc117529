// The playlist board over a real state: takes, selection clicks, the marquee, drops of cards and files,
// hover preparation, the empty board, the header, and thumbnails that arrive from the worker.
#include <QAccessible>
#include <QButtonGroup>
#include <QImage>
#include <QLabel>
#include <QMimeData>
#include <QSignalSpy>
#include <QScrollBar>
#include <QSlider>
#include <QToolButton>
#include <QUrl>

#include <fstream>
#include <limits>

#include "UiTestSupport.hpp"
#include "Ui/Board/DragAutoScroller.hpp"
#include "Ui/Board/IncomingSection.hpp"
#include "Ui/Board/MediaCard.hpp"
#include "Ui/Board/PlaylistBoardView.hpp"
#include "Ui/Board/PlaylistSection.hpp"
#include "Ui/Board/ThumbnailLoader.hpp"
#include "Engine/Cloud/FakeInbox.hpp"
#include "Engine/Library/Store.hpp"
#include "support/TestEnv.hpp"

namespace ombry::ui_test {
namespace {

class BoardViewTest : public UiTest {
protected:
    std::unique_ptr<ui::PlaylistBoardView> board;
    std::vector<MediaItem> clips;
    Group p, q;

    void TearDown() override {
        board.reset();
        UiTest::TearDown();
    }
    // Clips 0–2 in P, 3–4 in Q, 5 unsorted.
    void build() {
        make();
        for (const char* c : {"red", "green", "blue", "yellow", "white", "black"}) clips.push_back(add(video(c)));
        p = playlist({clips[0].id, clips[1].id, clips[2].id});
        q = playlist({clips[3].id, clips[4].id});
        show();
    }
    void show() {
        board = std::make_unique<ui::PlaylistBoardView>(context());
        board->resize(900, 800);
        board->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(board.get()));
        turn();
    }
    ui::PlaylistSection* section(const std::string& id) { return board->section(id); }
    ui::MediaCard* card(const std::string& id) {
        for (auto* s : board->sections())
            if (auto* c = s->card(id)) return c;
        return nullptr;
    }
    void click(const std::string& id, Qt::KeyboardModifiers held = Qt::NoModifier) {
        pointer.held = held;
        ui::MediaCard* c = card(id);
        ASSERT_TRUE(c) << id;
        QTest::mouseClick(c, Qt::LeftButton, Qt::NoModifier, QPoint(20, 20));
        pointer.held = Qt::NoModifier;
        turn();
    }
    std::vector<std::string> groupIds(const std::string& id) { return board::findGroup(app->library, id)->mediaIds; }
    // A drag entering, moving over and dropping on a section at a point of its own.
    void dropOn(QWidget* s, QPoint at, QMimeData* data) {
        QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(s, &enter);
        EXPECT_TRUE(enter.isAccepted());
        QDragMoveEvent move(at, Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(s, &move);
        EXPECT_EQ(move.dropAction(), Qt::CopyAction);
        QDropEvent drop(QPointF(at), Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(s, &drop);
        turn();
    }
    QPoint leftHalfOf(ui::PlaylistSection* s, const std::string& id) {
        return card(id)->mapTo(s, QPoint(10, 10));
    }
};

TEST_F(BoardViewTest, ShowsSectionsOfCardsUnderItsHeader) {
    build();
    EXPECT_EQ(board->findChild<QLabel*>("boardTitle")->text(), "All Playlists");
    EXPECT_EQ(board->findChild<QLabel*>("boardSubtitle")->text(), QString::fromUtf8("2 playlists \u00B7 6 media"));
    ASSERT_EQ(board->sections().size(), 3u);
    EXPECT_EQ(board->sections()[0]->cards().size(), 3u);
    EXPECT_EQ(board->sections()[1]->findChild<QLabel*>("sectionCount")->text(), "2 items");
    EXPECT_EQ(board->sections()[2]->section().id, "unsorted");
    EXPECT_EQ(board->sections()[2]->cards().at(0)->id(), clips[5].id);
    EXPECT_FALSE(board->findChild<QWidget*>("emptyBoard")->isVisible());
    // Medium tiles: 208 wide, a 208×117 picture box; a tile-size change resizes every card at once.
    EXPECT_EQ(card(clips[0].id)->width(), 208);
    EXPECT_EQ(card(clips[0].id)->thumbnailRect().size(), QSize(208, 117));
    preferences->setTileSize(ui::TileSize::large);
    turn();
    EXPECT_EQ(card(clips[0].id)->thumbnailRect().size(), QSize(272, 153));
    // Cards are kept by id across refreshes.
    ui::MediaCard* before = card(clips[1].id);
    app->library.setMeta(clips[1].id, [](MediaItem& m) { m.name = "Renamed"; });
    turn();
    EXPECT_EQ(card(clips[1].id), before);
    EXPECT_EQ(before->item().name, "Renamed");
}

TEST_F(BoardViewTest, AClickTakesAClipLiveAndASecondClickTakesItOff) {
    build();
    click(clips[0].id);
    ASSERT_TRUE(onAir());
    EXPECT_EQ(onAir()->mediaId, clips[0].id);
    EXPECT_TRUE(card(clips[0].id)->isLive());
    EXPECT_EQ(card(clips[0].id)->toolTip(), "Click to take off air");
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(card(clips[0].id));
    ASSERT_TRUE(a);
    EXPECT_EQ(a->text(QAccessible::Value), "Live");
    EXPECT_EQ(a->role(), QAccessible::Button);
    click(clips[0].id);
    EXPECT_FALSE(onAir());
    EXPECT_FALSE(card(clips[0].id)->isLive());
    EXPECT_EQ(a->text(QAccessible::Value), card(clips[0].id)->detail());
}

TEST_F(BoardViewTest, CtrlTogglesShiftExtendsAndAPlainClickClearsAndTakes) {
    build();
    click(clips[0].id, Qt::ControlModifier);
    click(clips[2].id, Qt::ControlModifier);
    EXPECT_EQ(app->selectedIds(), (std::set<std::string>{clips[0].id, clips[2].id}));
    EXPECT_FALSE(onAir());
    click(clips[2].id, Qt::ControlModifier | Qt::ShiftModifier);  // Ctrl wins: toggled off, not extended
    EXPECT_EQ(app->selectedIds(), (std::set<std::string>{clips[0].id}));
    click(clips[0].id, Qt::ControlModifier);
    click(clips[1].id, Qt::ControlModifier);
    click(clips[3].id, Qt::ShiftModifier);
    EXPECT_EQ(app->selectedIds(), (std::set<std::string>{clips[1].id, clips[2].id, clips[3].id}));
    EXPECT_TRUE(card(clips[2].id)->isSelected());
    EXPECT_FALSE(onAir());
    click(clips[4].id, Qt::AltModifier);  // Alt is a plain click
    EXPECT_TRUE(app->selectedIds().empty() || app->selectedIds() == std::set<std::string>{clips[4].id});
    EXPECT_FALSE(app->selectedIds().count(clips[1].id));
    EXPECT_FALSE(app->selectionAnchorId());
    ASSERT_TRUE(onAir());
    EXPECT_EQ(onAir()->mediaId, clips[4].id);
}

TEST_F(BoardViewTest, AMarqueeSelectsTheCardsItTouchesAndShrinkingItDeselects) {
    build();
    QWidget* content = board->content();
    const QRect first(card(clips[0].id)->mapTo(content, QPoint(0, 0)), card(clips[0].id)->size());
    const QRect third(card(clips[2].id)->mapTo(content, QPoint(0, 0)), card(clips[2].id)->size());
    ASSERT_EQ(first.top(), third.top()) << "three cards in a row";
    app->setSelectedIds({clips[5].id});
    const QPoint start(first.left() - 8, first.top() + 20);  // empty space left of the first card
    QTest::mousePress(content, Qt::LeftButton, Qt::NoModifier, start);
    QTest::mouseMove(content, start + QPoint(2, 1));  // under 4 pt: no marquee yet
    EXPECT_FALSE(board->marquee());
    QTest::mouseMove(content, QPoint(third.left() + 30, first.top() + 40));
    ASSERT_TRUE(board->marquee());
    EXPECT_EQ(app->selectedIds(), (std::set<std::string>{clips[0].id, clips[1].id, clips[2].id}));
    QTest::mouseMove(content, QPoint(first.right() + 4, first.top() + 40));
    EXPECT_EQ(app->selectedIds(), (std::set<std::string>{clips[0].id}));
    QTest::mouseRelease(content, Qt::LeftButton, Qt::NoModifier, QPoint(first.right() + 4, first.top() + 40));
    EXPECT_FALSE(board->marquee());
    EXPECT_EQ(app->selectedIds(), (std::set<std::string>{clips[0].id}));
    EXPECT_FALSE(board->autoScroller().running());

    // With Shift held at the start the marquee adds to what was selected.
    pointer.held = Qt::ShiftModifier;
    QTest::mousePress(content, Qt::LeftButton, Qt::NoModifier, start);
    pointer.held = Qt::NoModifier;
    QTest::mouseMove(content, start + QPoint(0, 10));
    QTest::mouseMove(content, QPoint(third.left() + 30, first.top() + 40));
    pointer.held = Qt::ShiftModifier;
    QTest::mouseMove(content, QPoint(third.left() + 31, first.top() + 40));
    pointer.held = Qt::NoModifier;
    QTest::mouseRelease(content, Qt::LeftButton, Qt::NoModifier, QPoint(third.left() + 31, first.top() + 40));
    EXPECT_EQ(app->selectedIds(), (std::set<std::string>{clips[0].id, clips[1].id, clips[2].id}));
}

TEST_F(BoardViewTest, AClickOnEmptyBoardSpaceClearsTheSelectionButNotBelowTheContent) {
    build();
    QWidget* content = board->content();
    app->setSelectedIds({clips[0].id});
    const QPoint gap = section(p.id)->geometry().bottomLeft();
    QTest::mouseClick(content, Qt::LeftButton, Qt::NoModifier,
                      board->findChild<QWidget*>("boardSections")->mapTo(content, gap) + QPoint(10, 11));
    EXPECT_TRUE(app->selectedIds().empty());
    EXPECT_FALSE(app->selectionAnchorId());
    app->setSelectedIds({clips[0].id});
    QTest::mouseClick(content, Qt::LeftButton, Qt::NoModifier, QPoint(10, content->height() - 5));
    EXPECT_EQ(app->selectedIds(), (std::set<std::string>{clips[0].id}));
}

TEST_F(BoardViewTest, ADraggedCardMovesToTheDropGapAndAltCopiesIt) {
    build();
    ui::PlaylistSection* target = section(q.id);
    // Before Q's second card.
    {
        std::unique_ptr<QMimeData> data(ui::PlaylistSection::dragData(clips[0].id));
        dropOn(target, leftHalfOf(target, clips[4].id), data.get());
    }
    EXPECT_EQ(groupIds(q.id), (std::vector<std::string>{clips[3].id, clips[0].id, clips[4].id}));
    EXPECT_EQ(groupIds(p.id), (std::vector<std::string>{clips[1].id, clips[2].id}));
    EXPECT_FALSE(target->insertionIndex());
    // Alt at the drop copies: the original stays in P.
    pointer.held = Qt::AltModifier;
    {
        std::unique_ptr<QMimeData> data(ui::PlaylistSection::dragData(clips[1].id));
        dropOn(section(q.id), leftHalfOf(section(q.id), clips[3].id), data.get());
    }
    pointer.held = Qt::NoModifier;
    const auto ids = groupIds(q.id);
    ASSERT_EQ(ids.size(), 4u);
    EXPECT_NE(ids[0], clips[1].id);
    EXPECT_EQ(app->library.item(ids[0])->name, clips[1].name);
    EXPECT_EQ(groupIds(p.id), (std::vector<std::string>{clips[1].id, clips[2].id}));
}

TEST_F(BoardViewTest, ADragShowsTheInsertionLineAndLeavingHidesIt) {
    build();
    ui::PlaylistSection* target = section(p.id);
    std::unique_ptr<QMimeData> data(ui::PlaylistSection::dragData(clips[4].id));
    const QPoint at = leftHalfOf(target, clips[1].id);
    QDragEnterEvent enter(at, Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    ASSERT_EQ(target->insertionIndex(), 1);
    const QRect second(card(clips[1].id)->mapTo(target, QPoint(0, 0)), card(clips[1].id)->size());
    const auto line = target->insertionLine(1);
    ASSERT_TRUE(line);
    EXPECT_EQ(line->x, second.left() - 6);
    EXPECT_TRUE(target->findChild<QWidget*>("dropIndicator")->isVisible());
    EXPECT_TRUE(board->autoScroller().running());
    QDragLeaveEvent leave;
    QApplication::sendEvent(target, &leave);
    EXPECT_FALSE(target->insertionIndex());
    EXPECT_TRUE(board->autoScroller().running()) << "leaving does not stop the scroller";
}

TEST_F(BoardViewTest, FilesDroppedOnASectionLandInTheirOrderAtTheDropGap) {
    build();
    const std::string a = video("cyan"), b = image(), c = video("magenta");
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(c)), QUrl::fromLocalFile(QString::fromStdString(a)),
                  QUrl::fromLocalFile(QString::fromStdString(b))});
    ui::PlaylistSection* target = section(p.id);
    dropOn(target, leftHalfOf(target, clips[1].id), &data);
    const auto ids = groupIds(p.id);
    ASSERT_EQ(ids.size(), 6u);
    EXPECT_EQ(ids[0], clips[0].id);
    EXPECT_EQ(app->library.item(ids[1])->path, c);
    EXPECT_EQ(app->library.item(ids[2])->path, a);
    EXPECT_EQ(app->library.item(ids[3])->path, b);
    EXPECT_EQ(ids[4], clips[1].id);
}

TEST_F(BoardViewTest, HoverPreparesTheClipOnce) {
    build();
    int preloads = 0;
    auto sub = app->observe([&](Aspect a) { preloads += a == Aspect::preloaded; });
    ui::MediaCard* c = card(clips[2].id);
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QApplication::sendEvent(c, &enter);
    EXPECT_EQ(app->preloadedId(), clips[2].id);
    EXPECT_TRUE(c->isHovered());
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(c, &leave);
    QApplication::sendEvent(c, &enter);
    EXPECT_EQ(preloads, 1);
}

TEST_F(BoardViewTest, TheEmptyBoardStandsInUntilThereIsMediaAndForASearchThatHidesAll) {
    make();
    show();
    auto* empty = board->findChild<ui::EmptyBoard*>("emptyBoard");
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->isVisible());
    EXPECT_EQ(empty->title(), "No media yet.");
    add(video("red"));
    turn();
    EXPECT_FALSE(empty->isVisible());
    ASSERT_EQ(board->sections().size(), 1u);
    EXPECT_EQ(board->sections()[0]->section().id, "unsorted");
    // A search that hides everything brings it back with the other title.
    app->setSearchText("nothing like it");
    turn();
    EXPECT_TRUE(empty->isVisible());
    EXPECT_EQ(empty->title(), "No media matches your search.");
}

// Files dropped on the empty board are added to the library, outside any playlist.
TEST_F(BoardViewTest, FilesDroppedOnTheEmptyBoardAreAdded) {
    make();
    show();
    auto* empty = board->findChild<ui::EmptyBoard*>("emptyBoard");
    ASSERT_TRUE(empty && empty->isVisible());
    auto* data = new QMimeData;
    data->setUrls({QUrl::fromLocalFile(QString::fromStdString(video("green"))),
                   QUrl::fromLocalFile(QString::fromStdString(image()))});
    dropOn(empty, empty->rect().center(), data);
    QTRY_COMPARE(app->library.media().size(), 2u);
    turn();
    EXPECT_FALSE(empty->isVisible());
    ASSERT_EQ(board->sections().size(), 1u);
    EXPECT_EQ(board->sections()[0]->section().id, "unsorted");
    EXPECT_EQ(board->sections()[0]->cards().size(), 2u);
    delete data;
}

TEST_F(BoardViewTest, AnEmptySelectedPlaylistShowsItsSectionWithTheHint) {
    make();
    clips.push_back(add(video()));
    p = playlist({});
    app->setSelection({SidebarItem::playlist(p.id)});
    show();
    ASSERT_EQ(board->sections().size(), 1u);
    auto* hint = board->sections()[0]->findChild<QLabel*>("emptyPlaylistHint");
    ASSERT_TRUE(hint);
    EXPECT_TRUE(hint->isVisible());
    EXPECT_EQ(hint->text(), QString::fromUtf8("Empty \u2014 drop media or files here to add them to this playlist."));
    EXPECT_EQ(board->findChild<QLabel*>("boardTitle")->text(), "P");
    EXPECT_EQ(board->findChild<QLabel*>("boardSubtitle")->text(), "0 media");
    EXPECT_EQ(board->sections()[0]->dropIndex(QPointF(40, 40)), 0);
}

TEST_F(BoardViewTest, TheHeaderWritesTheMasterTransitionAndDurationAndFoldsWhenNarrow) {
    build();
    board->findChild<QToolButton*>("transitionZoom")->click();
    EXPECT_EQ(app->masterTransition, AppTransition::zoom);
    auto* slider = board->findChild<QSlider*>("transitionDuration");
    slider->setValue(200);
    EXPECT_DOUBLE_EQ(app->transitionDuration, 2.0);
    EXPECT_EQ(board->findChild<QLabel*>("transitionDurationLabel")->text(), "2.0 s");
    slider->setValue(0);
    EXPECT_EQ(board->findChild<QLabel*>("transitionDurationLabel")->text(), "0.0 s");
    EXPECT_FALSE(board->headerIsNarrow());
    board->resize(480, 800);
    turn();
    EXPECT_TRUE(board->headerIsNarrow());
    auto* controls = board->findChild<QWidget*>("transitionControls");
    EXPECT_GT(controls->mapTo(board->content(), QPoint(0, 0)).y(),
              board->findChild<QLabel*>("boardSubtitle")->mapTo(board->content(), QPoint(0, 0)).y());
    for (auto* w : board->findChildren<QAbstractButton*>()) EXPECT_FALSE(w->accessibleName().isEmpty()) << w->objectName().toStdString();
    EXPECT_FALSE(slider->accessibleName().isEmpty());
}

TEST_F(BoardViewTest, TheAutoScrollerScrollsTowardTheEdgeWhileTheButtonIsHeld) {
    make();
    for (int i = 0; i < 24; ++i) clips.push_back(add(video(i % 2 ? "red" : "blue")));
    show();
    board->resize(600, 400);
    turn();
    ui::DragAutoScroller& s = board->autoScroller();
    auto* bar = board->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0);
    double scrolled = 0;
    s.onScroll = [&](double dy) { scrolled += dy; };
    pointer.pressed = Qt::LeftButton;
    pointer.position = board->viewport()->mapToGlobal(QPoint(100, board->viewport()->height() + 5));
    s.begin();
    for (int i = 0; i < 6; ++i) s.step();  // past the edge: 1000 pt/s, about 16.7 per tick
    EXPECT_NEAR(bar->value(), 100, 1);
    EXPECT_EQ(scrolled, bar->value());
    pointer.position = board->viewport()->mapToGlobal(QPoint(-25, board->viewport()->height() - 5));
    s.step();
    EXPECT_NEAR(bar->value(), 100, 1) << "25 pt beside the view: no scrolling";
    bar->setValue(0);
    scrolled = 0;
    pointer.position = board->viewport()->mapToGlobal(QPoint(100, -10));
    s.step();
    EXPECT_EQ(scrolled, 0) << "the top of the document";
    pointer.pressed = Qt::NoButton;
    s.step();
    EXPECT_FALSE(s.running());
}

TEST_F(BoardViewTest, TheIncomingBandShowsARunningSequenceEncodeAboveTheSections) {
    build();
    auto* band = board->findChild<ui::IncomingSection*>("incomingSection");
    ASSERT_TRUE(band);
    EXPECT_FALSE(band->isVisible());
    // Real frames encoded through the import; the band follows the encode's record.
    const auto dir = test::tempDir("seq");
    std::filesystem::create_directories(Store::mediaIncomingDir());
    std::vector<std::string> numbered;
    for (int i = 1; i <= 24; ++i) {
        QImage frame(32, 24, QImage::Format_ARGB32);
        frame.fill(QColor(200, 40, i * 10));
        const auto to = dir / ("frame_" + std::to_string(1000 + i) + ".png");
        ASSERT_TRUE(frame.save(QString::fromStdString(to.string()), "PNG"));
        numbered.push_back(to.string());
    }
    app->importSequence(numbered, "Countdown", p.id, 24);
    turn();
    ASSERT_TRUE(app->sequenceEncode());
    EXPECT_TRUE(band->isVisible());
    EXPECT_EQ(band->subtitle(), "1 sequence encoding");
    ASSERT_EQ(band->cards().size(), 1u);
    EXPECT_EQ(band->cards()[0]->name(), "Countdown");
    EXPECT_EQ(band->cards()[0]->badge(), "ENCODING");
    EXPECT_TRUE(band->cards()[0]->detail().startsWith("Encoding 24 frames"));
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(band->cards()[0]);
    ASSERT_TRUE(a);
    EXPECT_TRUE(a->text(QAccessible::Value).startsWith("Encoding, ")) << a->text(QAccessible::Value).toStdString();
    EXPECT_LT(band->geometry().top(), board->sections()[0]->mapTo(board->content(), QPoint()).y());
    ASSERT_TRUE(app_test::AppStateTest::q.waitUntil([&] { return !app->sequenceEncode(); }, 60.0))
        << "the import never finished";
    turn();
    EXPECT_FALSE(band->isVisible());
}

// A slow download from the loopback inbox shows as a row of the band while it runs and leaves it when the
// item is done with (here refused: its bytes are no media file).
TEST_F(BoardViewTest, TheIncomingBandShowsACloudDownloadWhileItRuns) {
    test::FakeInbox service;
    const std::int64_t size = 4 * 256 * 1024;  // four of the client's blocks, so progress is reported on the way
    service.addItem({.key = "k", .size = size, .filename = "clip.mp4", .title = "Opening", .generated = size});
    service.setScript([&](const test::FakeInbox::Request& r) -> std::optional<test::FakeInbox::Answer> {
        if (r.method == "GET" && r.path.ends_with("/app/file"))
            return test::FakeInbox::Answer{.generated = size, .bytesPerSecond = 700'000};
        return std::nullopt;
    });
    build();
    auto* band = board->findChild<ui::IncomingSection*>("incomingSection");
    ASSERT_TRUE(band);
    AppSettings s = app->settings();
    s.cloudUploadEnabled = true;
    s.cloudServiceURL = service.origin();
    s.cloudInboxId = service.inboxId;
    s.cloudAppSecret = service.appSecret;
    s.cloudUploadPassword = "long-enough-1";
    app->setSettings(s);
    app->start();
    auto& q = app_test::AppStateTest::q;
    const auto midway = [&] {
        const auto& rows = app->cloudDownloads();
        return !rows.empty() && rows[0].received > 0 && rows[0].received < size;
    };
    // The client spaces its progress reports on the application clock, virtual here: move it with real time.
    bool seen = false;
    for (int step = 0; step < 400 && !seen; ++step) {
        seen = q.waitUntil(midway, 0.05);
        if (!seen) q.advance(0.05);
    }
    ASSERT_TRUE(seen) << "no progress was seen";
    turn();
    ASSERT_TRUE(band->isVisible());
    EXPECT_EQ(band->subtitle(), "1 upload downloading");
    ASSERT_EQ(band->cards().size(), 1u);
    EXPECT_EQ(band->cards()[0]->name(), "Opening");
    EXPECT_TRUE(band->cards()[0]->detail().contains(" of ")) << band->cards()[0]->detail().toStdString();
    EXPECT_GT(band->cards()[0]->fraction(), 0);
    EXPECT_LT(band->cards()[0]->fraction(), 1);
    ASSERT_TRUE(q.waitUntil([&] { return service.count("DELETE", "/app/file") == 1; }, 20)) << "the item was never done with";
    ASSERT_TRUE(q.waitUntil([&] { return app->cloudDownloads().empty(); }, 20));
    turn();
    EXPECT_FALSE(band->isVisible());
    s.cloudUploadEnabled = false;
    app->setSettings(s);
    ASSERT_TRUE(q.waitUntil([&] { return app->cloudRequestsInFlight() == 0 && !app->cloudSyncing(); }, 20));
}

TEST(ThumbnailLoaderTest, PicturesArriveFromTheWorkerAndANewThumbnailReplacesTheOld) {
    const auto folder = test::tempDir("thumbs");
    QImage red(64, 36, QImage::Format_RGB32);
    red.fill(Qt::red);
    ASSERT_TRUE(red.save(QString::fromStdString((folder / "clip.jpg").string()), "JPG"));
    ui::ThumbnailLoader loader(folder);
    QWidget requester;
    EXPECT_TRUE(loader.image("clip", std::nullopt, &requester).isNull());
    EXPECT_EQ(loader.loadsStarted(), 0);
    EXPECT_TRUE(loader.image("clip", 1000, &requester).isNull()) << "never decoded on the calling thread";
    EXPECT_TRUE(loader.image("clip", 1000, &requester).isNull());
    EXPECT_EQ(loader.loadsStarted(), 1);
    QSignalSpy loaded(&loader, &ui::ThumbnailLoader::loaded);
    QTRY_COMPARE(loaded.count(), 1);
    const QImage first = loader.image("clip", 1000, &requester);
    ASSERT_FALSE(first.isNull());
    EXPECT_EQ(first.size(), QSize(64, 36));
    QImage blue(32, 18, QImage::Format_RGB32);
    blue.fill(Qt::blue);
    ASSERT_TRUE(blue.save(QString::fromStdString((folder / "clip.jpg").string()), "JPG"));
    EXPECT_TRUE(loader.image("clip", 2000.7, &requester).isNull());
    QTRY_COMPARE(loaded.count(), 2);
    EXPECT_EQ(loader.image("clip", 2000, &requester).size(), QSize(32, 18));
    // A missing file is looked for again; bad times and unsafe ids read nothing.
    EXPECT_TRUE(loader.image("gone", 5, &requester).isNull());
    loader.waitForIdle();
    EXPECT_TRUE(loader.image("gone", 5, &requester).isNull());
    EXPECT_EQ(loader.loadsStarted(), 4);
    EXPECT_TRUE(loader.image("clip", std::numeric_limits<double>::infinity(), &requester).isNull());
    EXPECT_TRUE(loader.image("../clip", 1000, &requester).isNull());
    EXPECT_EQ(loader.loadsStarted(), 4);
}

// A card's picture comes from the worker already sized to its box with rounded corners: filled (cropped)
// or fitted inside with the rest left clear for the gradient.
TEST(ThumbnailLoaderTest, ShapedPicturesAreCutToTheBoxOnTheWorker) {
    const auto folder = test::tempDir("thumbs-shaped");
    QImage square(300, 300, QImage::Format_RGB32);
    square.fill(Qt::red);
    ASSERT_TRUE(square.save(QString::fromStdString((folder / "clip.jpg").string()), "JPG"));
    ui::ThumbnailLoader loader(folder);
    QWidget requester;
    const QSize box(208, 117);
    struct Case {
        bool fill;
        QPoint clear;   // outside the picture
        QPoint filled;  // inside it
    } cases[] = {{true, {0, 0}, {10, 58}}, {false, {40, 58}, {104, 58}}};
    for (const auto& c : cases) {
        const ui::ThumbnailShape shape{box, c.fill, 9, 1};
        EXPECT_TRUE(loader.image("clip", 1000, shape, &requester).isNull()) << "never shaped on the calling thread";
        loader.waitForIdle();
        const QImage picture = loader.image("clip", 1000, shape, &requester);
        ASSERT_EQ(picture.size(), box) << c.fill;
        EXPECT_EQ(qAlpha(picture.pixel(c.clear)), 0) << c.fill;
        EXPECT_EQ(qAlpha(picture.pixel(c.filled)), 255) << c.fill;
        EXPECT_GT(qRed(picture.pixel(c.filled)), 200) << c.fill;
    }
    EXPECT_TRUE(loader.image("clip", 1000, ui::ThumbnailShape{}, &requester).isNull()) << "no box, no picture";
    EXPECT_EQ(loader.loadsStarted(), 2);
}

}  // namespace
}  // namespace ombry::ui_test
