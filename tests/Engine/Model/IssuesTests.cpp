#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

#include "Engine/Model/Issues.hpp"
#include "Platform/Defaults.hpp"
#include "Platform/Log.hpp"
#include "Platform/MainQueue.hpp"
#include "Platform/Paths.hpp"
#include "Platform/Version.hpp"

using namespace ombry;
using ::testing::HasSubstr;

namespace {

const std::string kMissingAdvice =
    "The file isn't where Ombry left it. Reconnect the drive it came from, or right-click the card and choose Relink.";

class IssueLogTest : public ::testing::Test {
protected:
    IssueLogTest() : queue(q), sink(log) { q.clock().setWallMs(1000); }
    void tick() { q.clock().setWallMs(q.clock().wallMs() + 1000); }

    ManualQueue q;
    ScopedMainQueue queue;
    CapturingLogSink log;
    ScopedLogSink sink;
    IssueLog issues;
};

}  // namespace

TEST(IssueCode, CatalogueTexts) {
    struct Row {
        IssueCode code;
        const char *raw, *title, *advice;
    };
    const Row rows[] = {
        {IssueCode::mediaMissing, "MED-01", "Clip is missing",
         "The file isn't where Ombry left it. Reconnect the drive it came from, or right-click the card and choose "
         "Relink."},
        {IssueCode::mediaFormat, "MED-02", "Clip won't play",
         "Linux can't decode this format. Re-export as H.264 or HEVC in a .mov or .mp4."},
        {IssueCode::mediaTimeout, "MED-03", "Clip took too long to load",
         "The drive may be slow, asleep, or disconnected. Try again, or copy the file to the internal disk."},
        {IssueCode::imageUnreadable, "MED-04", "Image won't open",
         "The file couldn't be read as an image. Re-export it as PNG or JPEG."},
        {IssueCode::mediaStoreFailed, "MED-05", "Couldn't add to the media library",
         "The file couldn't be written to the media library. Check free disk space, then try again."},
        {IssueCode::slidesImportFailed, "MED-06", "Slides won't import",
         "The pages couldn't be rendered. The PDF may be damaged or password-protected — re-export it and try again."},
        {IssueCode::sequenceImportFailed, "MED-07", "Image sequence won't import",
         "The frames couldn't be encoded into a clip. Check that every frame is a readable image of the same size, "
         "then drop the folder again."},
        {IssueCode::rendererFailed, "REN-01", "Video engine couldn't start",
         "The renderer failed to start up. Reinstall Ombry; if it keeps happening, send this code to support."},
        {IssueCode::displayOpenFailed, "DSP-01", "Couldn't open display output",
         "The display may have been disconnected. Check the cable, then open the output again."},
        {IssueCode::displayDisconnected, "DSP-02", "Display output stopped",
         "The display was disconnected or went to sleep, so its output closed. Reconnect it, then switch the output "
         "back on in the sidebar."},
        {IssueCode::ndiFailed, "OUT-01", "NDI output couldn't start",
         "The NDI runtime is missing or already in use. Install NDI Tools, then restart Ombry."},
        {IssueCode::syphonFailed, "OUT-02", "Syphon output couldn't start",
         "Another app may be holding the Syphon server. Restart Ombry."},
        {IssueCode::browserSourceCodec, "OUT-03", "OBS browser source can't play this clip",
         "Your other outputs are fine — display, NDI and Syphon all play it normally. Only the OBS browser source "
         "can't decode this codec, and will show nothing. Either point OBS at the Syphon or NDI source instead, or "
         "re-export the clip as H.264."},
        {IssueCode::outputServerFailed, "NET-01", "Browser output couldn't start",
         "Ombry couldn't open a network port for browser output. Quit any other copy of Ombry, then restart."},
        {IssueCode::controlServerFailed, "NET-02", "Remote control couldn't start",
         "Ombry couldn't open its remote-control port. Change the port in Settings › Remote Control."},
        {IssueCode::projectOpenFailed, "PRJ-01", "Couldn't open project",
         "The file may be damaged, or saved by a newer version of Ombry."},
        {IssueCode::projectSaveFailed, "PRJ-02", "Couldn't save to disk",
         "Check the folder still exists and is writable, and that the disk isn't full."},
    };
    ASSERT_EQ(std::size(rows), issue_code::allCases.size());
    for (size_t i = 0; i < std::size(rows); ++i) {
        const Row& r = rows[i];
        EXPECT_EQ(issue_code::allCases[i], r.code) << r.raw;
        EXPECT_EQ(rawValue(r.code), r.raw);
        EXPECT_EQ(title(r.code), r.title) << r.raw;
        EXPECT_EQ(advice(r.code), r.advice) << r.raw;
        EXPECT_EQ(issueCodeFromRaw(r.raw), r.code);
    }
    for (const char* bad : {"MED-08", "med-01", "MED-01 ", ""}) EXPECT_FALSE(issueCodeFromRaw(bad)) << bad;
}

