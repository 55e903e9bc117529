// The board's operations on the application state: clip selection, playlist operations that move the
// sidebar selection, the panels and media intake, and removing clips that are on air. Over the real renderer
// on the headless context, with generated stills so that takes land at once.
#include "AppStateFixture.hpp"
#include "Platform/Product.hpp"
#include "support/StubDisplays.hpp"

using namespace ombry;
using namespace ombry::app_test;
namespace fs = std::filesystem;

namespace {

// Answers each open panel with the scripted choice and records what it was asked.
struct RecordingPanels final : FilePanels {
    std::vector<OpenPanelRequest> asked;
    std::vector<fs::path> choice;  // empty: cancelled
    std::optional<fs::path> runSavePanel(const SavePanelRequest&) override { return std::nullopt; }
    std::optional<fs::path> runOpenPanel(const OpenPanelRequest& r) override {
        asked.push_back(r);
        if (choice.empty()) return std::nullopt;
        return choice.front();
    }
    std::vector<fs::path> runOpenPanelMultiple(const OpenPanelRequest& r) override {
        asked.push_back(r);
        return choice;
    }
};

using test::StubWindows;
using test::TwoScreens;

struct Deck {
    std::string path;
    std::optional<std::string> target;
    bool operator==(const Deck&) const = default;
};

class BoardStateTest : public AppStateTest {
protected:
    RecordingPanels recordingPanels;
    TwoScreens twoScreens{1280, 720};
    // What intake was asked besides adding clips: slide decks and their playlist, sequence detection.
    std::vector<Deck> decks;
    std::vector<std::vector<std::string>> sequenceSearches;

    void SetUp() override {
        AppStateTest::SetUp();
        AppEnvironment e = env();
        e.panels = &recordingPanels;
        e.screens = &twoScreens;
        app = std::make_unique<AppState>(std::move(e));
        app->transitionDuration = 0;
        app->intake().routeDeck = [this](const std::string& path, const std::optional<std::string>& target) {
            decks.push_back({path, target});
        };
        app->intake().detectSequence = [this](const std::vector<std::string>& paths) {
            sequenceSearches.push_back(paths);
            return std::optional<DetectedSequence>();
        };
    }
    // A slide deck's path; intake routes decks by name alone.
    const std::string deckPath = (test::tempDir("deck") / "deck.pdf").string();
    const std::string& deck() const { return deckPath; }
    std::string namesOf(const std::vector<std::string>& ids) {
        std::string out;
        for (const auto& id : ids) out += (out.empty() ? "" : ",") + app->library.item(id)->name;
        return out;
    }

    // Stills named after their id, so a search can find them by name.
    std::string still(const std::string& name) {
        const fs::path p = test::tempDir("stills") / (name + ".png");
        fs::copy_file(stage_test::stillImage("blue"), p, fs::copy_options::overwrite_existing);
        return p.string();
    }
    std::vector<std::string> stills(std::initializer_list<const char*> names) {
        std::vector<std::string> paths;
        for (const char* n : names) paths.push_back(still(n));
        std::vector<std::string> ids;
        for (const auto& m : app->library.add(paths)) ids.push_back(m.id);
        return ids;
    }
    std::string playlistNamed(const std::string& name, const std::vector<std::string>& ids) {
        const Group g = app->library.createGroup(name);
        for (const auto& id : ids) app->library.addToGroup(g.id, id);
        return g.id;
    }
    std::set<std::string> set(std::initializer_list<std::string> ids) { return ids; }
};

}  // namespace

// Clip selection. Visible clips: P = [c0, c1, c2] then Q = [c3, c4, c5], nothing unsorted.
class SelectionTest : public BoardStateTest {
protected:
    std::vector<std::string> c;
    void SetUp() override {
        BoardStateTest::SetUp();
        c = stills({"Alpha", "Bravo", "Charlie", "Delta", "Echo", "Foxtrot"});
        playlistNamed("P", {c[0], c[1], c[2]});
        playlistNamed("Q", {c[3], c[4], c[5]});
    }
};

