// The media card's context menu: the model's titles, rules and checks as tables, and real clicks on the
// rendered QMenu doing what the state says.
#include <QAction>
#include <QContextMenuEvent>
#include <QMenu>

#include "UiTestSupport.hpp"
#include "Ui/Board/CardMenuModel.hpp"
#include "Ui/Board/MediaCard.hpp"
#include "Ui/Board/PlaylistBoardView.hpp"
#include "Ui/Board/PlaylistSection.hpp"

namespace ombry::ui_test {
namespace {

using ui::CardMenuEntry;

class CardMenuTest : public UiTest {
protected:
    std::vector<MediaItem> clips;
    Group p;
    ui::CardMenuActions actions;
    std::vector<std::string> revealed;
    int propertiesOpened = 0;

    void build() {
        make();
        for (const char* c : {"red", "green", "blue", "yellow"}) clips.push_back(add(video(c)));
        p = playlist({clips[0].id, clips[1].id, clips[2].id});
        actions.openProperties = [this] { ++propertiesOpened; };
        actions.reveal = [this](const std::string& path) { revealed.push_back(path); };
    }
    std::vector<CardMenuEntry> menuFor(const std::string& id, std::optional<std::string> group = std::nullopt) {
        return ui::cardMenu(*app, *app->library.item(id), group, actions);
    }
    static const CardMenuEntry& entry(const std::vector<CardMenuEntry>& m, const std::string& key) {
        const CardMenuEntry* e = ui::findEntry(m, key);
        if (!e) throw std::runtime_error("no entry " + key);
        return *e;
    }
    static std::vector<std::string> keys(const std::vector<CardMenuEntry>& m) {
        std::vector<std::string> out;
        for (const auto& e : m) out.push_back(e.kind == CardMenuEntry::Kind::separator ? "-" : e.key);
        return out;
    }
    static std::vector<std::string> checkedRows(const CardMenuEntry& sub) {
        std::vector<std::string> out;
        for (const auto& e : sub.children)
            if (e.checked) out.push_back(e.key);
        return out;
    }
};

TEST_F(CardMenuTest, TitlesCountTheTargetsOfASelectionTheClipIsPartOf) {
    build();
    app->setSelectedIds({clips[0].id, clips[1].id, clips[2].id});
    auto m = menuFor(clips[1].id, p.id);
    EXPECT_EQ(keys(m), (std::vector<std::string>{"takeLive", "properties", "-", "transition", "layer", "onEnd", "scaling",
                                                 "-", "duplicate", "addToPlaylist", "removeFromPlaylist", "-",
                                                 "showInFileManager", "removeFromLibrary"}));
    EXPECT_EQ(entry(m, "duplicate").title, "Duplicate 3 Clips");
    EXPECT_EQ(entry(m, "addToPlaylist").title, "Add 3 Clips to Playlist");
    EXPECT_EQ(entry(m, "removeFromPlaylist").title, "Remove 3 Clips from Playlist");
    EXPECT_EQ(entry(m, "removeFromLibrary").title, "Remove 3 Clips from Library");
    EXPECT_TRUE(entry(m, "removeFromLibrary").destructive);
    EXPECT_EQ(entry(m, "takeLive").title, "Take Live");
    // A clip outside the selection: singular, and it alone.
    m = menuFor(clips[3].id);
    EXPECT_EQ(entry(m, "duplicate").title, "Duplicate");
    EXPECT_EQ(entry(m, "removeFromLibrary").title, "Remove from Library");
    EXPECT_FALSE(ui::findEntry(m, "removeFromPlaylist")) << "unsorted";
    EXPECT_EQ(ui::countedTitle("Duplicate", "Duplicate %lld Clips", 1), "Duplicate");
    EXPECT_EQ(ui::countedTitle("Duplicate", "Duplicate %lld Clips", 12), "Duplicate 12 Clips");
}

TEST_F(CardMenuTest, OfflineAudioAndLiveClipsChangeTheEntries) {
    build();
    const MediaItem gone = addMissing();
    auto m = menuFor(gone.id);
    EXPECT_FALSE(entry(m, "takeLive").enabled);
    EXPECT_TRUE(ui::findEntry(m, "relink"));
    EXPECT_EQ(entry(m, "relink").title, QString::fromUtf8("Relink\u2026"));
    EXPECT_FALSE(entry(m, "showInFileManager").enabled);
    EXPECT_FALSE(ui::findEntry(menuFor(clips[0].id), "relink"));

    const MediaItem tone = add(audio());
    m = menuFor(tone.id);
    EXPECT_FALSE(ui::findEntry(m, "layer"));
    EXPECT_FALSE(ui::findEntry(m, "scaling"));
    EXPECT_EQ(keys(entry(m, "transition").children),
              (std::vector<std::string>{"transition.default", "transition.cut", "transition.fade"}));

    ASSERT_TRUE(app->trigger(clips[0], false));
    m = menuFor(clips[0].id);
    EXPECT_EQ(entry(m, "takeLive").title, "Take Off Air");
    entry(m, "takeLive").run();
    EXPECT_FALSE(onAir());
}

TEST_F(CardMenuTest, PickersMarkTheClipsValueAndWriteEveryTarget) {
    build();
    struct Case {
        std::optional<TransitionType> stored;
        const char* marked;
    } cases[] = {{std::nullopt, "transition.default"}, {TransitionType::fade, "transition.fade"},
                 {TransitionType::crossfade, "transition.fade"}, {TransitionType::zoom, "transition.zoom"}};
    for (const auto& c : cases) {
        app->library.setMeta(clips[0].id, [&](MediaItem& m) { m.transitionType = c.stored; });
        EXPECT_EQ(checkedRows(entry(menuFor(clips[0].id), "transition")), std::vector<std::string>{c.marked});
    }
    app->setSelectedIds({clips[0].id, clips[1].id});
    entry(menuFor(clips[0].id), "transition.fade").run();
    EXPECT_EQ(app->library.item(clips[0].id)->transitionType, TransitionType::crossfade);
    EXPECT_EQ(app->library.item(clips[1].id)->transitionType, TransitionType::crossfade);

    // On end falls back to the loop flag; a choice writes the action and the flag.
    app->library.setMeta(clips[2].id, [](MediaItem& m) {
        m.loop = true;
        m.endAction.reset();
    });
    EXPECT_EQ(checkedRows(entry(menuFor(clips[2].id), "onEnd")), std::vector<std::string>{"end.Loop"});
    entry(menuFor(clips[2].id), "end.Hold").run();
    EXPECT_EQ(app->library.item(clips[2].id)->endAction, EndAction::hold);
    EXPECT_EQ(app->library.item(clips[2].id)->loop, false);
    EXPECT_EQ(checkedRows(entry(menuFor(clips[2].id), "layer")), std::vector<std::string>{"layer.auto"});
    EXPECT_EQ(checkedRows(entry(menuFor(clips[2].id), "scaling")), std::vector<std::string>{"scaling.fit"});
}

TEST_F(CardMenuTest, RemoveFromLibraryOnlyAsksAndNewPlaylistSeedsTheEditor) {
    build();
    app->setSelectedIds({clips[0].id, clips[1].id});
    auto m = menuFor(clips[0].id, p.id);
    entry(m, "removeFromLibrary").run();
    ASSERT_TRUE(app->pendingDeletion);
    EXPECT_EQ(*app->pendingDeletion, PendingDeletion::clips({clips[0].id, clips[1].id}));
    EXPECT_TRUE(app->library.item(clips[0].id));
    entry(m, "newPlaylist").run();
    ASSERT_TRUE(app->playlistEditor);
    EXPECT_EQ(app->playlistEditor->seeds, (std::vector<std::string>{clips[0].id, clips[1].id}));
}

// The rendered menu, opened over a card of the board; entries chosen with real clicks.
class CardMenuClickTest : public CardMenuTest {
protected:
    std::unique_ptr<ui::PlaylistBoardView> board;
    void TearDown() override {
        board.reset();
        CardMenuTest::TearDown();
    }
    QMenu* open(const std::string& id, std::optional<std::string> group) {
        if (!board) {
            board = std::make_unique<ui::PlaylistBoardView>(context());
            board->resize(900, 700);
            board->show();
            EXPECT_TRUE(QTest::qWaitForWindowExposed(board.get()));
            turn();
        }
        QMenu* menu = board->openCardMenu(*app->library.item(id), group, board->mapToGlobal(QPoint(100, 100)));
        EXPECT_TRUE(QTest::qWaitForWindowExposed(menu));
        return menu;
    }
    static void choose(QMenu* menu, const char* key) {
        QAction* a = menu->findChild<QAction*>(key);
        ASSERT_TRUE(a) << key;
        QMenu* owner = menu;
        for (QMenu* sub : menu->findChildren<QMenu*>())
            if (sub->actions().contains(a)) owner = sub;
        if (owner != menu) {
            owner->popup(menu->mapToGlobal(menu->actionGeometry(owner->menuAction()).topRight()));
            ASSERT_TRUE(QTest::qWaitForWindowExposed(owner));
        }
        ASSERT_TRUE(a->isEnabled()) << key;
        QTest::mouseClick(owner, Qt::LeftButton, {}, owner->actionGeometry(a).center());
        turn();
    }
};

TEST_F(CardMenuClickTest, EachEntryDoesWhatTheStateSaysThroughARealClick) {
    build();
    choose(open(clips[0].id, p.id), "takeLive");
    ASSERT_TRUE(onAir());
    EXPECT_EQ(onAir()->mediaId, clips[0].id);

    choose(open(clips[1].id, p.id), "duplicate");
    const auto ids = board::findGroup(app->library, p.id)->mediaIds;
    ASSERT_EQ(ids.size(), 4u);
    EXPECT_EQ(ids[1], clips[1].id);
    EXPECT_EQ(app->library.item(ids[2])->name, clips[1].name) << "the copy right after its source";

    choose(open(clips[2].id, p.id), "removeFromPlaylist");
    EXPECT_EQ(board::findGroup(app->library, p.id)->mediaIds.size(), 3u);

    choose(open(clips[3].id, std::nullopt), "layer.Overlay");
    EXPECT_EQ(app->library.item(clips[3].id)->layer, LayerId::overlay);
    choose(open(clips[3].id, std::nullopt), "scaling.fill");
    EXPECT_EQ(app->library.item(clips[3].id)->fillMode, FillMode::fill);
    choose(open(clips[3].id, std::nullopt), std::string("addTo." + p.id).c_str());
    EXPECT_EQ(board::findGroup(app->library, p.id)->mediaIds.back(), clips[3].id);

    choose(open(clips[3].id, std::nullopt), "showInFileManager");
    ASSERT_EQ(reveal.shown.size(), 1u);
    EXPECT_EQ(reveal.shown[0], std::vector<std::filesystem::path>{clips[3].path});

    choose(open(clips[3].id, std::nullopt), "properties");
    EXPECT_EQ(app->selectedItemId(), clips[3].id);

    choose(open(clips[3].id, std::nullopt), "removeFromLibrary");
    EXPECT_TRUE(app->pendingDeletion);
    EXPECT_TRUE(app->library.item(clips[3].id));
}

TEST_F(CardMenuClickTest, ARightClickOnACardOpensItsMenu) {
    build();
    open(clips[0].id, p.id)->close();
    ui::MediaCard* card = board->section(p.id)->card(clips[1].id);
    ASSERT_TRUE(card);
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(20, 20), card->mapToGlobal(QPoint(20, 20)));
    QApplication::sendEvent(card, &event);
    QTRY_VERIFY(board->cardMenu() && board->cardMenu()->isVisible());
    EXPECT_EQ(board->cardMenu()->findChild<QAction*>("removeFromPlaylist")->text(), "Remove from Playlist");
}

}  // namespace
}  // namespace ombry::ui_test
