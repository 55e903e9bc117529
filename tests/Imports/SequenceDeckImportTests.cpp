// Image sequences and slide decks inside the application state: the encode record, the ingest of the movie
// and of each page, the routing and room rules, the playlist selection, failures as issues, and imports of
// the same name running side by side.
#include "SequenceDeckImportFixture.hpp"

using namespace ombry;
using namespace ombry::app_test;

TEST_F(SequenceDeckImportTest, ASequenceBecomesOneClipWithAlphaInItsPlaylist) {
    start();
    app->importSequence({}, "Nothing", std::nullopt, 25);
    EXPECT_FALSE(app->sequenceEncode());
    EXPECT_TRUE(records.empty());

    const Group target = app->library.createGroup("Loops");
    app->importSequence(frames(dir, "logo_", 8), "logo", target.id, 25);
    ASSERT_TRUE(app->sequenceEncode());
    EXPECT_EQ(app->sequenceEncode()->name, "logo");
    EXPECT_EQ(app->sequenceEncode()->frames, 8);
    EXPECT_EQ(app->sequenceEncode()->fraction, 0);
    encoded();

    const auto items = managed();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].kind, MediaKind::video);
    EXPECT_EQ(fs::path(items[0].path).filename(), "logo.webm");
    EXPECT_EQ(items[0].origin, MediaOrigin::local);
    EXPECT_EQ(group(*app, "Loops")->mediaIds, std::vector<std::string>{items[0].id});
    // Progress reached the record, the last report was the whole, and the slot emptied at the end.
    std::vector<double> fractions;
    for (const auto& r : records)
        if (r) fractions.push_back(r->fraction);
    ASSERT_FALSE(fractions.empty());
    EXPECT_EQ(fractions.back(), 1.0);
    EXPECT_FALSE(records.back());
    EXPECT_TRUE(logged("encode start frames=8"));
    EXPECT_TRUE(logged("ingest ok"));
    EXPECT_TRUE(entries(Store::mediaIncomingDir()).empty());
    EXPECT_EQ(IssueLog::shared().recent().size(), 0u);
}

TEST_F(SequenceDeckImportTest, ABadMiddleFrameReportsTheSequenceAndLeavesNothing) {
    start();
    auto list = frames(dir, "shot_", 8);
    test::writeFile(list[3], "not a picture");
    app->importSequence(list, "shot", std::nullopt, 25);
    encoded();
    const Issue* i = issue(IssueCode::sequenceImportFailed);
    ASSERT_TRUE(i);
    EXPECT_EQ(i->subject, "shot");
    EXPECT_TRUE(logged("Frame shot_0004.png couldn't be read, so the sequence wasn't imported."));
    EXPECT_TRUE(logged("encode threw"));
    EXPECT_TRUE(managed().empty());
    EXPECT_TRUE(entries(Store::mediaIncomingDir()).empty()) << "no partial movie, no working folder";
}

// Every digits-only run is called "Sequence": two such imports at once must not replace, delete or ingest
// each other's movie.
TEST_F(SequenceDeckImportTest, TwoSequencesOfTheSameNameEachBecomeTheirOwnClip) {
    start();
    fs::create_directories(dir / "a");
    fs::create_directories(dir / "b");
    app->importSequence(frames(dir / "a", "", 40, 255, 0, 0), "Sequence", std::nullopt, 25);
    app->importSequence(frames(dir / "b", "", 40, 0, 0, 255), "Sequence", std::nullopt, 25);
    ASSERT_TRUE(q.waitUntil([&] { return managed().size() == 2 || !IssueLog::shared().recent().empty(); }, 60.0));
    encoded();
    EXPECT_EQ(IssueLog::shared().recent().size(), 0u);
    const auto items = managed();
    ASSERT_EQ(items.size(), 2u);
    EXPECT_NE(items[0].path, items[1].path);
    EXPECT_NE(items[0].contentHash, items[1].contentHash);
    for (const auto& m : items) EXPECT_TRUE(fs::exists(m.path));
}