TEST(Issue, MessageSummaryAndSupportDetails) {
    Issue bare{"ID", IssueCode::mediaMissing, std::nullopt, 1, 0};
    EXPECT_EQ(bare.message(), kMissingAdvice);
    EXPECT_EQ(bare.summary(), "MED-01 · Clip is missing · " + kMissingAdvice);

    Issue named{"ID", IssueCode::mediaMissing, "intro.mov", 3, 0};
    EXPECT_EQ(named.message(), "\u201Cintro.mov\u201D \u2014 " + kMissingAdvice);
    EXPECT_EQ(named.summary(), "MED-01 \u00D73 \u00B7 Clip is missing \u00B7 \u201Cintro.mov\u201D \u2014 " + kMissingAdvice);

    EXPECT_EQ(bare.supportDetails("1.2", std::nullopt, "Debian GNU/Linux 12 (bookworm)"),
              bare.summary() + "\nOmbry 1.2 (\u2014) \u00B7 Debian GNU/Linux 12 (bookworm)");
    EXPECT_EQ(bare.supportDetails(std::nullopt, "7", "Linux"), bare.summary() + "\nOmbry \u2014 (7) \u00B7 Linux");
    // The application's own: this build's version and build number, then the system's name and version.
    EXPECT_EQ(named.supportDetails(),
              "MED-01 \u00D73 \u00B7 Clip is missing \u00B7 \u201Cintro.mov\u201D \u2014 The file isn't where "
              "Ombry left it. Reconnect the drive it came from, or right-click the card and choose Relink.\n"
              "Ombry 0.1.0 (0) \u00B7 " +
                  paths::osDescription());
    EXPECT_THAT(paths::osDescription(), ::testing::Not(HasSubstr("macOS")));
    EXPECT_EQ(Issue::fatalTexts(IssueCode::rendererFailed),
              std::make_pair(std::string("REN-01 \u00B7 Video engine couldn't start"), advice(IssueCode::rendererFailed)));
}

TEST_F(IssueLogTest, RepeatsCountOnlyWhenAutomaticAndMoveToTheFront) {
    int changes = 0;
    issues.onChange = [&] { ++changes; };
    for (int i = 0; i < 3; ++i) {
        issues.report(IssueCode::mediaMissing, "a.mov", std::nullopt, true);
        tick();
    }
    ASSERT_EQ(issues.recent().size(), 1u);
    EXPECT_EQ(issues.recent()[0].count, 3);
    EXPECT_EQ(issues.recent()[0].summary(),
              "MED-01 \u00D73 \u00B7 Clip is missing \u00B7 \u201Ca.mov\u201D \u2014 " + kMissingAdvice);
    const std::string id = issues.recent()[0].id;

    issues.report(IssueCode::outputServerFailed);
    issues.report(IssueCode::mediaMissing, "b.mov");
    issues.report(IssueCode::mediaMissing);  // no subject: its own entry
    EXPECT_EQ(issues.recent().size(), 4u);
    tick();
    issues.report(IssueCode::mediaMissing, "a.mov", std::nullopt, false);
    issues.report(IssueCode::mediaMissing, "a.mov", std::nullopt, false);
    ASSERT_EQ(issues.recent().size(), 4u);
    EXPECT_EQ(issues.recent()[0].id, id);
    EXPECT_EQ(issues.recent()[0].count, 3);
    EXPECT_EQ(issues.recent()[0].at, q.clock().wallMs());
    EXPECT_EQ(issues.recent()[1].subject, std::nullopt);
    EXPECT_EQ(issues.recent()[2].subject, "b.mov");
    EXPECT_EQ(issues.codeDigest(), "MED-01 \u00D73, MED-01, MED-01, NET-01");
    EXPECT_EQ(changes, 8);
}