TEST_F(SelectionTest, CommandClickTogglesAndLeavesThePrimaryClipWhereItIs) {
    app->toggleClipSelection(c[1]);
    EXPECT_EQ(app->selectedIds(), set({c[1]}));
    EXPECT_EQ(app->selectedItemId(), c[1]);
    EXPECT_EQ(app->preloadedId(), c[1]);  // a new primary clip is prepared
    app->toggleClipSelection(c[4]);
    EXPECT_EQ(app->selectedIds(), set({c[1], c[4]}));
    EXPECT_EQ(app->selectedItemId(), c[4]);
    app->toggleClipSelection(c[4]);
    EXPECT_EQ(app->selectedIds(), set({c[1]}));
    EXPECT_EQ(app->selectedItemId(), c[4]);
    EXPECT_EQ(app->selectionAnchorId(), c[4]);
}

TEST_F(SelectionTest, ShiftClickAddsTheRangeFromTheAnchor) {
    // Nothing selected, no anchor: the clicked clip alone, and it becomes the anchor.
    app->extendClipSelection(c[2]);
    EXPECT_EQ(app->selectedIds(), set({c[2]}));
    EXPECT_EQ(app->selectionAnchorId(), c[2]);
    EXPECT_EQ(app->selectedItemId(), c[2]);

    // From the anchor at 2 to 5 (across sections), then back to 3: the second range adds nothing.
    app->extendClipSelection(c[5]);
    EXPECT_EQ(app->selectedIds(), set({c[2], c[3], c[4], c[5]}));
    app->extendClipSelection(c[3]);
    EXPECT_EQ(app->selectedIds(), set({c[2], c[3], c[4], c[5]}));
    EXPECT_EQ(app->selectedItemId(), c[3]);
    EXPECT_EQ(app->selectionAnchorId(), c[2]);

    // Upwards from the anchor, added to what is selected.
    app->extendClipSelection(c[0]);
    EXPECT_EQ(app->selectedIds(), set({c[0], c[1], c[2], c[3], c[4], c[5]}));
}

TEST_F(SelectionTest, WithoutAnAnchorShiftClickRangesFromTheSelectedClip) {
    app->setSelectedItemId(c[1]);
    app->extendClipSelection(c[3]);
    EXPECT_EQ(app->selectedIds(), set({c[1], c[2], c[3]}));
    EXPECT_EQ(app->selectedItemId(), c[3]);
    EXPECT_EQ(app->selectionAnchorId(), std::nullopt);
    app->extendClipSelection(c[4]);  // from the clip clicked last
    EXPECT_EQ(app->selectedIds(), set({c[1], c[2], c[3], c[4]}));
}

TEST_F(SelectionTest, HiddenClipsAreNeitherRangeEndsNorKeptSelected) {
    app->toggleClipSelection(c[0]);
    app->toggleClipSelection(c[4]);  // anchor: Echo
    app->setSearchText("a");         // Alpha, Bravo, Charlie, Delta stay; Echo and Foxtrot hidden
    EXPECT_EQ(app->selectedIds(), set({c[0]}));
    EXPECT_EQ(app->selectionAnchorId(), std::nullopt);
    EXPECT_EQ(app->selectedItemId(), c[4]);  // still names the hidden clip

    // A shift-click on a hidden clip does nothing; the hidden selected clip is no anchor either.
    app->extendClipSelection(c[5]);
    EXPECT_EQ(app->selectedIds(), set({c[0]}));
    EXPECT_EQ(app->selectedItemId(), c[4]);
    app->extendClipSelection(c[2]);
    EXPECT_EQ(app->selectedIds(), set({c[0], c[2]}));
    EXPECT_EQ(app->selectionAnchorId(), c[2]);

    // Setting the same text again prunes nothing.
    app->setSelectedIds({c[0], c[5]});
    app->setSearchText("a");
    EXPECT_EQ(app->selectedIds(), set({c[0], c[5]}));
    app->setSearchText("");
    EXPECT_EQ(app->selectedIds(), set({c[0], c[5]}));
}