TEST_F(SequenceDeckImportTest, DroppedDecksAreHeldOrImportedByPagesAndTarget) {
    start();
    const Group target = app->library.createGroup("Talks");
    const fs::path two = deck(dir / "Keynote.pdf", 2), one = deck(dir / "Single.pdf", 1, "0 0 1");

    // Two pages on a playlist: held for the operator with that playlist's name.
    app->routeDeck(two.string(), target.id);
    ASSERT_EQ(app->pendingDeckImports().size(), 1u);
    const PendingDeckImport& pending = app->pendingDeckImports()[0];
    EXPECT_EQ(pending.pdf, two.string());
    EXPECT_EQ(pending.pages, 2);
    EXPECT_EQ(pending.deckName, "Keynote");
    EXPECT_EQ(pending.playlistId, target.id);
    EXPECT_EQ(pending.playlistName, "Talks");
    q.runPending();
    EXPECT_TRUE(managed().empty());

    // Without a target: at once, into a playlist named after the deck.
    app->routeDeck(two.string(), std::nullopt);
    ASSERT_TRUE(q.waitUntil([&] { return group(*app, "Keynote") && group(*app, "Keynote")->mediaIds.size() == 2; }, 60.0));
    // One page on a playlist: at once, into that playlist.
    app->routeDeck(one.string(), target.id);
    ASSERT_TRUE(q.waitUntil([&] { return group(*app, "Talks")->mediaIds.size() == 1; }, 60.0));
    EXPECT_EQ(app->library.item(group(*app, "Talks")->mediaIds[0])->name, "Single 01.png");
    std::vector<std::string> names;
    for (const auto& id : group(*app, "Keynote")->mediaIds) names.push_back(app->library.item(id)->name);
    EXPECT_EQ(names, (std::vector<std::string>{"Keynote 01.png", "Keynote 02.png"}));
    EXPECT_TRUE(fs::exists(two));
    EXPECT_TRUE(fs::exists(one));
    EXPECT_EQ(app->pendingDeckImports().size(), 1u);

    // A PDF that cannot be read goes in at once and is reported under its file name.
    test::writeFile(dir / "broken.pdf", "not a pdf");
    app->routeDeck((dir / "broken.pdf").string(), target.id);
    ASSERT_TRUE(q.waitUntil([&] { return issue(IssueCode::slidesImportFailed) != nullptr; }, 60.0));
    EXPECT_EQ(issue(IssueCode::slidesImportFailed)->subject, "broken.pdf");
    EXPECT_TRUE(logged("That PDF couldn't be opened."));
}

TEST_F(SequenceDeckImportTest, TheRoomCheckRefusesADeckTooLargeForTheProject) {
    start();
    fillTo(995);
    EXPECT_TRUE(app->hasRoomForDeck(5, "Keynote"));
    EXPECT_FALSE(app->intake().capacityAlert());
    EXPECT_FALSE(app->hasRoomForDeck(6, "Keynote"));
    EXPECT_EQ(app->intake().capacityAlert(),
              "\u201CKeynote\u201D has 6 slides and this project only has room for 5 more \u2014 a project holds up to 1000 "
              "media items.");
    fillTo(1000);
    EXPECT_FALSE(app->hasRoomForDeck(1, "Keynote"));
    EXPECT_EQ(app->intake().capacityAlert(),
              "\u201CKeynote\u201D has 1 slides and this project only has room for 0 more \u2014 a project holds up to 1000 "
              "media items.");
    // A deck that does not fit: nothing imported, completion without an error.
    EXPECT_EQ(importDeck(deck(dir / "Big.pdf", 2), "Big"), std::nullopt);
    EXPECT_EQ(app->library.media().size(), 1000u);
    EXPECT_FALSE(group(*app, "Big"));
}

