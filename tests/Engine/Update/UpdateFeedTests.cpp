// The update feed's rules: channels, version order, the feed document, the newest offered item, the notes
// kept for exactly one version, and the fetch against a loopback server.
#include <gtest/gtest.h>

#include <fstream>

#include "Engine/Update/UpdateFeed.hpp"
#include "LoopbackHttp.hpp"
#include "support/TestEnv.hpp"

namespace ombry {
namespace {

TEST(UpdateFeed, TheBetaChannelIsOfferedExactlyWhenAsked) {
    EXPECT_EQ(UpdateFeed::allowedChannels(true), (std::set<std::string>{"beta"}));
    EXPECT_TRUE(UpdateFeed::allowedChannels(false).empty());
}

TEST(UpdateFeed, VersionsCompareNumberByNumber) {
    struct Case {
        const char* a;
        const char* b;
        int sign;
    };
    for (const Case& c : std::vector<Case>{{"1.10", "1.9", 1},
                                           {"1.2", "1.2.0", 0},
                                           {"1.2.0.0", "1.2", 0},
                                           {"2.0", "10.0", -1},
                                           {"1.0.1", "1.0.beta", 1},
                                           {"1.0.alpha", "1.0.beta", -1},
                                           {"01.2", "1.2", 0},
                                           {"1.99999999999999999999", "1.99999999999999999998", 1},
                                           {"", "0.1", -1}}) {
        const int r = UpdateFeed::compareVersions(c.a, c.b);
        EXPECT_EQ((r > 0) - (r < 0), c.sign) << c.a << " vs " << c.b;
        EXPECT_EQ(-((r > 0) - (r < 0)), (UpdateFeed::compareVersions(c.b, c.a) > 0) - (UpdateFeed::compareVersions(c.b, c.a) < 0));
    }
}

TEST(UpdateFeed, ADocumentThatIsNoFeedIsAnErrorAndBadItemsAreSkipped) {
    for (const char* bad : {"", "[]", "{\"items\": 3}", "{\"entries\": []}", "not json"})
        EXPECT_EQ(UpdateFeed::parse(bad).index(), 1u) << bad;
    const auto parsed = UpdateFeed::parse(R"({"items": [1, {"channel": "beta"}, {"version": ""},
        {"version": "1.4", "channel": "", "notesHTML": "<p>x</p>"}, {"version": "1.5", "channel": "beta"}]})");
    ASSERT_EQ(parsed.index(), 0u);
    EXPECT_EQ(std::get<0>(parsed), (std::vector<UpdateItem>{{"1.4", std::nullopt, "<p>x</p>"}, {"1.5", "beta", std::nullopt}}));
}

TEST(UpdateFeed, TheNewestOfferedItemNewerThanTheRunningOne) {
    const std::vector<UpdateItem> items{{"1.2", std::nullopt, std::nullopt},
                                        {"1.10", std::nullopt, "<p>ten</p>"},
                                        {"1.11", "beta", std::nullopt},
                                        {"2.0", "nightly", std::nullopt}};
    EXPECT_EQ(UpdateFeed::newest(items, "1.0", {})->version, "1.10");
    EXPECT_EQ(UpdateFeed::newest(items, "1.0", {"beta"})->version, "1.11");
    EXPECT_FALSE(UpdateFeed::newest(items, "1.10", {}));
    EXPECT_FALSE(UpdateFeed::newest(items, "3.0", {"beta", "nightly"}));
    EXPECT_FALSE(UpdateFeed::newest({}, "1.0", {}));
}

TEST(UpdateNotes, NotesAreOfferedOnlyForExactlyTheirVersion) {
    EXPECT_EQ(UpdateNotes::styleBlock().size(), 257u);
    EXPECT_EQ(UpdateNotes::document("1.4", "<p>New</p>", "1.4"), UpdateNotes::styleBlock() + "<p>New</p>");
    EXPECT_FALSE(UpdateNotes::document("1.4", "<p>New</p>", "1.4.0")) << "an exact text comparison";
    EXPECT_FALSE(UpdateNotes::document("1.3", "<p>New</p>", "1.4"));
    EXPECT_FALSE(UpdateNotes::document(std::nullopt, "<p>New</p>", "1.4"));
    EXPECT_FALSE(UpdateNotes::document("1.4", std::nullopt, "1.4"));
    EXPECT_FALSE(UpdateNotes::document("1.4", std::string("<p>\xC3</p>"), "1.4")) << "not UTF-8";
}

TEST(UpdateFeed, TheFeedAddressComesFromAppInfoAndIsEmptyByDefault) {
    const auto dir = test::tempDir("app-info");
    const auto write = [&](const std::string& text) {
        std::ofstream(dir / "app-info.json") << text;
        return UpdateFeed::feedURL(dir / "app-info.json");
    };
    EXPECT_EQ(write(R"({"feedURL": "https://example.invalid/feed.json", "publicEDKey": ""})"), "https://example.invalid/feed.json");
    EXPECT_EQ(write(R"({"feedURL": 3})"), "");
    EXPECT_EQ(write("{"), "");
    EXPECT_EQ(UpdateFeed::feedURL(dir / "absent.json"), "");
    EXPECT_EQ(UpdateFeed::feedURL(OMBRY_SOURCE_DIR "/resources/app-info.json"), "") << "no feed is built in";
}

TEST(UpdateFeed, FetchReadsTheBodyAndReportsFailures) {
    test::LoopbackServer server([](const std::string& path) {
        if (path == "/feed.json") return test::LoopbackServer::Answer{"HTTP/1.1 200 OK", R"({"items": []})"};
        if (path == "/big") return test::LoopbackServer::Answer{"HTTP/1.1 200 OK", std::string(UpdateFeed::maxBytes + 1, 'x')};
        if (path == "/moved") return test::LoopbackServer::Answer{"HTTP/1.1 302 Found\r\nLocation: /feed.json", "elsewhere"};
        if (path == "/loop") return test::LoopbackServer::Answer{"HTTP/1.1 301 Moved\r\nLocation: /loop", ""};
        if (path == "/to-file") return test::LoopbackServer::Answer{"HTTP/1.1 302 Found\r\nLocation: file:///etc/passwd", ""};
        return test::LoopbackServer::Answer{"HTTP/1.1 404 Not Found", ""};
    });
    EXPECT_EQ(UpdateFeed::fetch(server.origin() + "/feed.json"), (std::variant<std::string, std::string>(std::in_place_index<0>, R"({"items": []})")));
    const auto missing = UpdateFeed::fetch(server.origin() + "/gone");
    ASSERT_EQ(missing.index(), 1u);
    EXPECT_EQ(std::get<1>(missing), "the update server answered 404");
    const auto big = UpdateFeed::fetch(server.origin() + "/big");
    ASSERT_EQ(big.index(), 1u);
    EXPECT_EQ(std::get<1>(big), "the update feed is too large");
    EXPECT_EQ(UpdateFeed::fetch("file:///etc/passwd").index(), 1u) << "only http and https";
    // A feed that moved is followed, a few times at most, and only to http or https.
    EXPECT_EQ(UpdateFeed::fetch(server.origin() + "/moved"), (std::variant<std::string, std::string>(std::in_place_index<0>, R"({"items": []})")));
    EXPECT_EQ(UpdateFeed::fetch(server.origin() + "/loop").index(), 1u);
    EXPECT_EQ(UpdateFeed::fetch(server.origin() + "/to-file").index(), 1u);
}

}  // namespace
}  // namespace ombry
