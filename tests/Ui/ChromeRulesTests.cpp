// The chrome's rules as tables: which banners show and how, the questions' texts, the status bar's texts,
// the launch after an update, and the slides link's trimming.
#include <gtest/gtest.h>

#include <QLocale>

#include "Ui/Shell/ChromeRules.hpp"
#include "Ui/Shell/SlidesLinkSheet.hpp"
#include "Ui/Shell/Theme.hpp"

namespace ombry::ui {
namespace {

using namespace chrome;

Issue issue(const std::string& id, IssueCode code = IssueCode::mediaMissing, int count = 1) {
    return Issue{id, code, "clip.mp4", count, 0};
}
std::vector<std::string> ids(const std::vector<Issue>& issues) {
    std::vector<std::string> out;
    for (const auto& i : issues) out.push_back(i.id);
    return out;
}

TEST(ChromeRules, AtMostThreeUndismissedBannersNewestFirst) {
    const std::vector<Issue> recent{issue("e"), issue("d"), issue("c"), issue("b"), issue("a")};
    struct Case {
        std::set<std::string> dismissed;
        std::vector<std::string> shown;
    };
    for (const Case& c : std::vector<Case>{{{}, {"e", "d", "c"}},
                                           {{"e"}, {"d", "c", "b"}},
                                           {{"d"}, {"e", "c", "b"}},
                                           {{"e", "d", "c", "b"}, {"a"}},
                                           {{"a", "b", "c", "d", "e"}, {}}})
        EXPECT_EQ(ids(visibleIssues(recent, c.dismissed)), c.shown);
    EXPECT_TRUE(visibleIssues({}, {}).empty());
}

TEST(ChromeRules, TheBrowserSourceIssueIsAYellowWarningEveryOtherARedError) {
    for (IssueCode code : issue_code::allCases) {
        const bool warning = code == IssueCode::browserSourceCodec;
        EXPECT_EQ(severity(code), warning ? Severity::warning : Severity::error) << rawValue(code);
    }
    EXPECT_EQ(rawValue(IssueCode::browserSourceCodec), "OUT-03");
    EXPECT_EQ(accent(Severity::warning), theme::yellow());
    EXPECT_EQ(accent(Severity::error), theme::live());
    EXPECT_STREQ(bannerSymbol(Severity::warning), "exclamationmark.circle.fill");
    EXPECT_STREQ(bannerSymbol(Severity::error), "exclamationmark.triangle.fill");
}

TEST(ChromeRules, TheCountShowsFromTwo) {
    for (auto [count, text] : std::vector<std::pair<int, QString>>{{0, ""}, {1, ""}, {2, "\u00D72"}, {17, "\u00D717"}})
        EXPECT_EQ(countText(count), text) << count;
    const Issue i = issue("x");
    EXPECT_EQ(bannerAccessibleName(i), QString::fromStdString("MED-01. " + i.title() + ". " + i.message()));
}

TEST(ChromeRules, DeletionTextsByKindAndNumber) {
    struct Case {
        PendingDeletion deletion;
        QString button, message;
    };
    for (const Case& c : std::vector<Case>{
             {PendingDeletion::clips({"a"}), "Remove",
              "The clip comes off the board and any playlist. The file on disk isn't touched."},
             {PendingDeletion::clips({"a", "b"}), "Remove",
              "The clips come off the board and any playlists. Files on disk aren't touched."},
             {PendingDeletion::playlists({"p"}), "Delete", "Its clips stay in the library, under Unsorted."},
             {PendingDeletion::playlists({"p", "q"}), "Delete", "Their clips stay in the library, under Unsorted."}}) {
        const DialogRequest r = deletionQuestion(c.deletion, "Title?");
        EXPECT_EQ(r.message, "Title?");
        EXPECT_EQ(r.informative, c.message);
        EXPECT_EQ(r.buttons, (QStringList{"Cancel", c.button}));
        EXPECT_EQ(deletionAnswer(*r.destructive), DeletionAnswer::remove);
        EXPECT_EQ(deletionAnswer(*r.cancel), DeletionAnswer::cancel);
    }
}

TEST(ChromeRules, DeckAndSequenceQuestions) {
    const PendingDeckImport deck{"id", "/x/Pitch.pdf", 12, "Pitch", "p1", "Opening"};
    const DialogRequest d = deckQuestion(deck);
    EXPECT_EQ(d.message, "\u201CPitch\u201D has 12 slides");
    EXPECT_EQ(d.informative, "Import the slides into \u201COpening\u201D, or as a playlist of their own?");
    EXPECT_EQ(d.buttons, (QStringList{"Add to \u201COpening\u201D", "New Playlist \u201CPitch\u201D", "Cancel"}));
    EXPECT_EQ(deckAnswer(0), DeckAnswer::addToPlaylist);
    EXPECT_EQ(deckAnswer(1), DeckAnswer::newPlaylist);
    EXPECT_EQ(deckAnswer(*d.cancel), DeckAnswer::cancel);

    PendingSequenceImport seq{"id", std::vector<std::string>(24, "f.png"), "Intro", "p1", 30};
    const DialogRequest s = sequenceImportDialog(seq);
    EXPECT_EQ(s.message, "\u201CIntro\u201D looks like an image sequence");
    EXPECT_EQ(s.informative, QString::fromStdString(seq.question()));
    EXPECT_TRUE(s.informative.startsWith("It has 24 numbered images"));
    EXPECT_EQ(s.buttons, (QStringList{"Import as One Clip", "Import as 24 Images", "Cancel"}));
    EXPECT_EQ(sequenceAnswer(0), SequenceAnswer::oneClip);
    EXPECT_EQ(sequenceAnswer(1), SequenceAnswer::images);
    EXPECT_EQ(sequenceAnswer(*s.cancel), SequenceAnswer::cancel);

    const DialogRequest u = unsupportedFileAlert("\u201Ca.txt\u201D couldn't be added.");
    EXPECT_EQ(u.message, "Unsupported file type");
    EXPECT_EQ(u.informative, "\u201Ca.txt\u201D couldn't be added.");
    EXPECT_EQ(u.buttons, QStringList{"OK"});
    EXPECT_EQ(u.cancel, 0);
    const DialogRequest full = capacityAlert("No room for \u201Cb.mov\u201D.");
    EXPECT_EQ(full.message, "The project is full");
    EXPECT_EQ(full.informative, "No room for \u201Cb.mov\u201D.");
    EXPECT_EQ(full.buttons, QStringList{"OK"});
    EXPECT_EQ(full.style, DialogRequest::Style::warning);
}

TEST(ChromeRules, OnAirReadyOrWaiting) {
    struct Case {
        bool live, ready;
        QString text;
        QColor color;
    };
    for (const Case& c : std::vector<Case>{{true, false, "On Air", theme::live()},
                                           {true, true, "On Air", theme::live()},
                                           {false, true, "Ready", QColor(48, 209, 88)},
                                           {false, false, "Waiting", theme::orange()}}) {
        EXPECT_EQ(onAirText(onAirState(c.live, c.ready)), c.text);
        EXPECT_EQ(onAirColor(onAirState(c.live, c.ready)), c.color);
    }
}

TEST(ChromeRules, TheSevenChecksInOrder) {
    EXPECT_EQ(statusChecks({}), (std::vector<Check>{{"Engine", false}, {"Display", false}, {"OBS", false},
                                                   {"Audio", false}, {"Remote", false}, {"Companion", false},
                                                   {"Disk", true}}));
    const CheckInputs all{true, 1, 2, true, 1, 3};
    for (const Check& c : statusChecks(all)) EXPECT_TRUE(c.ok) << c.name.toStdString();
}

TEST(ChromeRules, StatusTexts) {
    for (auto [fraction, text] : std::vector<std::pair<double, QString>>{
             {0.0, "Encoding \u201CIntro\u201D\u2026 0%"},
             {0.29, "Encoding \u201CIntro\u201D\u2026 29%"},
             {0.999, "Encoding \u201CIntro\u201D\u2026 99%"},
             {1.0, "Encoding \u201CIntro\u201D\u2026 100%"},
             {1.5, "Encoding \u201CIntro\u201D\u2026 100%"},
             {std::nan(""), "Encoding \u201CIntro\u201D\u2026 0%"}})
        EXPECT_EQ(encodeText("Intro", fraction), text) << fraction;
    EXPECT_EQ(issueCountText(1), "1 issue");
    EXPECT_EQ(issueCountText(2), "2 issues");
    EXPECT_EQ(issueCountText(20), "20 issues");
    // 24 hours whatever the user's locale prefers.
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_EQ(clockText(QTime(21, 5, 7)), "21:05:07");
    EXPECT_EQ(clockText(QTime(9, 5, 7)), "09:05:07");
    EXPECT_EQ(clockText(QTime(0, 0, 0)), "00:00:00");
    QLocale::setDefault(before);
    EXPECT_EQ(msToNextSecond(QTime(9, 5, 7, 250)), 750);
    EXPECT_EQ(msToNextSecond(QTime(9, 5, 7, 0)), 1000);
}

TEST(ChromeRules, TheUpdatedBannerFollowsAnyChangeOfVersionButNotTheFirstLaunch) {
    struct Case {
        bool seen;
        std::string last, running;
        bool onboarding;
        std::optional<std::string> updatedTo;
    };
    for (const Case& c : std::vector<Case>{{false, "", "1.4", true, std::nullopt},
                                           {true, "1.4", "1.4", false, std::nullopt},
                                           {true, "1.3", "1.4", false, "1.4"},
                                           {true, "1.5", "1.4", false, "1.4"},
                                           {true, "1.4", "", false, ""},
                                           {false, "1.3", "1.4", true, "1.4"}}) {
        const LaunchOutcome o = launchOutcome(c.seen, c.last, c.running);
        EXPECT_EQ(o.showOnboarding, c.onboarding) << c.last << " → " << c.running;
        EXPECT_EQ(o.updatedTo, c.updatedTo) << c.last << " → " << c.running;
        EXPECT_EQ(o.storeLastRunVersion, c.running);
    }
}

TEST(ChromeRules, ASlidesLinkLosesSpacesAndTabsAtEitherEnd) {
    for (auto [in, out] : std::vector<std::pair<std::string, std::string>>{
             {"", ""}, {"   ", ""}, {"\t x \t", "x"}, {" a b ", "a b"}, {"\nx\n", "\nx\n"}})
        EXPECT_EQ(SlidesLinkSheet::trimmed(in), out) << in;
}

}  // namespace
}  // namespace ombry::ui
