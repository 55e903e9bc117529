// The board over a real library: sections, search, drops, duplicates and the playlist operations.
#include <gtest/gtest.h>

#include <map>

#include "App/Board.hpp"
#include "support/ShowRecords.hpp"

using namespace ombry;

namespace {

// Clips named after their id.
MediaItem clip(const std::string& id, std::optional<double> order = std::nullopt) {
    return test::makeItem(id, "/media/" + id, order, 1);
}

Group group(const std::string& id, std::vector<std::string> ids, std::optional<std::string> color = "#5f6670") {
    return test::makeGroup(id, std::move(ids), std::move(color));
}

std::vector<std::string> ids(const std::vector<MediaItem>& items) {
    std::vector<std::string> out;
    for (const auto& m : items) out.push_back(m.id);
    return out;
}

std::vector<std::string> titles(const std::vector<BoardSection>& sections) {
    std::vector<std::string> out;
    for (const auto& s : sections) out.push_back(s.title);
    return out;
}

struct BoardTest : ::testing::Test {
    ManualQueue q;
    ScopedMainQueue scope{q};
    Library library;
    int writes = 0;

    void SetUp() override { library.onChange = [this] { ++writes; }; }

    // Clips A, B, C, D (orders 0 to 3) and playlist P holding them in that order.
    void abcd() {
        library.setMedia({clip("A", 0), clip("B", 1), clip("C", 2), clip("D", 3)});
        library.setGroups({group("P", {"A", "B", "C", "D"})});
    }
    const Group& g(const std::string& id) { return *board::findGroup(library, id); }
    BoardSection section(const std::string& id) {
        for (auto& s : board::boardSections(library, {SidebarItem::allPlaylists()}, ""))
            if (s.id == id) return s;
        ADD_FAILURE() << "no section " << id;
        return {};
    }
    // Ids with the library's new clips written as their source's id and a prime: [A, B, A′, C, D].
    std::vector<std::string> named(const std::vector<std::string>& list) {
        std::vector<std::string> out;
        for (const auto& id : list) {
            const MediaItem* m = library.item(id);
            out.push_back(m && m->name != id ? m->name + "\u2032" : id);
        }
        return out;
    }
    double order(const std::string& id) { return library.item(id)->order.value_or(-1); }
};

}  // namespace

TEST_F(BoardTest, DropsOntoAPlaylistCountTheGapsAsTheyWereBeforeTheDrag) {
    struct Case {
        std::vector<std::string> dragged;
        int index;
        bool copy;
        std::vector<std::string> expected;
    } cases[] = {
        {{"A"}, 3, false, {"B", "C", "A", "D"}},
        {{"D"}, 0, false, {"D", "A", "B", "C"}},
        {{"B", "C"}, 4, false, {"A", "D", "B", "C"}},
        {{"C", "A"}, 1, false, {"C", "A", "B", "D"}},  // drag order kept, A above the gap not counted
        {{"B"}, -5, false, {"B", "A", "C", "D"}},
        {{"B"}, 99, false, {"A", "C", "D", "B"}},
        {{"A"}, 2, true, {"A", "B", "A\u2032", "C", "D"}},
        {{"D", "A"}, -1, true, {"D\u2032", "A\u2032", "A", "B", "C", "D"}},
        {{"B"}, 99, true, {"A", "B", "C", "D", "B\u2032"}},
        {{"X"}, 1, false, {"A", "X", "B", "C", "D"}},  // an id in no section is still placed
        {{"X"}, 1, true, {"A", "B", "C", "D"}},        // a copy of nothing changes nothing
        {{}, 0, false, {"A", "B", "C", "D"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.dragged) + " @" + std::to_string(c.index) + (c.copy ? " copy" : ""));
        abcd();
        board::handleClipDrop(library, c.dragged, section("P"), c.index, c.copy);
        EXPECT_EQ(named(g("P").mediaIds), c.expected);
    }
}