TEST_F(IssueLogTest, DismissHidesUntilReportedAgain) {
    issues.report(IssueCode::displayDisconnected, "Projector");
    issues.report(IssueCode::ndiFailed);
    issues.dismiss(issues.recent()[1]);
    EXPECT_EQ(issues.dismissed(), std::set<std::string>{issues.recent()[1].id});
    EXPECT_EQ(issues.recent().size(), 2u);  // still listed
    issues.report(IssueCode::displayDisconnected, "Projector", std::nullopt, true);
    EXPECT_TRUE(issues.dismissed().empty());
    EXPECT_EQ(issues.recent()[0].code, IssueCode::displayDisconnected);
    issues.dismiss(issues.recent()[0]);
    issues.clear();
    EXPECT_TRUE(issues.recent().empty());
    EXPECT_TRUE(issues.dismissed().empty());
    EXPECT_EQ(issues.codeDigest(), "");
}

TEST_F(IssueLogTest, TwentyFirstIssuePushesOutTheOldest) {
    for (int i = 0; i < 20; ++i) issues.report(IssueCode::mediaMissing, "clip" + std::to_string(i));
    const Issue oldest = issues.recent().back();
    issues.dismiss(oldest);
    issues.dismiss(issues.recent()[0]);
    issues.report(IssueCode::mediaMissing, "clip20");
    ASSERT_EQ(issues.recent().size(), 20u);
    EXPECT_EQ(issues.recent().back().subject, "clip1");
    EXPECT_EQ(issues.dismissed().count(oldest.id), 0u);
    EXPECT_EQ(issues.dismissed().size(), 1u);
}

TEST_F(IssueLogTest, ResolveMatches) {
    struct Case {
        const char* what;
        std::optional<IssueCode> code;
        std::optional<std::string> subject;
        std::string digestAfter;
    };
    // Reported oldest first: MED-01 a, MED-04 a, MED-01 b, MED-01 (none), NET-01 (none).
    const std::vector<Case> cases = {
        {"neither", std::nullopt, std::nullopt, "NET-01, MED-01, MED-01, MED-04, MED-01"},
        {"file name, any code", std::nullopt, "a", "NET-01, MED-01, MED-01"},
        {"code, any subject", IssueCode::mediaMissing, std::nullopt, "NET-01, MED-04"},
        {"code and subject", IssueCode::mediaMissing, "b", "NET-01, MED-01, MED-04, MED-01"},
        {"subject never matches none", IssueCode::outputServerFailed, "7340", "NET-01, MED-01, MED-01, MED-04, MED-01"},
    };
    for (const auto& c : cases) {
        issues.clear();
        issues.report(IssueCode::mediaMissing, "a");
        issues.report(IssueCode::imageUnreadable, "a");
        issues.report(IssueCode::mediaMissing, "b");
        issues.report(IssueCode::mediaMissing);
        issues.report(IssueCode::outputServerFailed);
        for (const auto& issue : issues.recent()) issues.dismiss(issue);
        issues.resolve(c.code, c.subject);
        EXPECT_EQ(issues.codeDigest(), c.digestAfter) << c.what;
        std::set<std::string> left;
        for (const auto& issue : issues.recent()) left.insert(issue.id);
        EXPECT_EQ(issues.dismissed(), left) << c.what;
    }
}