TEST_F(SequenceDeckImportTest, ADeckWithoutTargetSelectsThePlaylistOfItsNameIgnoringCase) {
    start();
    const Group keynote = app->library.createGroup("keynote");
    const Group other = app->library.createGroup("Other");
    app->setSelection({SidebarItem::playlist(other.id)});
    EXPECT_EQ(importDeck(deck(dir / "Keynote.pdf", 2), "Keynote"), std::nullopt);
    EXPECT_EQ(app->selection(), std::set<SidebarItem>{SidebarItem::playlist(keynote.id)});
    EXPECT_EQ(group(*app, "keynote")->mediaIds.size(), 2u);
    EXPECT_EQ(app->library.groups().size(), 2u);

    app->setSelection({SidebarItem::allPlaylists()});
    EXPECT_EQ(importDeck(deck(dir / "Keynote.pdf", 1, "0 0 1"), "KEYNOTE"), std::nullopt);
    EXPECT_EQ(app->selection(), std::set<SidebarItem>{SidebarItem::allPlaylists()});
    EXPECT_EQ(group(*app, "keynote")->mediaIds.size(), 3u);
}

// A page that the library does not take (here: the project filled up while the deck rendered) stops the
// import: reported under the deck's name and handed to the caller, the remaining pages removed.
TEST_F(SequenceDeckImportTest, AFailedPageIngestIsReportedAndPassedOn) {
    start();
    fillTo(997);
    const Group other = app->library.createGroup("Other");
    app->setSelection({SidebarItem::playlist(other.id)});
    const auto wired = app->library.onChange;
    bool filled = false;
    app->library.onChange = [&] {
        if (wired) wired();
        if (filled || !group(*app, "Deck")) return;
        filled = true;
        // After the first page is in: two more clips arrive from elsewhere.
        mainQueue().post([&] { fillTo(1000); });
    };
    const auto error = importDeck(deck(dir / "Deck.pdf", 3), "Deck");
    ASSERT_TRUE(error);
    EXPECT_EQ(*error, "unsupported or unreadable file");
    const Issue* i = issue(IssueCode::slidesImportFailed);
    ASSERT_TRUE(i);
    EXPECT_EQ(i->subject, "Deck");
    EXPECT_EQ(group(*app, "Deck")->mediaIds.size(), 1u);
    // The page that went in is shown in its playlist, as after a whole deck.
    EXPECT_EQ(app->selection(), std::set<SidebarItem>{SidebarItem::playlist(group(*app, "Deck")->id)});
    for (const auto& e : entries(Store::mediaIncomingDir())) ADD_FAILURE() << e << " left behind";
    app->library.onChange = wired;
}

// Two decks of the same name at once: each renders into its own folder, so neither replaces or takes in the
// other's pages.
TEST_F(SequenceDeckImportTest, TwoDecksOfTheSameNameKeepTheirOwnPages) {
    start();
    fs::create_directories(dir / "a");
    fs::create_directories(dir / "b");
    std::vector<std::optional<std::string>> done;
    app->importDeck(deck(dir / "a" / "Deck.pdf", 2, "1 0 0").string(), "Deck", std::nullopt, false,
                    [&](std::optional<std::string> e) { done.push_back(e); });
    app->importDeck(deck(dir / "b" / "Deck.pdf", 2, "0 1 0").string(), "Deck", std::nullopt, false,
                    [&](std::optional<std::string> e) { done.push_back(e); });
    ASSERT_TRUE(q.waitUntil([&] { return done.size() == 2; }, 60.0));
    EXPECT_EQ(done, (std::vector<std::optional<std::string>>{std::nullopt, std::nullopt}));
    const auto items = managed();
    ASSERT_EQ(items.size(), 4u);
    std::set<std::string> files, hashes;
    for (const auto& m : items) {
        files.insert(m.path);
        hashes.insert(m.contentHash.value_or(""));
    }
    EXPECT_EQ(files.size(), 4u);
    EXPECT_EQ(hashes.size(), 4u);
    EXPECT_EQ(group(*app, "Deck")->mediaIds.size(), 4u);
}