TEST_F(BoardTest, ACopiedClipIsANewClipAndTheSourceStays) {
    abcd();
    board::handleClipDrop(library, {"A"}, section("P"), 2, true);
    const std::string copy = g("P").mediaIds[2];
    EXPECT_NE(copy, "A");
    ASSERT_NE(library.item(copy), nullptr);
    EXPECT_EQ(library.item(copy)->path, library.item("A")->path);
    EXPECT_EQ(library.media().size(), 5u);
}

TEST_F(BoardTest, MovingIntoAPlaylistTakesTheClipOutOfEveryOtherPlaylist) {
    library.setMedia({clip("A", 0), clip("B", 1), clip("C", 2)});
    library.setGroups({group("P", {"A", "B"}), group("Q", {"C"}), group("R", {"A"})});
    board::handleClipDrop(library, {"A"}, section("Q"), 0, false);
    EXPECT_EQ(g("P").mediaIds, std::vector<std::string>{"B"});
    EXPECT_EQ(g("Q").mediaIds, (std::vector<std::string>{"A", "C"}));
    EXPECT_TRUE(g("R").mediaIds.empty());
}

TEST_F(BoardTest, MovingIntoUnsortedLeavesEveryPlaylistAndNumbersTheShownClips) {
    library.setMedia({clip("A", 0), clip("U1", 5), clip("U2", 9)});
    library.setGroups({group("P", {"A"}), group("Q", {"A"})});
    board::handleClipDrop(library, {"A"}, section(board::unsortedId), 1, false);
    EXPECT_TRUE(g("P").mediaIds.empty());
    EXPECT_TRUE(g("Q").mediaIds.empty());
    EXPECT_EQ(ids(board::ungroupedMedia(library)), (std::vector<std::string>{"U1", "A", "U2"}));
    EXPECT_EQ(order("U1"), 0);
    EXPECT_EQ(order("A"), 1);
    EXPECT_EQ(order("U2"), 2);
}

TEST_F(BoardTest, ADropIntoAFilteredUnsortedSectionLeavesTheHiddenClipsInTheirPlaces) {
    library.setMedia({clip("Intro", 0), clip("Hidden", 1), clip("Interval", 2), clip("Outro", 3)});
    auto shown = [&] { return board::boardSections(library, {SidebarItem::allPlaylists()}, "int").at(0); };
    EXPECT_EQ(ids(shown().items), (std::vector<std::string>{"Intro", "Interval"}));
    board::handleClipDrop(library, {"Interval"}, shown(), 0, false);
    EXPECT_EQ(ids(board::ungroupedMedia(library)), (std::vector<std::string>{"Interval", "Intro", "Hidden", "Outro"}));

    board::handleClipDrop(library, {"Outro"}, shown(), 2, true);  // after the last shown card
    const std::string copy = library.media().back().id;
    EXPECT_EQ(ids(board::ungroupedMedia(library)),
              (std::vector<std::string>{"Interval", "Intro", copy, "Hidden", "Outro"}));
}

TEST_F(BoardTest, UnderASearchTheShownGapIsMappedOntoThePlaylist) {
    // Shown: Intro, Interval; hidden: H1, H2, Outro.
    struct Case {
        std::vector<std::string> dragged;
        int shownIndex;
        bool copy;
        std::vector<std::string> expected;
    } cases[] = {
        {{"Intro"}, 2, false, {"H1", "H2", "Interval", "Intro", "Outro"}},
        {{"Interval"}, 0, false, {"H1", "Interval", "Intro", "H2", "Outro"}},
        {{"Interval"}, 1, false, {"H1", "Intro", "H2", "Interval", "Outro"}},
        {{"Outro"}, 1, false, {"H1", "Intro", "H2", "Outro", "Interval"}},
        {{"Intro"}, 1, true, {"H1", "Intro", "H2", "Intro\u2032", "Interval", "Outro"}},
        {{"Intro"}, 2, true, {"H1", "Intro", "H2", "Interval", "Intro\u2032", "Outro"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.dragged) + " @" + std::to_string(c.shownIndex));
        library.setMedia({clip("H1", 0), clip("Intro", 1), clip("H2", 2), clip("Interval", 3), clip("Outro", 4)});
        library.setGroups({group("P", {"H1", "Intro", "H2", "Interval", "Outro"})});
        const BoardSection shown = board::boardSections(library, {SidebarItem::allPlaylists()}, "int").at(0);
        ASSERT_EQ(ids(shown.items), (std::vector<std::string>{"Intro", "Interval"}));
        board::handleClipDrop(library, c.dragged, shown, c.shownIndex, c.copy);
        EXPECT_EQ(named(g("P").mediaIds), c.expected);
    }
}