TEST_F(SelectionTest, SelectAllTakesTheVisibleClipsAndKeepsThePrimaryAndAnchor) {
    app->toggleClipSelection(c[5]);
    app->setSelection({SidebarItem::playlist(app->library.groups()[0].id)});
    EXPECT_TRUE(app->selectedIds().empty());  // a new sidebar selection empties it
    app->selectAllVisible();
    EXPECT_EQ(app->selectedIds(), set({c[0], c[1], c[2]}));
    EXPECT_EQ(app->selectedItemId(), c[5]);
}

TEST_F(SelectionTest, ContextTargetsAreTheVisibleSelectionWhenTheCardBelongsToIt) {
    // A clip that stands in two shown playlists stands twice.
    app->library.addToGroup(app->library.groups()[1].id, c[0]);
    app->setSelectedIds({c[0], c[4], c[2], c[5]});
    EXPECT_EQ(app->contextTargets(c[4]), (std::vector<std::string>{c[0], c[2], c[4], c[5], c[0]}));
    EXPECT_EQ(app->contextTargets(c[1]), std::vector<std::string>{c[1]});  // not selected: alone
    app->setSelectedIds({c[3]});
    EXPECT_EQ(app->contextTargets(c[3]), std::vector<std::string>{c[3]});  // fewer than two
    // Selected clips out of view are left out.
    app->setSelection({SidebarItem::playlist(app->library.groups()[1].id)});
    app->setSelectedIds({c[3], c[4], c[1]});
    EXPECT_EQ(app->contextTargets(c[4]), (std::vector<std::string>{c[3], c[4]}));
}

TEST_F(SelectionTest, LayerOverridesSkipAudioAndFillModesReachTheLiveCue) {
    const std::string tone = add(audio()).id;
    app->setItemLayer({c[0], tone, "unknown"}, LayerId::overlay);
    EXPECT_EQ(app->library.item(c[0])->layer, LayerId::overlay);
    EXPECT_EQ(app->library.item(tone)->layer, std::nullopt);
    app->setItemLayer({c[0]}, std::nullopt);
    EXPECT_EQ(app->library.item(c[0])->layer, std::nullopt);

    ASSERT_TRUE(app->trigger(*app->library.item(c[1]), false));
    ASSERT_TRUE(onAir(LayerId::media));
    app->setItemFillMode({c[1], c[2]}, FillMode::fill);
    EXPECT_EQ(app->library.item(c[1])->fillMode, FillMode::fill);
    EXPECT_EQ(app->library.item(c[2])->fillMode, FillMode::fill);
    EXPECT_EQ(onAir(LayerId::media)->fillMode, FillMode::fill);
}

TEST_F(SelectionTest, RemovingALiveClipClearsItsLayerFirst) {
    app->setItemLayer({c[3]}, LayerId::overlay);
    ASSERT_TRUE(app->trigger(*app->library.item(c[1]), false));
    ASSERT_TRUE(app->trigger(*app->library.item(c[3]), false));
    ASSERT_TRUE(onAir(LayerId::media));
    ASSERT_TRUE(onAir(LayerId::overlay));
    const std::string overlayCue = onAir(LayerId::overlay)->cueId;
    app->toggleClipSelection(c[1]);
    app->toggleClipSelection(c[2]);
    app->extendClipSelection(c[1]);  // the anchor stays on c[2]; primary c[1]

    // The library still knows the clip when its layer is cleared.
    bool knownWhenCleared = false;
    auto apply = app->program.onChange;
    app->program.onChange = [&](const ProgramState& s) {
        if (!s.layers[LayerId::media].active) knownWhenCleared = app->library.item(c[1]) != nullptr;
        if (apply) apply(s);
    };
    app->removeFromLibrary({c[1], c[2]});
    EXPECT_FALSE(onAir(LayerId::media));
    EXPECT_TRUE(knownWhenCleared);
    ASSERT_TRUE(onAir(LayerId::overlay));
    EXPECT_EQ(onAir(LayerId::overlay)->cueId, overlayCue);
    EXPECT_TRUE(app->selectedIds().empty());
    EXPECT_EQ(app->selectionAnchorId(), std::nullopt);
    EXPECT_EQ(app->selectedItemId(), std::nullopt);
    EXPECT_EQ(app->library.item(c[1]), nullptr);
    EXPECT_EQ(app->library.groups()[0].mediaIds, std::vector<std::string>{c[0]});
}

