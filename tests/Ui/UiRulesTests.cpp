// The window's pure rules, as tables: no widget, no display.
#include <gtest/gtest.h>

#include "App/Observation.hpp"
#include "Ui/Program/ProgramPreviewRules.hpp"
#include "Ui/Shell/CommandLine.hpp"
#include "Ui/Shell/MainWindowRules.hpp"
#include "Ui/Shell/TileSize.hpp"
#include "Ui/Widgets/FlowGridLayout.hpp"
#include "Ui/Widgets/Popover.hpp"
#include "Ui/Widgets/Symbols.hpp"

namespace ombry::ui {
namespace {

using namespace mainwindow;

TEST(MainWindowRules, FirstRunDividers) {
    struct Case {
        int width, sidebar, programWidth;
    };
    // The program column is max(370, 0.28 w) wide; the sidebar 245.
    for (const Case& c : {Case{1120, 245, 370}, Case{1320, 245, 370}, Case{1400, 245, 392}, Case{1920, 245, 537}}) {
        SCOPED_TRACE(c.width);
        const auto d = firstRunDividers(c.width, 1);
        ASSERT_TRUE(d);
        EXPECT_EQ(d->sidebar, c.sidebar);
        EXPECT_EQ(d->program, c.width - c.programWidth - 1);
        const auto sizes = firstRunSizes(c.width, 1);
        ASSERT_EQ(sizes.size(), 3u);
        EXPECT_EQ(sizes[0], 245);
        EXPECT_EQ(sizes[2], c.programWidth);
        EXPECT_EQ(sizes[0] + sizes[1] + sizes[2] + 2, c.width);
    }
    EXPECT_FALSE(firstRunDividers(0, 1));
    EXPECT_TRUE(firstRunSizes(0, 1).empty());
}

TEST(MainWindowRules, ProjectNameWidthStepsOf24FromTheWindowWidth) {
    for (auto [w, want] : std::vector<std::pair<int, int>>{
             {1120, 200}, {1157, 240}, {1400, 480}, {1141, 216}, {900, 200}, {0, 200}, {2000, 1080}}) {
        SCOPED_TRACE(w);
        EXPECT_EQ(projectNameWidth(w), want);
    }
}

TEST(MainWindowRules, QuitQuestionTexts) {
    struct Case {
        bool live;
        std::string summary;
        const char* message;
        const char* informative;
    };
    for (const Case& c : {
             Case{true, "1 layer is live and NDI is on", "Quit Ombry while on air?",
                  "1 layer is live and NDI is on. Quitting stops all output immediately."},
             Case{false, "2 output pages are connected", "Quit Ombry?",
                  "2 output pages are connected. Quitting stops all output immediately."},
             Case{false, "", "Quit Ombry?", "Quitting stops all output immediately."},
             Case{true, "\u00E9cran", "Quit Ombry while on air?", "\u00C9cran. Quitting stops all output immediately."},
             Case{true, "NDI is on", "Quit Ombry while on air?", "NDI is on. Quitting stops all output immediately."},
         }) {
        SCOPED_TRACE(c.summary);
        const auto q = quitQuestion(c.live, c.summary);
        EXPECT_EQ(q.message.toStdString(), c.message);
        EXPECT_EQ(q.informative.toStdString(), c.informative);
    }
}

TEST(MainWindowRules, SavedFrameLosesEverythingFromTheFirstBrace) {
    EXPECT_EQ(strippedTilingState("0 0 1400 900 0 0 1920 1080 {tiling 1}{x}"), "0 0 1400 900 0 0 1920 1080 ");
    EXPECT_EQ(strippedTilingState("{all}"), "");
    EXPECT_FALSE(strippedTilingState("AdnQywADAAAAAAAA"));
}

TEST(MainWindowRules, LegacyFrameIsTakenOnlyWhenWideEnoughAndOnAScreen) {
    const std::vector<QRect> screens{QRect(0, 0, 1920, 1080), QRect(1920, 0, 1280, 720)};
    EXPECT_EQ(legacyFrame("{{10, 20}, {1200, 800}}", screens), QRect(10, 20, 1200, 800));
    EXPECT_EQ(legacyFrame("{{2000, 100}, {1120, 600}}", screens), QRect(2000, 100, 1120, 600));
    EXPECT_FALSE(legacyFrame("{{10, 20}, {1000, 800}}", screens));   // narrower than the window's minimum
    EXPECT_FALSE(legacyFrame("{{10, 20}, {1200, 0}}", screens));     // no height
    EXPECT_FALSE(legacyFrame("{{5000, 5000}, {1200, 800}}", screens));  // on no screen
    EXPECT_FALSE(legacyFrame("garbage", screens));
    EXPECT_FALSE(legacyFrame("{{10, 20}, {1200, 800}}", {}));
}

TEST(MainWindowRules, SavedFrameTextReadsBackOnlyWhatItWrote) {
    const SavedFrame saved{QRect(-40, 25, 1300, 830), QMargins(2, 28, 2, 2)};
    EXPECT_EQ(frameText(saved), "-40 25 1300 830 2 28 2 2");
    EXPECT_EQ(savedFrame(frameText(saved)), saved);
    EXPECT_EQ(saved.client(), QRect(-38, 53, 1296, 800));
    EXPECT_EQ(savedFrame(" 0 0 1920 1080 0 0 0 0 "), (SavedFrame{QRect(0, 0, 1920, 1080), {}}));
    for (const char* bad : {"", "AdnQywADAAAAAAAAAAAAAAAAB38AAAQ3", "0 0 1920 1080", "0 0 1920 1080 0 0 0 0 5",
                            "0 0 1400 900 0 0 1920 1080",  // margins as large as the frame
                            "0 0 1400 900 -1 0 0 0", "0 0 0 900 0 0 0 0", "0 0 1e3 900 0 0 0 0",
                            "0 0 99999999 900 0 0 0 0"})
        EXPECT_FALSE(savedFrame(bad)) << bad;
}

TEST(MainWindowRules, ASavedFrameIsBroughtInsideTheAvailableAreaOfItsScreen) {
    // A primary screen with a panel along its top, and a second screen to its right.
    const std::vector<QRect> screens{QRect(0, 32, 1920, 1048), QRect(1920, 0, 1280, 720)};
    const QMargins none, decorated(1, 30, 1, 1);
    struct Case {
        const char* what;
        QRect saved;
        QMargins margins;
        QRect want;
    };
    for (const Case& c : std::vector<Case>{
             {"inside: kept", QRect(200, 150, 1300, 800), none, QRect(200, 150, 1300, 800)},
             {"the whole area: kept", QRect(0, 32, 1920, 1048), none, QRect(0, 32, 1920, 1048)},
             {"under the panel: moved down", QRect(0, 0, 1920, 1048), none, QRect(0, 32, 1920, 1048)},
             {"past the bottom right: moved back", QRect(1000, 600, 1300, 800), none, QRect(620, 280, 1300, 800)},
             {"past the top left", QRect(-400, -100, 1300, 800), none, QRect(0, 32, 1300, 800)},
             {"taller than the area: shrunk to it", QRect(0, 32, 1920, 1100), none, QRect(0, 32, 1920, 1048)},
             {"mostly on the second screen, lower than the minimum height", QRect(2400, 100, 1200, 800), none,
              QRect(2000, 0, 1200, 750)},
             {"on no screen: onto the primary", QRect(5000, 5000, 1300, 800), none, QRect(620, 280, 1300, 800)},
             {"decorated: the minimum is the client's", QRect(1920, 0, 1280, 720), decorated,
              QRect(1920, 0, 1280, 781)},
             {"decorated and inside: kept", QRect(100, 100, 1402, 931), decorated, QRect(100, 100, 1402, 931)},
         }) {
        const SavedFrame fitted = fittedFrame({c.saved, c.margins}, screens);
        EXPECT_EQ(fitted.frame, c.want) << c.what;
        EXPECT_EQ(fitted.margins, c.margins) << c.what;
    }
    EXPECT_EQ(fittedFrame({QRect(5000, 0, 1300, 800), none}, {}).frame, QRect(5000, 0, 1300, 800)) << "no screens";
}

TEST(TileSize, RawValuesAreCaseSensitiveAndMetricsFixed) {
    EXPECT_EQ(allTileSizes, (std::array{TileSize::small, TileSize::medium, TileSize::large}));
    EXPECT_EQ(tileSizeFromRaw("small"), TileSize::small);
    EXPECT_EQ(tileSizeFromRaw("large"), TileSize::large);
    for (const char* bad : {"Large", "MEDIUM", "", "huge", "small "}) EXPECT_FALSE(tileSizeFromRaw(bad)) << bad;
    EXPECT_EQ(metrics(TileSize::medium).cardWidth, 208);
    EXPECT_EQ(metrics(TileSize::medium).thumbnailHeight, 117);
    EXPECT_EQ(metrics(TileSize::small).cardWidth, 160);
    EXPECT_EQ(metrics(TileSize::small).thumbnailHeight, 90);
    EXPECT_EQ(metrics(TileSize::large).thumbnailHeight, 153);
    EXPECT_DOUBLE_EQ(metrics(TileSize::large).incomingMeasure, 163.2);
}

using preview::Tone;

TEST(ProgramPreviewRules, SourceSizeAndRateTonesAgainstTheStage) {
    for (auto [w, h, tone] : std::vector<std::tuple<int, int, Tone>>{{1920, 1080, Tone::white},
                                                                      {1280, 720, Tone::yellow},
                                                                      {3840, 2160, Tone::yellow},
                                                                      {1080, 1920, Tone::orange},
                                                                      {1440, 1080, Tone::orange}}) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        EXPECT_EQ(preview::sourceResolutionTone(w, h, 1920, 1080), tone);
    }
    for (auto [fps, shown, tone] : std::vector<std::tuple<double, int, Tone>>{{60, 60, Tone::white},
                                                                               {30, 30, Tone::yellow},
                                                                               {29.97, 30, Tone::yellow},
                                                                               {59.94, 60, Tone::white},
                                                                               {25, 25, Tone::orange},
                                                                               {120, 120, Tone::orange},
                                                                               {0.2, 0, Tone::orange},
                                                                               {0.5, 1, Tone::yellow}}) {
        SCOPED_TRACE(fps);
        EXPECT_EQ(preview::roundedRate(fps), shown);
        EXPECT_EQ(preview::sourceFrameRateTone(preview::roundedRate(fps), 60), tone);
    }
    EXPECT_DOUBLE_EQ(preview::liveAspect({1920, 1080, 60, ""}), 1920.0 / 1080.0);
    EXPECT_DOUBLE_EQ(preview::liveAspect({1920, 0, 60, ""}), 1920.0);
}

TEST(ProgramPreviewRules, LinesDescriptionAndRollingFollowTheLayers) {
    std::map<std::string, MediaItem> items;
    auto clip = [&](std::string id, std::optional<std::int64_t> w, std::optional<std::int64_t> h,
                    std::optional<double> fps) {
        MediaItem m;
        m.id = id;
        m.name = id + ".mov";
        m.width = w;
        m.height = h;
        m.fps = fps;
        items[id] = m;
    };
    clip("movie", 1280, 720, 29.97);
    clip("still", 1920, 1080, std::nullopt);
    clip("sizeless", std::nullopt, std::nullopt, 30.0);
    const preview::ItemLookup lookup = [&](const std::string& id) -> const MediaItem* {
        auto it = items.find(id);
        return it == items.end() ? nullptr : &it->second;
    };
    auto cue = [](std::string id, bool playing) {
        ActiveCue c;
        c.mediaId = std::move(id);
        c.playing = playing;
        return c;
    };
    ProgramState s;
    EXPECT_FALSE(preview::sourceLine(s, lookup));
    EXPECT_EQ(preview::previewDescription(s, lookup), "No source");
    EXPECT_FALSE(preview::transportRolling(s));

    s.layers.audio.active = cue("movie", true);  // audio alone: no source line, rolling
    EXPECT_FALSE(preview::sourceLine(s, lookup));
    EXPECT_EQ(preview::previewDescription(s, lookup), "No source");
    EXPECT_TRUE(preview::transportRolling(s));

    s.layers.overlay.active = cue("still", true);
    auto line = preview::sourceLine(s, lookup);
    ASSERT_TRUE(line);
    EXPECT_EQ(line->text(), "SRC 1920x1080");
    EXPECT_EQ(preview::previewDescription(s, lookup), "No source");

    s.layers.media.active = cue("movie", false);  // a paused media clip stops the rolling
    line = preview::sourceLine(s, lookup);
    ASSERT_TRUE(line);
    EXPECT_EQ(line->text(), "SRC 1280x720 \u00B7 30p");
    EXPECT_EQ(line->sizeTone, Tone::yellow);
    EXPECT_EQ(line->rateTone, Tone::yellow);
    EXPECT_EQ(preview::previewDescription(s, lookup), "movie.mov");
    EXPECT_FALSE(preview::transportRolling(s));

    s.layers.media.active = cue("sizeless", true);  // the first layer with a cue decides, even without a size
    EXPECT_FALSE(preview::sourceLine(s, lookup));
    s.layers.media.active = cue("removed", true);
    EXPECT_FALSE(preview::sourceLine(s, lookup));
    EXPECT_EQ(preview::previewDescription(s, lookup), "No source");

    EXPECT_EQ(preview::outputLine("1920x1080", 60), "OUT 1920x1080 \u00B7 60p");
    EXPECT_EQ(preview::outputLine("1280 x 720", 25), "OUT 1280x720 \u00B7 25p");
}

TEST(CommandLine, OptionsAndDocuments) {
    using A = CommandLine::Action;
    struct Case {
        std::vector<std::string> args;
        A action;
        std::optional<std::string> document;
    };
    for (const Case& c : {
             Case{{}, A::run, std::nullopt},
             Case{{"a.ombry", "b.ombry"}, A::run, "a.ombry"},
             Case{{"notes.txt", "show.ombry"}, A::run, "show.ombry"},
             Case{{"--help"}, A::help, std::nullopt},
             Case{{"-h"}, A::help, std::nullopt},
             Case{{"--version"}, A::version, std::nullopt},
             Case{{"--selftest"}, A::selftest, std::nullopt},
             Case{{"--version", "--selftest"}, A::selftest, std::nullopt},
             Case{{"--selftests"}, A::refuse, std::nullopt},
             Case{{"--SELFTEST"}, A::refuse, std::nullopt},
             Case{{"-x", "a.ombry"}, A::refuse, std::nullopt},
             Case{{"--", "-odd.ombry"}, A::run, "-odd.ombry"},
         }) {
        const auto line = parseCommandLine(c.args);
        EXPECT_EQ(line.action, c.action) << ::testing::PrintToString(c.args);
        if (c.action != A::refuse) {
            EXPECT_EQ(line.document ? std::optional<std::string>(line.document->string()) : std::nullopt, c.document);
        }
    }
    EXPECT_EQ(parseCommandLine({"--frobnicate"}).error, "Unknown option \"--frobnicate\": see ombry --help.");
}

TEST(Observation, EndingDuringANotificationStopsLaterCallsAndLateEndsAreHarmless) {
    std::vector<std::string> calls;
    auto list = std::make_unique<ObserverList>();
    Subscription second;
    Subscription first = list->observe([&](Aspect a) {
        calls.push_back("first " + std::string(aspectName(a)));
        second.reset();
    });
    second = list->observe([&](Aspect a) { calls.push_back("second " + std::string(aspectName(a))); });
    Subscription third;
    Subscription adder = list->observe([&](Aspect) {
        if (!third) third = list->observe([&](Aspect a) { calls.push_back("third " + std::string(aspectName(a))); });
    });
    list->notify(Aspect::media);
    list->notify(Aspect::program);
    EXPECT_EQ(calls, (std::vector<std::string>{"first media", "first program", "third program"}));
    list.reset();
    first.reset();  // the list has gone: nothing to end, nothing breaks
    EXPECT_FALSE(first);
}

TEST(Observation, EveryAspectHasItsName) {
    for (std::size_t i = 0; i < aspectCount; ++i) EXPECT_NE(aspectName(Aspect(i)), "?") << i;
    EXPECT_EQ(aspectName(Aspect::offlineIds), "offlineIds");
    EXPECT_EQ(aspectName(Aspect::imports), "imports");
}

TEST(Widgets, GridColumnsAndPopoverPlacement) {
    EXPECT_EQ(FlowGridLayout::columnsFor(208, 208, 12), 1);
    EXPECT_EQ(FlowGridLayout::columnsFor(427, 208, 12), 1);
    EXPECT_EQ(FlowGridLayout::columnsFor(428, 208, 12), 2);
    EXPECT_EQ(FlowGridLayout::columnsFor(100, 208, 12), 1);
    EXPECT_EQ(FlowGridLayout::columnsFor(500, 0, 12), 1);

    const QRect screen(0, 0, 1000, 800);
    // Below and centred on its anchor; above when there is no room below; never off the screen.
    EXPECT_EQ(Popover::placement({200, 100}, QRect(400, 100, 40, 20), screen), QPoint(319, 126));
    EXPECT_EQ(Popover::placement({200, 100}, QRect(400, 750, 40, 20), screen), QPoint(319, 644));
    EXPECT_EQ(Popover::placement({200, 100}, QRect(960, 100, 40, 20), screen), QPoint(800, 126));
    EXPECT_EQ(Popover::placement({200, 100}, QRect(-50, 100, 40, 20), screen), QPoint(0, 126));
    EXPECT_EQ(Popover::placement({200, 900}, QRect(400, 100, 40, 20), screen), QPoint(319, 0));
}

TEST(Widgets, SymbolsMapNamesToMaterialLigatures) {
    EXPECT_EQ(symbols::ligature("play.fill"), "play_arrow");
    EXPECT_EQ(symbols::ligature("list.bullet"), "format_list_bulleted");
    EXPECT_EQ(symbols::ligature("tray"), "inbox");
    EXPECT_FALSE(symbols::ligature("no.such.symbol"));
    EXPECT_FALSE(symbols::ligature(""));
}

}  // namespace
}  // namespace ombry::ui