TEST_F(BoardTest, FilesDroppedUnderASearchLandAtTheShownGap) {
    library.setMedia({clip("H1", 0), clip("Intro", 1), clip("H2", 2), clip("Interval", 3), clip("New1", 5),
                      clip("New2", 6)});
    library.setGroups({group("P", {"H1", "Intro", "H2", "Interval"})});
    const BoardSection shown = board::boardSections(library, {SidebarItem::allPlaylists()}, "int").at(0);
    board::placeAdded(library, {*library.item("New1"), *library.item("New2")}, shown, 1);
    EXPECT_EQ(g("P").mediaIds, (std::vector<std::string>{"H1", "Intro", "H2", "New1", "New2", "Interval"}));
}

TEST_F(BoardTest, TheShownIndexMapsOntoTheFullOrder) {
    const std::vector<std::string> order{"a", "b", "c", "d", "e"};
    const std::vector<MediaItem> shown{clip("b"), clip("d")};
    EXPECT_EQ(board::modelIndex(order, shown, 0), 1);
    EXPECT_EQ(board::modelIndex(order, shown, 1), 3);
    EXPECT_EQ(board::modelIndex(order, shown, 2), 4);   // right after the last shown card
    EXPECT_EQ(board::modelIndex(order, shown, 99), 4);
    EXPECT_EQ(board::modelIndex(order, shown, -3), 1);
    EXPECT_EQ(board::modelIndex(order, {}, 0), 5);
    EXPECT_EQ(board::modelIndex({}, {}, 0), 0);
    const std::vector<MediaItem> all{clip("a"), clip("b"), clip("c"), clip("d"), clip("e")};
    for (int i = 0; i <= 5; ++i) EXPECT_EQ(board::modelIndex(order, all, i), i);
}

TEST_F(BoardTest, ADropOnAPlaylistThatWentMeanwhileDoesNothing) {
    abcd();
    const BoardSection stale = section("P");
    library.setGroups({});
    const int before = writes;
    board::handleClipDrop(library, {"A"}, stale, 0, false);
    board::handleClipDrop(library, {"A"}, stale, 0, true);
    EXPECT_EQ(writes, before);
    EXPECT_EQ(library.media().size(), 4u);
}

TEST_F(BoardTest, UngroupedMediaAreTheClipsInNoPlaylistByOrder) {
    library.setMedia({clip("late", 5), clip("none1"), clip("in", 1), clip("neg", -2), clip("none2", 0)});
    library.setGroups({group("P", {"in"})});
    // Absent order counts as 0; ties keep list order.
    EXPECT_EQ(ids(board::ungroupedMedia(library)), (std::vector<std::string>{"neg", "none1", "none2", "late"}));
}