// Playlist operations that move the sidebar selection.

TEST_F(BoardStateTest, DeletingAPlaylistMovesTheSidebarOffItFirst) {
    const std::string p = playlistNamed("P", stills({"one"}));
    const std::string q = playlistNamed("Q", {});
    app->setSelection({SidebarItem::playlist(p)});
    std::set<SidebarItem> seenWhenDeleted;
    app->library.onChange = [&] { seenWhenDeleted = app->selection(); };
    app->deleteGroup(p);
    EXPECT_EQ(app->selection(), std::set<SidebarItem>{SidebarItem::allPlaylists()});
    EXPECT_EQ(seenWhenDeleted, std::set<SidebarItem>{SidebarItem::allPlaylists()});
    EXPECT_EQ(app->library.media().size(), 1u);  // its clips stay

    const std::string r = playlistNamed("R", {});
    app->setSelection({SidebarItem::playlist(q), SidebarItem::playlist(r)});
    app->toggleClipSelection(app->library.media()[0].id);
    app->deleteGroup(q);
    EXPECT_EQ(app->selection(), std::set<SidebarItem>{SidebarItem::playlist(r)});
    app->deleteGroup("not selected");
    EXPECT_EQ(app->selection(), std::set<SidebarItem>{SidebarItem::playlist(r)});
}

TEST_F(BoardStateTest, MergeSelectsTheMergedPlaylistAlone) {
    const auto ids = stills({"1", "2", "3"});
    const std::string a = playlistNamed("A", {ids[0], ids[1]});
    const std::string b = playlistNamed("B", {ids[1], ids[2]});
    app->setSelection({SidebarItem::playlist(a), SidebarItem::playlist(b)});
    app->mergePlaylists({a, b});
    ASSERT_EQ(app->library.groups().size(), 1u);
    EXPECT_EQ(app->library.groups()[0].mediaIds, ids);
    EXPECT_EQ(app->selection(), std::set<SidebarItem>{SidebarItem::playlist(a)});

    app->setSelection({SidebarItem::allPlaylists()});
    app->mergePlaylists({a});
    EXPECT_EQ(app->selection(), std::set<SidebarItem>{SidebarItem::allPlaylists()});
}

TEST_F(BoardStateTest, DuplicatedPlaylistsAreSelected) {
    const std::string a = playlistNamed("Intro", stills({"x"}));
    const std::string b = playlistNamed("Outro", {});
    app->duplicatePlaylists({a, b});
    ASSERT_EQ(app->library.groups().size(), 4u);
    EXPECT_EQ(app->library.groups()[2].name, "Intro Copy");
    EXPECT_EQ(app->selection(), (std::set<SidebarItem>{SidebarItem::playlist(app->library.groups()[2].id),
                                                       SidebarItem::playlist(app->library.groups()[3].id)}));
    app->duplicatePlaylists({"gone"});
    EXPECT_EQ(app->library.groups().size(), 4u);
    EXPECT_EQ(app->selection().size(), 2u);
}

// Files from outside: dropped, or chosen in the panels.

TEST_F(BoardStateTest, DroppedFilesGoThroughIntakeAndLandAtTheClampedIndex) {
    const std::string p = playlistNamed("P", stills({"a", "b"}));
    auto section = [&] { return app->boardSections().at(0); };
    app->dropFiles({still("late"), deck(), "/nowhere/notes.txt"}, section(), 99);
    EXPECT_EQ(namesOf(app->library.groups()[0].mediaIds), "a.png,b.png,late.png");
    EXPECT_EQ(decks, (std::vector<Deck>{{deck(), p}}));      // decks go into the section's playlist
    EXPECT_EQ(sequenceSearches.size(), 1u);                  // numbered runs are looked for
    EXPECT_TRUE(app->unsupportedFilePrompt().has_value());  // and unusable files announced

    app->dropFiles({still("early"), still("second")}, section(), -2);
    EXPECT_EQ(namesOf(app->library.groups()[0].mediaIds), "early.png,second.png,a.png,b.png,late.png");

    // Nothing added at once (a deck only): no order changes.
    const auto before = app->library.groups();
    app->dropFiles({deck()}, section(), 0);
    EXPECT_EQ(app->library.groups(), before);

    // Onto the unsorted section: numbered among its shown clips.
    const std::string loose = stills({"loose"}).at(0);
    app->setSearchText("loose");
    app->dropFiles({still("looser")}, app->boardSections().at(0), 0);
    app->setSearchText("");
    EXPECT_EQ(namesOf(board::visibleIds({app->boardSections().back()})), "looser.png,loose.png");
    EXPECT_EQ(decks.size(), 2u);
    EXPECT_EQ(decks[1].target, p);
}

