// The uploads pane's, the media storage pane's and the feedback form's rules as tables, without a widget.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QTime>

#include <regex>
#include <set>

#include "Ui/Settings/FeedbackRules.hpp"
#include "Ui/Settings/MediaStorageRules.hpp"
#include "Ui/Settings/UploadsRules.hpp"

namespace ombry::ui {
namespace {

std::string s(const QString& q) { return q.toStdString(); }

TEST(UploadsRules, TokensAre22CharactersOfTheAlphabetMadeOnceWhenUploadsGoOn) {
    const std::regex alphabet("[A-Za-z0-9]{22}");
    std::set<std::string> seen;
    std::set<char> characters;
    for (int i = 0; i < 200; ++i) {
        const std::string t = AppSettings::makeUploadToken();
        EXPECT_TRUE(std::regex_match(t, alphabet)) << t;
        seen.insert(t);
        characters.insert(t.begin(), t.end());
    }
    EXPECT_EQ(seen.size(), 200u);
    EXPECT_EQ(characters.size(), 62u) << "every character of the alphabet is drawn";

    AppSettings settings;
    const AppSettings on = uploads::withUploadEnabled(settings, true);
    EXPECT_TRUE(on.mediaUploadEnabled);
    ASSERT_TRUE(on.mediaUploadToken);
    EXPECT_TRUE(std::regex_match(*on.mediaUploadToken, alphabet));
    const AppSettings off = uploads::withUploadEnabled(on, false);
    EXPECT_FALSE(off.mediaUploadEnabled);
    EXPECT_EQ(off.mediaUploadToken, on.mediaUploadToken);
    EXPECT_EQ(uploads::withUploadEnabled(off, true).mediaUploadToken, on.mediaUploadToken);
    EXPECT_FALSE(uploads::withUploadEnabled(settings, false).mediaUploadToken);
}

TEST(UploadsRules, TheUploadLinkUsesTheFirstNetworkAddress) {
    AppSettings on;
    on.mediaUploadEnabled = true;
    on.mediaUploadToken = "AbCdEfGhIjKlMnOpQrStUv";
    AppSettings noToken = on;
    noToken.mediaUploadToken.reset();
    AppSettings off = on;
    off.mediaUploadEnabled = false;
    const ServerInfo lan{7341, "http://localhost:7341/", {"http://localhost:7341/", "http://192.168.1.20:7341/", "http://10.0.0.5:7341/"}};
    const ServerInfo odd{7345, "http://localhost:7345/", {"http://localhost:7345/", "::not a url", "http:///nohost", "http://10.0.0.5:7345/"}};
    const ServerInfo local{7341, "http://localhost:7341/", {"http://localhost:7341/"}};
    const std::vector<std::tuple<AppSettings, std::optional<ServerInfo>, std::optional<std::string>>> cases{
        {on, lan, "http://192.168.1.20:7341/upload?k=AbCdEfGhIjKlMnOpQrStUv"},
        {on, odd, "http://10.0.0.5:7345/upload?k=AbCdEfGhIjKlMnOpQrStUv"},
        {on, local, std::nullopt},
        {on, std::nullopt, std::nullopt},
        {noToken, lan, std::nullopt},
        {off, lan, std::nullopt},
    };
    for (const auto& [settings, info, link] : cases) EXPECT_EQ(uploads::uploadURL(settings, info), link);
}

TEST(UploadsRules, TheInboxLinkIsTheBaseThenTheId) {
    EXPECT_EQ(uploads::inboxLink({"https://inbox.example/base", "abc123", "s"}), "https://inbox.example/base/u/abc123");
    EXPECT_EQ(uploads::inboxLink({"http://127.0.0.1:9", "i", "s"}), "http://127.0.0.1:9/u/i");
}

TEST(UploadsRules, PasswordsAreStoredTrimmedAndShortOnesWarned) {
    const std::vector<std::tuple<QString, std::optional<std::string>, bool>> cases{
        {"  abc  ", "abc", true},
        {"", std::nullopt, false},
        {" \t\n ", std::nullopt, false},
        {"my pass", "my pass", true},
        {"  correct horse  ", "correct horse", false},
        {"1234567", "1234567", true},
        {"12345678", "12345678", false},
        {QString::fromUtf8("\u00a0eight ch\u00a0"), "eight ch", false},
        // Characters as a reader counts them: 8 accented letters, 7 skin-toned thumbs.
        {QString::fromUtf8("e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301"),
         "e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301", false},
        {QString::fromUtf8("\U0001F44D\U0001F3FD\U0001F44D\U0001F3FD\U0001F44D\U0001F3FD\U0001F44D\U0001F3FD"
                           "\U0001F44D\U0001F3FD\U0001F44D\U0001F3FD\U0001F44D\U0001F3FD"),
         std::nullopt, true},
    };
    for (const auto& [typed, stored, warned] : cases) {
        const auto got = uploads::storedPassword(typed);
        if (stored) {
            EXPECT_EQ(got, stored) << s(typed);
        } else if (!warned) {
            EXPECT_EQ(got, std::nullopt) << s(typed);
        }
        EXPECT_EQ(uploads::passwordTooShort(got), warned) << s(typed);
    }
    EXPECT_EQ(s(uploads::passwordWarning()),
              "At least 8 characters \u2014 shorter passwords aren't accepted, so the page keeps the old one.");
}

TEST(UploadsRules, TheStatusLineSaysWhenTheLastCheckWasAndWhatItPulled) {
    using K = uploads::StatusLine::Kind;
    const auto at = [](double ms) { return QStringLiteral("<%1>").arg(qint64(ms)); };
    const std::vector<std::pair<std::optional<CloudSyncStatus>, uploads::StatusLine>> cases{
        {std::nullopt, {}},
        {CloudSyncStatus{5000, 0, std::nullopt}, {K::plain, "Last check: <5000>"}},
        {CloudSyncStatus{5000, 1, std::nullopt}, {K::plain, "Last check: <5000> \u2014 pulled 1 file"}},
        {CloudSyncStatus{5000, 3, std::nullopt}, {K::plain, "Last check: <5000> \u2014 pulled 3 files"}},
        {CloudSyncStatus{5000, 3, "inbox service returned HTTP 503"}, {K::warning, "Check-in failed: inbox service returned HTTP 503"}},
    };
    for (const auto& [status, line] : cases) EXPECT_EQ(uploads::statusLine(status, at), line) << s(line.text);
    // The time of day without the date or seconds.
    const QDateTime noon(QDate(2026, 12, 10), QTime(14, 5, 42));
    const QString shown = uploads::shortTime(double(noon.toMSecsSinceEpoch()));
    EXPECT_TRUE(shown.contains(QStringLiteral("05"))) << s(shown);
    EXPECT_FALSE(shown.contains(QStringLiteral("42"))) << s(shown);
    EXPECT_FALSE(shown.contains(QStringLiteral("2026"))) << s(shown);
}

DownloadedMediaFile file(std::string name, std::int64_t size, std::vector<std::string> here, std::vector<std::string> others,
                         std::optional<MediaOrigin> origin = std::nullopt) {
    return {"/media/" + name, std::move(name), size, origin, std::move(here), std::move(others)};
}

TEST(MediaStorageRules, SizesAreDecimalUnits) {
    const std::vector<std::pair<std::int64_t, std::string>> cases{
        {0, "Zero KB"},       {1, "1 byte"},          {999, "999 bytes"},        {1000, "1 KB"},
        {1499, "1 KB"},       {1500, "2 KB"},         {999499, "999 KB"},        {999500, "1 MB"},
        {3400000, "3.4 MB"},  {12000000, "12 MB"},    {1250000000, "1.25 GB"},   {2000000000, "2 GB"},
        {7300000000000, "7.3 TB"},
    };
    for (const auto& [bytes, text] : cases) EXPECT_EQ(s(storage::formatBytes(bytes)), text) << bytes;
}

TEST(MediaStorageRules, UsageHeadersAndDetailLines) {
    const std::vector<std::pair<DownloadedMediaFile, std::string>> usage{
        {file("a", 1, {}, {}), "Unused"},
        {file("a", 1, {}, {"B"}), "In 1 other project"},
        {file("a", 1, {}, {"A", "B", "Saved Playlists"}), "In 3 other projects"},
        {file("a", 1, {"id"}, {}), "In this project"},
        {file("a", 1, {"id", "id2"}, {"B"}), "In this + 1 other"},
        {file("a", 1, {"id"}, {"B", "C"}), "In this + 2 other"},
    };
    for (const auto& [f, label] : usage) EXPECT_EQ(s(storage::usageLabel(f)), label);
    EXPECT_EQ(s(storage::detailLine(file("a", 12000, {}, {}))), "12 KB \u00B7 Unused");
    EXPECT_EQ(s(storage::detailLine(file("a", 12000, {"x"}, {}, MediaOrigin::cloud))), "12 KB \u00B7 Cloud \u00B7 In this project");
    const std::vector<std::pair<MediaOrigin, std::string>> origins{
        {MediaOrigin::local, "Local"}, {MediaOrigin::upload, "Upload"}, {MediaOrigin::cloud, "Cloud"}, {MediaOrigin::lan, "LAN"}};
    for (const auto& [o, label] : origins) EXPECT_EQ(s(storage::originLabel(o)), label);
    EXPECT_EQ(s(storage::downloadedHeader(0)), "Downloaded by Ombry (0)");
    EXPECT_EQ(s(storage::referencedHeader(2)), "Referenced from other locations (2)");
    EXPECT_EQ(s(storage::searchFolderButton(false)), "Search for offline media\u2026");
    EXPECT_EQ(s(storage::searchFolderButton(true)), "Change offline media search folder\u2026");
}

TEST(MediaStorageRules, TheDeleteConfirmationsNameWhatGoes) {
    EXPECT_EQ(s(storage::deleteTitle(file("f", 1, {}, {}))), "Delete \u201Cf\u201D?");
    EXPECT_EQ(s(storage::deleteButton(file("f", 3400000, {}, {}))), "Delete and Free 3.4 MB");
    EXPECT_EQ(s(storage::deleteMessage(file("f", 1, {}, {}), {})), "The file is removed from disk. This can't be undone.");
    EXPECT_EQ(s(storage::deleteMessage(file("f", 1, {}, {"Alpha", "Saved Playlists", "beta"}), {})),
              "Also used by: Alpha, Saved Playlists, beta. Deleting frees the space, but those clips will go offline "
              "until you relink them.");
    // The open project's clips that leave with it are named.
    EXPECT_EQ(s(storage::deleteMessage(file("f", 1, {"1"}, {}), {"Intro"})),
              "Its clip \u201CIntro\u201D leaves this project, and goes off air if it is live.\n"
              "The file is removed from disk. This can't be undone.");
    EXPECT_EQ(s(storage::deleteMessage(file("f", 1, {"1", "2"}, {"B"}), {"Intro", "Intro copy"})),
              "Its clips \u201CIntro\u201D, \u201CIntro copy\u201D leave this project, and go off air if they are live.\n"
              "Also used by: B. Deleting frees the space, but those clips will go offline until you relink them.");
    EXPECT_EQ(s(storage::deleteAllTitle()), "Delete all downloaded media?");
    EXPECT_EQ(s(storage::deleteAllButton(2600)), "Delete All and Free 3 KB");
    EXPECT_EQ(s(storage::deleteAllMessage(2, 0)),
              "Removes all 2 downloaded files from disk. Clips using them in this or other projects will go offline "
              "until relinked. This can't be undone.");
    EXPECT_TRUE(s(storage::deleteAllMessage(2, 3)).starts_with("3 clips of this project use them and leave it.\n"));
    EXPECT_EQ(s(storage::removeReferenceTitle({"id", "Logo", "/x/logo.png", 1, false})), "Remove \u201CLogo\u201D from this project?");
}

TEST(MediaStorageRules, DeleteAllTakesOnlyTheShownFilesThatAreStillThere) {
    const std::vector<DownloadedMediaFile> shown{file("a", 1, {}, {}), file("b", 2, {}, {}), file("gone", 3, {}, {})};
    // Fresh: "b" is used now, "late" arrived after the pane loaded, "gone" was removed meanwhile.
    const std::vector<DownloadedMediaFile> fresh{file("b", 2, {"clip"}, {}), file("late", 9, {}, {}), file("a", 1, {}, {})};
    const auto kept = storage::stillShown(fresh, shown);
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_EQ(kept[0], fresh[0]) << "the fresh record, with its users of now";
    EXPECT_EQ(kept[1].filename, "a");
    EXPECT_EQ(storage::totalSize(shown), 6);
}

TEST(MediaStorageRules, TheHomeFolderIsATilde) {
    const std::vector<std::tuple<std::string, std::string, std::string>> cases{
        {"/home/ana/Videos/a.mp4", "/home/ana", "~/Videos/a.mp4"},
        {"/home/ana/Videos", "/home/ana/", "~/Videos"},
        {"/home/ana", "/home/ana", "~"},
        {"/home/anabel/a.mp4", "/home/ana", "/home/anabel/a.mp4"},
        {"/srv/show/a.mp4", "/home/ana", "/srv/show/a.mp4"},
        {"/home/ana/a.mp4", "", "/home/ana/a.mp4"},
        {"/a.mp4", "/", "/a.mp4"},
    };
    for (const auto& [path, home, shown] : cases) EXPECT_EQ(s(storage::tildePath(path, home)), shown) << path;
}

TEST(FeedbackRules, SendNeedsASubjectAndAMessageThatAreNotBlank) {
    const std::vector<std::tuple<QString, QString, bool, bool>> cases{
        {"Crash", "It crashed", false, true},  {"", "It crashed", false, false},  {"Crash", "", false, false},
        {" \n\t", "It crashed", false, false}, {"Crash", " \n \n", false, false}, {"Crash", "It crashed", true, false},
        {"\u00a0x", "\ny\n", false, true},
    };
    for (const auto& [subject, message, sending, can] : cases)
        EXPECT_EQ(feedback::canSend(subject, message, sending), can) << s(subject) << "|" << s(message);
}

TEST(FeedbackRules, TheReportHasSevenMembersAsTyped) {
    feedback::Report r{true, " Subject ", "\nLine one\n\n", "", "", "1.2.0 (0)", "Debian GNU/Linux 12 (bookworm)", "Stage Left"};
    EXPECT_EQ(feedback::body(r), (Json{{"kind", "bug"}, {"subject", " Subject "}, {"message", "\nLine one\n\n"}, {"email", ""},
                                       {"appVersion", "1.2.0 (0)"}, {"os", "Debian GNU/Linux 12 (bookworm)"},
                                       {"machineName", "Stage Left"}}));
    r.isBug = false;
    r.issueDigest = "MED-01 \u00D72, NET-02";
    r.email = "ana@example.com";
    r.machineName = "";
    const Json b = feedback::body(r);
    EXPECT_EQ(b.size(), 7u);
    EXPECT_EQ(b["kind"], "feature");
    EXPECT_EQ(b["message"], "\nLine one\n\n\n\n---\nRecent issues: MED-01 \u00D72, NET-02");
    EXPECT_EQ(b["email"], "ana@example.com");
    EXPECT_EQ(b["machineName"], feedback::unnamedMachine);
    EXPECT_EQ(feedback::versionText("1.4.2", "418"), "1.4.2 (418)");
    EXPECT_EQ(feedback::versionText("2.0", ""), "2.0 (\u2014)");
    EXPECT_EQ(feedback::versionText("", ""), "\u2014 (\u2014)");
}

TEST(FeedbackRules, OnlyAnAcceptedReportIsSent) {
    using K = ServiceError::Kind;
    const auto sent = feedback::Outcome{true, "Sent \u2014 thank you!"};
    const auto generic = feedback::Outcome{false, "Couldn't send \u2014 try again, or email support@ombry.app."};
    const std::vector<std::pair<ServiceResult, feedback::Outcome>> cases{
        {Envelope{true, std::nullopt}, sent},
        {Envelope{true, "ignored"}, sent},
        // The service's own refusal is no success.
        {Envelope{false, std::nullopt}, generic},
        {Envelope{false, "closed"}, generic},
        {ServiceError::of(K::rateLimited), {false, "Too many messages \u2014 wait a bit and try again."}},
        {ServiceError::of(K::badResponse), generic},
        {ServiceError::http(201), generic},
        {ServiceError::http(500), generic},
        {TransportError{"timed out", true}, generic},
    };
    for (const auto& [result, outcome] : cases) EXPECT_EQ(feedback::outcomeOf(result), outcome) << s(outcome.text);
    EXPECT_EQ(s(feedback::noServiceText()), "Couldn't reach the feedback service \u2014 email support@ombry.app instead.");
    EXPECT_TRUE(s(feedback::note()).find("computer's name") != std::string::npos);
}

}  // namespace
}  // namespace ombry::ui