TEST_F(BoardTest, SectionsFollowTheSidebarSelection) {
    library.setMedia({clip("A", 0), clip("B", 1), clip("C", 2)});
    library.setGroups({group("P", {"A", "gone"}, std::nullopt), group("Q", {}), group("R", {"B"}, "#ff0000")});
    Group withIcon = g("R");
    withIcon.icon = "star";
    library.updateGroup(withIcon);

    auto all = board::boardSections(library, {SidebarItem::allPlaylists()}, "");
    EXPECT_EQ(titles(all), (std::vector<std::string>{"P", "Q", "R", "Unsorted"}));
    EXPECT_EQ(ids(all[0].items), std::vector<std::string>{"A"});  // an id without a clip is left out
    EXPECT_EQ(all[0].tint, grayTint);                              // no colour
    EXPECT_EQ(all[0].symbol, "list.bullet");
    EXPECT_EQ(all[0].groupId, "P");
    EXPECT_EQ(all[2].symbol, "star");
    EXPECT_EQ(all[2].tint, (Rgba{1, 0, 0, 1}));
    EXPECT_EQ(all[3].id, "unsorted");
    EXPECT_EQ(all[3].symbol, "tray");
    EXPECT_EQ(all[3].tint, grayTint);
    EXPECT_EQ(all[3].groupId, std::nullopt);
    EXPECT_EQ(ids(all[3].items), std::vector<std::string>{"C"});

    // Library order whatever the selection order; stale selections dropped; no unsorted section.
    const std::set<SidebarItem> two{SidebarItem::playlist("R"), SidebarItem::playlist("P"),
                                    SidebarItem::playlist("deleted")};
    EXPECT_EQ(board::selectedPlaylistIds(library, two), (std::vector<std::string>{"P", "R"}));
    EXPECT_EQ(titles(board::boardSections(library, two, "")), (std::vector<std::string>{"P", "R"}));

    // All playlists wins over playlists selected with it; an empty selection shows everything too.
    auto withAll = two;
    withAll.insert(SidebarItem::allPlaylists());
    EXPECT_TRUE(board::selectedPlaylistIds(library, withAll).empty());
    EXPECT_EQ(board::boardSections(library, {}, "").size(), 4u);

    // With every clip in a playlist the unsorted section still shows, empty.
    library.setGroups({group("P", {"A", "B", "C"})});
    EXPECT_EQ(titles(board::boardSections(library, {SidebarItem::allPlaylists()}, "")),
              (std::vector<std::string>{"P", "Unsorted"}));
}