// The window's chrome learns of every question the intake leaves for the operator.
TEST_F(BoardStateTest, QueuedSequencesAndIntakeAlertsSignalTheChrome) {
    int signals = 0;
    Subscription watching = app->observe([&](Aspect a) {
        if (a == Aspect::imports) ++signals;
    });
    const std::string frame = still("frame_001");
    app->intake().detectSequence = [&](const std::vector<std::string>& paths) -> std::optional<DetectedSequence> {
        return DetectedSequence{paths, "frame"};
    };
    app->addMedia({frame}, std::nullopt, true, true);
    ASSERT_EQ(app->pendingSequenceImports().size(), 1u);
    EXPECT_EQ(signals, 1);
    app->intake().detectSequence = nullptr;
    app->addMedia({"/nowhere/notes.txt"}, std::nullopt, true, true);
    EXPECT_TRUE(app->unsupportedFilePrompt().has_value());
    EXPECT_EQ(signals, 2);
    app->intake().raiseCapacityAlert("full");
    EXPECT_EQ(signals, 3);
}

TEST_F(BoardStateTest, AddMediaPanelHandsTheChosenFilesToIntake) {
    recordingPanels.choice = {};
    app->promptAddMedia();
    ASSERT_EQ(recordingPanels.asked.size(), 1u);
    const OpenPanelRequest& r = recordingPanels.asked[0];
    EXPECT_EQ(r.title, "Add Media");
    EXPECT_TRUE(r.allowsMultiple);
    EXPECT_TRUE(r.canChooseFolders);
    for (const char* ext : {"mov", "webm", "png", "svg", "wav", "flac", "pdf"})
        EXPECT_NE(std::find(r.extensions.begin(), r.extensions.end(), ext), r.extensions.end()) << ext;
    EXPECT_TRUE(sequenceSearches.empty());  // cancelled: intake never asked

    const std::string p = playlistNamed("P", {});
    const std::string q = playlistNamed("Q", {});
    const fs::path folder = test::tempDir("folder");
    fs::copy_file(still("inside"), folder / "inside.png");
    recordingPanels.choice = {still("one"), folder, deck()};
    app->setSelection({SidebarItem::playlist(p)});
    app->promptAddMedia();
    EXPECT_EQ(namesOf(board::visibleIds(app->boardSections())), "");  // added clips stay unsorted
    app->setSelection({SidebarItem::allPlaylists()});
    EXPECT_EQ(namesOf(board::visibleIds({app->boardSections().back()})), "one.png,inside.png");
    EXPECT_EQ(decks, (std::vector<Deck>{{deck(), p}}));
    EXPECT_EQ(sequenceSearches.size(), 1u);

    recordingPanels.choice = {deck()};
    app->setSelection({SidebarItem::playlist(q), SidebarItem::playlist(p)});  // two: the first in the list
    app->promptAddMedia();
    ASSERT_EQ(decks.size(), 2u);
    EXPECT_EQ(decks[1].target, p);
    app->setSelection({SidebarItem::allPlaylists()});  // no playlist of its own: no deck target
    app->promptAddMedia();
    ASSERT_EQ(decks.size(), 3u);
    EXPECT_EQ(decks[2].target, std::nullopt);
}