TEST_F(IssueLogTest, DigestNamesCountsFromTwo) {
    issues.report(IssueCode::mediaMissing, "a", std::nullopt, true);
    issues.report(IssueCode::mediaMissing, "a", std::nullopt, true);
    issues.report(IssueCode::outputServerFailed);
    EXPECT_EQ(issues.codeDigest(), "NET-01, MED-01 \u00D72");
}

TEST_F(IssueLogTest, ReportWritesOneErrorLine) {
    issues.report(IssueCode::mediaFormat);
    issues.report(IssueCode::projectSaveFailed, "Show.ombry", "No space left on device");
    const auto records = log.records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].level, LogLevel::error);
    EXPECT_EQ(records[0].category, "MED");
    EXPECT_EQ(records[0].message, "MED-02 Clip won't play subject=- error=-");
    EXPECT_TRUE(records[0].isPrivate);
    EXPECT_EQ(records[1].category, "PRJ");
    EXPECT_EQ(records[1].message, "PRJ-02 Couldn't save to disk subject=Show.ombry error=No space left on device");
}

TEST_F(IssueLogTest, ReportFromAnyThreadArrivesOnTheMainQueueAsAutomatic) {
    IssueLog::shared().clear();
    IssueLog::shared().report(IssueCode::ndiFailed, std::nullopt, std::nullopt, false);
    std::thread([] { Issue::report(IssueCode::ndiFailed, std::nullopt, "dlopen failed"); }).join();
    EXPECT_EQ(IssueLog::shared().recent()[0].count, 1);  // not yet: it waits for the main queue
    q.runPending();
    EXPECT_EQ(IssueLog::shared().recent()[0].count, 2);
    EXPECT_TRUE(log.contains("OUT-01 NDI output couldn't start subject=- error=dlopen failed"));
    IssueLog::shared().clear();
}

TEST(Diag, NotesArePrivateMetricsPublic) {
    CapturingLogSink log;
    ScopedLogSink sink(log);
    Diag::note("REN", "load file=intro.mov");
    Diag::metric("SEQ", "encoded 120 frames in 2.1 s");
    const auto records = log.records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].category, "REN");
    EXPECT_EQ(records[0].level, LogLevel::notice);
    EXPECT_TRUE(records[0].isPrivate);
    EXPECT_EQ(records[1].category, "SEQ");
    EXPECT_FALSE(records[1].isPrivate);
    EXPECT_EQ(records[1].message, "encoded 120 frames in 2.1 s");
}

// The switch is read once per process, so each case runs in a fresh child process.
TEST(DiagDeathTest, MediaNamesSwitchIsReadOncePerProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto probe = [](std::optional<bool> before, bool after) {
        if (before) standardDefaults().set("logMediaNames", *before);
        const bool first = Diag::mediaNamesInLog();
        standardDefaults().set("logMediaNames", after);
        std::fprintf(stderr, "first=%d second=%d\n", first, Diag::mediaNamesInLog());
        std::exit(0);
    };
    EXPECT_EXIT(probe(std::nullopt, true), ::testing::ExitedWithCode(0), HasSubstr("first=0 second=0"));
    EXPECT_EXIT(probe(true, false), ::testing::ExitedWithCode(0), HasSubstr("first=1 second=1"));
}

TEST(IssueDeathTest, FatalWithoutDisplayPrintsAndExitsWithOne) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(Issue::fatal(IssueCode::rendererFailed), ::testing::ExitedWithCode(1),
                HasSubstr("REN-01 \u00B7 Video engine couldn't start\n" + advice(IssueCode::rendererFailed) + "\n"));
    auto withPresenter = [] {
        Issue::setFatalPresenter([](const std::string& message, const std::string& informative) {
            std::fprintf(stderr, "alert[%s][%s][Quit]\n", message.c_str(), informative.c_str());
        });
        Issue::fatal(IssueCode::projectOpenFailed);
    };
    EXPECT_EXIT(withPresenter(), ::testing::ExitedWithCode(1),
                HasSubstr("alert[PRJ-01 \u00B7 Couldn't open project][" + advice(IssueCode::projectOpenFailed) + "]"));
}