TEST_F(BoardTest, SearchIgnoresCaseAndDropsSectionsWithoutAMatch) {
    auto named = [](std::string id, std::string name) {
        MediaItem m = clip(std::move(id), 0);
        m.name = std::move(name);
        return m;
    };
    library.setMedia({named("1", "Opening Titles.mov"), named("2", "closing.mov"), named("3", "CAF\u00C9 LOOP.mp4"),
                      named("4", "Strasse.png"), named("5", "Stra\u00DFe Nacht.png"), named("6", "cafe\u0301.mov")});
    library.setGroups({group("P", {"1", "2"}), group("Empty", {}), group("Q", {"3", "6"})});
    struct Case {
        std::string search;
        std::vector<std::string> sections;
        std::vector<std::string> found;
    } cases[] = {
        {"titles", {"P"}, {"1"}},
        {"OPENING", {"P"}, {"1"}},
        {"ing", {"P"}, {"1", "2"}},
        {"caf\u00E9", {"Q"}, {"3", "6"}},   // composed or not, either case
        {"cafe", {}, {}},                    // accents count
        {"strasse", {"Unsorted"}, {"4", "5"}},  // ß folds to ss
        {" ", {"P", "Q", "Unsorted"}, {"1", "3", "5"}},  // used unchanged, not trimmed
        {"zzz", {}, {}},
        {"", {"P", "Empty", "Q", "Unsorted"}, {"1", "2", "3", "6", "4", "5"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("search \"" + c.search + "\"");
        const auto sections = board::boardSections(library, {SidebarItem::allPlaylists()}, c.search);
        EXPECT_EQ(titles(sections), c.sections);
        EXPECT_EQ(board::visibleIds(sections), c.found);
    }
}

TEST_F(BoardTest, PlaylistColoursAreSixHexDigitsAfterANumberSign) {
    const std::map<std::string, std::optional<Rgba>> cases{
        {"#5f6670", Rgba{95 / 255.0, 102 / 255.0, 112 / 255.0, 1}},
        {"#5F6670", Rgba{95 / 255.0, 102 / 255.0, 112 / 255.0, 1}},
        {"#000000", Rgba{0, 0, 0, 1}},
        {"#ffffff", Rgba{1, 1, 1, 1}},
        {"#+0ff00", Rgba{0, 1, 0, 1}},      // the integer reader takes a sign
        {"#-00001", Rgba{1, 1, 1, 1}},      // -1: every bit set
        {"5f6670", std::nullopt},
        {"#5f667", std::nullopt},
        {"#5f66701", std::nullopt},
        {"#5f667g", std::nullopt},
        {"#+-1234", std::nullopt},
        {"#5f667\u00E9", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(color(text), expected) << text;
    EXPECT_EQ(color(std::nullopt), std::nullopt);
}

TEST_F(BoardTest, DuplicateClipLandsAfterItsSourceOrStaysUnsorted) {
    library.setMedia({clip("A", 0), clip("B", 1), clip("C", 2)});
    library.setGroups({group("P", {"A", "B", "C"}), group("Q", {"A"})});
    board::duplicateClip(library, "B", "P");
    EXPECT_EQ(named(g("P").mediaIds), (std::vector<std::string>{"A", "B", "B\u2032", "C"}));

    board::duplicateClip(library, "C", "Q");  // not in Q: appended
    EXPECT_EQ(named(g("Q").mediaIds), (std::vector<std::string>{"A", "C\u2032"}));

    board::duplicateClip(library, "A", std::nullopt);
    board::duplicateClip(library, "A", "gone");
    EXPECT_EQ(named(ids(board::ungroupedMedia(library))), (std::vector<std::string>{"A\u2032", "A\u2032"}));
    board::duplicateClip(library, "nothing", "P");
    EXPECT_EQ(library.media().size(), 7u);
}

TEST_F(BoardTest, AddToPlaylistMovesAnUnsortedClipAndCopiesAGroupedOne) {
    library.setMedia({clip("A", 0), clip("U", 1)});
    library.setGroups({group("P", {"A"}), group("Q", {})});
    board::addToPlaylist(library, "U", "Q");
    EXPECT_EQ(g("Q").mediaIds, std::vector<std::string>{"U"});
    EXPECT_TRUE(board::ungroupedMedia(library).empty());

    board::addToPlaylist(library, "A", "Q");
    board::addToPlaylist(library, "A", "P");  // already there: a copy too
    EXPECT_EQ(named(g("Q").mediaIds), (std::vector<std::string>{"U", "A\u2032"}));
    EXPECT_EQ(named(g("P").mediaIds), (std::vector<std::string>{"A", "A\u2032"}));
    EXPECT_EQ(library.media().size(), 4u);
}

TEST_F(BoardTest, AddedFilesArePlacedAtTheClampedIndex) {
    struct Case {
        int index;
        std::vector<std::string> expected;
    } cases[] = {{99, {"A", "B", "C", "D", "N1", "N2"}}, {-3, {"N1", "N2", "A", "B", "C", "D"}},
                 {2, {"A", "B", "N1", "N2", "C", "D"}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.index);
        abcd();
        const std::vector<MediaItem> added{clip("N1"), clip("N2")};
        auto media = library.media();
        media.insert(media.end(), added.begin(), added.end());
        library.setMedia(media);
        board::placeAdded(library, added, section("P"), c.index);
        EXPECT_EQ(g("P").mediaIds, c.expected);
    }

    // Unsorted, or a playlist gone meanwhile: the shown clips are numbered along the new order.
    library.setMedia({clip("U1", 4), clip("U2", 7), clip("N", -1)});
    library.setGroups({group("P", {})});
    BoardSection gone = section("P");
    gone.items = {clip("U2"), clip("U1")};
    library.setGroups({});
    board::placeAdded(library, {clip("N")}, gone, 1);
    EXPECT_EQ(order("U2"), 0);
    EXPECT_EQ(order("N"), 1);
    EXPECT_EQ(order("U1"), 2);

    const int before = writes;
    board::placeAdded(library, {}, section(board::unsortedId), 0);
    EXPECT_EQ(writes, before);
}

TEST_F(BoardTest, MergeCollectsTheMissingClipsIntoTheFirstPlaylist) {
    library.setMedia({clip("1"), clip("2"), clip("3"), clip("4")});
    Group a = group("A", {"1", "2"}, "#123456");
    a.icon = "film";
    a.advanceOnEnd = true;
    library.setGroups({a, group("B", {"2", "3"}), group("C", {"4", "3", "4"})});
    EXPECT_EQ(board::mergePlaylists(library, {"A", "B", "nothing", "C"}), "A");
    ASSERT_EQ(library.groups().size(), 1u);
    Group merged = a;
    merged.mediaIds = {"1", "2", "3", "4", "4"};  // C's own repeat is kept: only what A held is skipped
    EXPECT_EQ(library.groups()[0], merged);
    EXPECT_EQ(library.media().size(), 4u);

    const auto before = library.groups();
    EXPECT_EQ(board::mergePlaylists(library, {"A"}), std::nullopt);
    EXPECT_EQ(board::mergePlaylists(library, {"nothing", "A"}), std::nullopt);
    EXPECT_EQ(library.groups(), before);
}

TEST_F(BoardTest, DuplicatedPlaylistsShareNoClipsWithTheirSources) {
    library.setMedia({clip("1"), clip("2")});
    Group intro = group("I", {"1", "gone", "2"}, "#abcdef");
    intro.name = "Intro";
    intro.icon = "star";
    intro.emoji = "x";
    intro.advanceSeconds = 5;
    library.setGroups({intro, group("Other", {})});
    const auto made = board::duplicatePlaylists(library, {"I", "nothing"});
    ASSERT_EQ(made.size(), 1u);
    ASSERT_EQ(library.groups().size(), 3u);
    const Group& copy = library.groups().back();
    EXPECT_EQ(copy.id, made[0]);
    EXPECT_EQ(copy.name, "Intro Copy");
    EXPECT_EQ(copy.color, "#abcdef");
    EXPECT_EQ(copy.icon, "star");
    EXPECT_EQ(copy.emoji, std::nullopt);
    EXPECT_EQ(copy.advanceSeconds, std::nullopt);
    EXPECT_EQ(named(copy.mediaIds), (std::vector<std::string>{"1\u2032", "2\u2032"}));
    EXPECT_EQ(g("I").mediaIds, intro.mediaIds);
}

TEST_F(BoardTest, UpdatePlaylistKeepsTheNameWhenTheNewOneIsBlank) {
    library.setGroups({group("P", {"1"})});
    board::updatePlaylist(library, "P", " \t ", "#010203", "star");
    EXPECT_EQ(g("P").name, "P");
    EXPECT_EQ(g("P").color, "#010203");
    EXPECT_EQ(g("P").icon, "star");
    board::updatePlaylist(library, "P", "  Show\u00A0", "", "");
    EXPECT_EQ(g("P").name, "Show");
    EXPECT_EQ(g("P").color, "");
    EXPECT_EQ(g("P").mediaIds, std::vector<std::string>{"1"});
    board::updatePlaylist(library, "P", "\nLate\n", "", "");  // line breaks are not trimmed
    EXPECT_EQ(g("P").name, "\nLate\n");
    const int before = writes;
    board::updatePlaylist(library, "nothing", "X", "", "");
    EXPECT_EQ(writes, before);
}

TEST_F(BoardTest, DeletionTitlesNameASingleClipOrPlaylist) {
    MediaItem opening = clip("c1");
    opening.name = "Opening";
    library.setMedia({opening});
    Group intro = group("p1", {});
    intro.name = "Intro";
    library.setGroups({intro});
    const std::pair<PendingDeletion, std::string> cases[] = {
        {PendingDeletion::clips({"c1"}), "Remove \u201COpening\u201D from the library?"},
        {PendingDeletion::clips({"c1", "x", "y"}), "Remove 3 clips from the library?"},
        {PendingDeletion::clips({"gone"}), "Remove 1 clips from the library?"},
        {PendingDeletion::clips({}), "Remove 0 clips from the library?"},
        {PendingDeletion::playlists({"p1"}), "Delete \u201CIntro\u201D?"},
        {PendingDeletion::playlists({"p1", "a", "b"}), "Delete 3 playlists?"},
        {PendingDeletion::playlists({"gone"}), "Delete 1 playlists?"},
    };
    for (const auto& [deletion, title] : cases) EXPECT_EQ(board::deletionTitle(library, deletion), title);
}