TEST_F(BoardStateTest, RelinkAsksForAFileOfTheClipsKindAndProbesItAfterwards) {
    const std::string id = stills({"Opening"}).at(0);
    app->promptRelink("gone");
    EXPECT_TRUE(recordingPanels.asked.empty());  // no clip: no panel

    recordingPanels.choice = {};
    app->promptRelink(id);
    ASSERT_EQ(recordingPanels.asked.size(), 1u);
    EXPECT_EQ(recordingPanels.asked[0].title, "Relink \u201COpening.png\u201D");
    EXPECT_FALSE(recordingPanels.asked[0].allowsMultiple);
    EXPECT_FALSE(recordingPanels.asked[0].canChooseFolders);
    EXPECT_EQ(std::set<std::string>(recordingPanels.asked[0].extensions.begin(), recordingPanels.asked[0].extensions.end()),
              Library::imageExt);

    // A file of another kind is refused without a word.
    recordingPanels.choice = {audio()};
    app->promptRelink(id);
    q.runPending();
    EXPECT_EQ(app->library.item(id)->name, "Opening.png");
    EXPECT_EQ(app->library.item(id)->probed, std::nullopt);

    recordingPanels.choice = {still("Moved")};
    app->promptRelink(id);
    EXPECT_EQ(app->library.item(id)->path, recordingPanels.choice[0].string());
    EXPECT_EQ(app->library.item(id)->probed, false);
    // The probe starts from the main queue and lands there.
    ASSERT_TRUE(q.waitUntil([&] { return app->library.item(id)->probed == true; }, 60.0));
    EXPECT_EQ(app->library.item(id)->width, 64);
}

TEST_F(BoardStateTest, DisplaysToggleWhereTheSettingsAllowAndCloseEvenWhereTheyNoLongerDo) {
    app->displays().setWindowFactory(std::make_unique<StubWindows>());
    auto allow = [&](bool primary, bool controller) {
        AppSettings s = app->settings();
        s.allowOutputOnPrimaryDisplay = primary;
        s.allowOutputOnControllerDisplay = controller;
        app->setSettings(s);
    };
    app->toggleDisplay(2);
    EXPECT_EQ(app->openDisplayIDs(), std::set<DisplayId>{2});
    app->toggleDisplay(2);
    EXPECT_TRUE(app->openDisplayIDs().empty());

    app->toggleDisplay(1);  // the primary display, not allowed: silently nothing
    EXPECT_TRUE(app->openDisplayIDs().empty());
    EXPECT_FALSE(app->displays().isOpen(1));
    EXPECT_EQ(issue(IssueCode::displayOpenFailed), nullptr);
    allow(true, false);
    app->toggleDisplay(1);
    EXPECT_EQ(app->openDisplayIDs(), std::set<DisplayId>{1});
    allow(false, false);
    app->toggleDisplay(1);
    EXPECT_TRUE(app->openDisplayIDs().empty());

    // The display of the main window takes the output only when the settings say so.
    app->mainWindowDisplay = [] { return std::optional<DisplayId>(2); };
    app->toggleDisplay(2);
    EXPECT_TRUE(app->openDisplayIDs().empty());
    allow(false, true);
    app->toggleDisplay(2);
    EXPECT_EQ(app->openDisplayIDs(), std::set<DisplayId>{2});

    // A display the list does not know is tried, and the manager reports that it cannot open it.
    app->toggleDisplay(9);
    EXPECT_EQ(app->openDisplayIDs(), std::set<DisplayId>{2});
    EXPECT_NE(issue(IssueCode::displayOpenFailed), nullptr);
}

TEST_F(BoardStateTest, TheOutputAddressIsCopiedOnlyWhileTheOutputServerRuns) {
    clipboard.clearAndSet(product::playlistClipboardType, "a playlist");
    app->copyOutputURL();
    EXPECT_TRUE(clipboard.hasData(product::playlistClipboardType));
    EXPECT_FALSE(clipboard.hasData(plainTextType));

    app->serverInfo = ServerInfo{7342, "http://localhost:7342/", {"http://localhost:7342/", "http://10.0.0.5:7342/"}};
    app->copyOutputURL();
    EXPECT_EQ(clipboard.data(plainTextType), "http://localhost:7342/");
    EXPECT_FALSE(clipboard.hasData(product::playlistClipboardType));  // the clipboard was emptied first
}
