// What the views read from the application state: timecode, stage formats and their remembered custom
// values, layer rows, output status, display blocking and the unusable-file alert.
#include <unicode/locid.h>

#include "AppStateFixture.hpp"

using namespace ombry;
using namespace ombry::app_test;

namespace {

using ViewStateTest = AppStateTest;

TEST_F(ViewStateTest, TimecodeCountsWholeFramesAtTheStageRate) {
    make();
    app->setFrameRate("25p");
    ASSERT_EQ(app->stageFps(), 25);
    struct Case {
        double seconds;
        const char* text;
    };
    for (const Case& c : {Case{3723.5, "01:02:03:12"}, Case{360000, "100:00:00:00"}, Case{-5, "00:00:00:00"},
                          Case{std::nan(""), "00:00:00:00"}, Case{std::numeric_limits<double>::infinity(), "00:00:00:00"},
                          Case{-std::numeric_limits<double>::infinity(), "00:00:00:00"}, Case{0.039, "00:00:00:00"}, Case{0.04, "00:00:00:01"},
                          Case{86399.99, "23:59:59:24"}, Case{86400, "24:00:00:00"}})
        EXPECT_EQ(app->timecode(c.seconds), c.text) << c.seconds;

    app->setFrameRate("60p");
    EXPECT_EQ(app->timecode(1.5), "00:00:01:30");
    // Past what a frame count holds, the clock stops at its largest value instead of wrapping to negative.
    const std::string last = app->timecode(1e300);
    EXPECT_EQ(last, app->timecode(1e299));
    EXPECT_NE(last[0], '-');
}

TEST_F(ViewStateTest, AResolutionTextSetsTheStageOnlyWhenItHoldsExactlyTwoNumbers) {
    make();
    EXPECT_EQ(app->resolution(), "1920x1080");
    struct Case {
        const char* text;
        const char* stage;  // the stage after the text, set on 1920x1080
    };
    for (const Case& c : {
             Case{"1280 x 720", "1280x720"},
             Case{"720p", "1920x1080"},
             Case{"1280x720x60", "1920x1080"},
             Case{"", "1920x1080"},
             Case{"1024 by 768", "1024x768"},
             Case{"1600\u00D7900", "1600x900"},            // the multiplication sign
             Case{"\u0661\u0669\u0662\u0660x1080x720", "1080x720"},  // other scripts' numerals are dropped
             Case{"99999999999999999999x720", "1920x1080"},  // one number too large: one left
             Case{"8x99999", "16x8192"},                     // the store limits the size
             Case{"1280\xFF\xFE" "720", "1280x720"},          // bytes that are not text split too
         }) {
        app->setResolution("1920x1080");
        app->setResolution(c.text);
        EXPECT_EQ(app->resolution(), c.stage) << c.text;
    }
}

TEST_F(ViewStateTest, AFrameRateTextSetsTheStageRateAndADecimalRateIsRounded) {
    make();
    EXPECT_EQ(app->frameRate(), "60p");
    struct Case {
        const char* text;
        std::int64_t fps;  // after the text, set on 50
    };
    for (const Case& c : {Case{"24p", 24}, Case{"30 fps", 30}, Case{"0", 1}, Case{"500", 240}, Case{"fps", 50},
                          Case{"", 50}, Case{"99999999999999999999", 50},
                          // Decimal rates read as their rounded value, not as every digit run together.
                          Case{"29.97", 30}, Case{"59.94p", 60}, Case{"23.976", 24}, Case{"29,97 fps", 30},
                          Case{"12.4", 12}, Case{"12.5p", 13}, Case{"\u0662\u0665.5", 50},
                          // Only the leading number counts: what follows it is not more digits of the rate.
                          Case{"30p 1080", 30}, Case{"24/1", 24}, Case{"25p (PAL 50i)", 25},
                          Case{"0.4", 1}}) {
        app->setFrameRate("50");
        app->setFrameRate(c.text);
        EXPECT_EQ(app->stageFps(), c.fps) << c.text;
    }
    EXPECT_EQ(app->frameRate(), "1p");
}

TEST_F(ViewStateTest, CustomValuesKeepTheLastEightTypedOnesWithoutPresetsOrDuplicates) {
    make();
    EXPECT_EQ(app->resolutionOptions(), (std::vector<std::string>{"1920x1080", "1280x720", "3840x2160"}));
    EXPECT_EQ(app->frameRateOptions(), (std::vector<std::string>{"60p", "30p", "25p", "24p"}));

    for (int fps : {10, 11, 12, 13, 14, 15, 16, 17, 18}) app->rememberCustomFrameRate(std::to_string(fps) + " fps");
    const std::vector<std::string> lastEight{"11p", "12p", "13p", "14p", "15p", "16p", "17p", "18p"};
    EXPECT_EQ(app->settings().customFrameRates, lastEight);
    app->rememberCustomFrameRate("13");
    EXPECT_EQ(app->settings().customFrameRates,
              (std::vector<std::string>{"11p", "12p", "14p", "15p", "16p", "17p", "18p", "13p"}));
    // Presets, zero and a decimal that rounds to a preset are not remembered; one that does not is, rounded.
    for (const char* text : {"30p", "0", "none", "29.97", "59.94p"}) app->rememberCustomFrameRate(text);
    EXPECT_EQ(app->settings().customFrameRates.back(), "13p");
    app->rememberCustomFrameRate("47.952");
    EXPECT_EQ(app->settings().customFrameRates.back(), "48p");
    EXPECT_EQ(app->settings().customFrameRates.size(), 8u);
    EXPECT_EQ(app->frameRateOptions().size(), 12u);
    EXPECT_EQ(app->listedFrameRates(), app->frameRateOptions());

    for (const char* text : {"1280x720", "0 x 100", "720p", "2000 x 1000", "2000x1000", "5000 by 6000"})
        app->rememberCustomResolution(text);
    EXPECT_EQ(app->settings().customResolutions, (std::vector<std::string>{"2000x1000", "5000x6000"}))
        << "spacing normalised, sizes kept as typed (the stage limits them when set)";
    EXPECT_EQ(app->listedResolutions(),
              (std::vector<std::string>{"1920x1080", "1280x720", "3840x2160", "2000x1000", "5000x6000"}));

    // Remembered values are settings: they are in the file.
    const auto stored = Store::loadDoc<AppSettings>(Store::dir() / "settings.json");
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->customResolutions, app->settings().customResolutions);
    EXPECT_EQ(stored->customFrameRates, app->settings().customFrameRates);

    // A preset stored in the file by hand is not listed twice.
    AppSettings s = app->settings();
    s.customFrameRates = {"25p", "50p"};
    app->setSettings(s);
    EXPECT_EQ(app->frameRateOptions(), (std::vector<std::string>{"60p", "30p", "25p", "24p", "50p"}));
}

TEST_F(ViewStateTest, RememberedValuesEditedByHandIntoOtherFormsAreDroppedWhenTheSettingsLoad) {
    // What the pickers offer must be what they set: "29.97p" would be listed but set 30p, never checked.
    AppSettings edited = AppSettings::defaults();
    edited.customResolutions = {"2048x1080", "2048 x 1080", "720p", "x1080", "1x2x3", "4096X2160", "1000x500"};
    edited.customFrameRates = {"50p", "29.97p", "48", "p", "120p ", "٥٠p", "100p"};
    Store::saveDoc(edited, Store::dir() / "settings.json");
    make();
    EXPECT_EQ(app->settings().customResolutions, (std::vector<std::string>{"2048x1080", "1000x500"}));
    EXPECT_EQ(app->settings().customFrameRates, (std::vector<std::string>{"50p", "100p"}));
    EXPECT_EQ(app->listedFrameRates(), (std::vector<std::string>{"60p", "30p", "25p", "24p", "50p", "100p"}));
}

TEST_F(ViewStateTest, LayerRowsAndOutputStatusFollowTheProgram) {
    make();
    const auto rows = [&] {
        std::vector<std::tuple<LayerId, std::string, std::string, bool, std::optional<std::string>,
                               std::optional<MediaKind>>>
            out;
        for (const LayerVM& vm : app->layerVMs()) out.emplace_back(vm.id, vm.tag, vm.name, vm.isLive, vm.mediaName, vm.kind);
        return out;
    };
    using Row = decltype(rows())::value_type;
    EXPECT_EQ(rows(), (std::vector<Row>{{LayerId::overlay, "OVL", "Overlay", false, std::nullopt, std::nullopt},
                                        {LayerId::media, "MED", "Media", false, std::nullopt, std::nullopt},
                                        {LayerId::background, "BG", "Background", false, std::nullopt, std::nullopt},
                                        {LayerId::audio, "AUD", "Audio", false, std::nullopt, std::nullopt}}));
    EXPECT_EQ(app->outputStatus(), OutputStatus::offline);

    const MediaItem clip = add(video());
    const MediaItem tone = add(audio());
    ASSERT_TRUE(app->trigger(clip, false));
    ASSERT_TRUE(app->trigger(tone, false));
    EXPECT_EQ(app->outputStatus(), OutputStatus::live);
    auto vms = app->layerVMs();
    EXPECT_EQ(vms[1].mediaName, clip.name);
    EXPECT_EQ(vms[1].kind, MediaKind::video);
    EXPECT_TRUE(vms[1].hasTimeline());
    EXPECT_EQ(vms[3].mediaName, tone.name);
    EXPECT_FALSE(vms[0].isLive);
    EXPECT_FALSE(vms[0].hasTimeline());

    app->program.setBlack(true);
    EXPECT_EQ(app->outputStatus(), OutputStatus::black) << "black wins over live cues";
    app->program.setBlack(false);

    // A clip that left the library still shows live on its row, without a name.
    app->library.remove({clip.id});
    vms = app->layerVMs();
    EXPECT_TRUE(vms[1].isLive);
    EXPECT_FALSE(vms[1].mediaName);
    EXPECT_EQ(vms[1].kind, MediaKind::video);

    app->program.clearAll();
    EXPECT_EQ(app->outputStatus(), OutputStatus::offline);
}

TEST_F(ViewStateTest, ADisplayIsBlockedWhenPrimaryOrShowingTheMainWindowUnlessTheSettingsAllowIt) {
    make();
    std::optional<DisplayId> windowOn;
    EXPECT_FALSE(app->controllerDisplayID()) << "no window layer: no display";
    app->mainWindowDisplay = [&] { return windowOn; };
    struct Case {
        bool primary;
        std::optional<DisplayId> window;
        bool allowPrimary, allowController;
        std::optional<DisplayBlockReason> reason;
    };
    const auto P = DisplayBlockReason::primary, C = DisplayBlockReason::controller;
    for (const Case& c : {
             Case{false, std::nullopt, false, false, std::nullopt},  // no window has a screen
             Case{false, 2, false, false, std::nullopt},             // the window is on another display
             Case{false, 7, false, false, C},
             Case{false, 7, false, true, std::nullopt},
             Case{true, std::nullopt, false, true, P},
             Case{true, 7, false, false, P},  // primary is tested first
             Case{true, 7, true, false, C},
             Case{true, 7, true, true, std::nullopt},
         }) {
        windowOn = c.window;
        AppSettings s = app->settings();
        s.allowOutputOnPrimaryDisplay = c.allowPrimary;
        s.allowOutputOnControllerDisplay = c.allowController;
        app->setSettings(s);
        DisplayOutputManager::DisplayInfo info;
        info.id = 7;
        info.isPrimary = c.primary;
        EXPECT_EQ(app->controllerDisplayID(), c.window);
        EXPECT_EQ(app->outputBlockReason(info), c.reason)
            << c.primary << " window " << c.window.value_or(0) << " " << c.allowPrimary << c.allowController;
    }
}

TEST_F(ViewStateTest, TheUnusableFileAlertNamesFiveFilesCountsTheRestAndGivesTheHintThatFits) {
    const std::string docs =
        " Ombry plays video, images, and audio. To put a document or a slide deck on screen, export it as a PDF "
        "and drop that in.";
    EXPECT_EQ(AppState::unusableFileMessage({"/home/op/notes.txt"}), "\u201Cnotes.txt\u201D couldn't be added." + docs);
    EXPECT_EQ(AppState::unusableFileMessage({"/a/1.doc", "/a/2.doc", "/a/3.doc", "/a/4.doc", "/a/5.doc", "/a/6.doc",
                                             "/a/7.doc"}),
              "\u201C1.doc\u201D, \u201C2.doc\u201D, \u201C3.doc\u201D, \u201C4.doc\u201D, \u201C5.doc\u201D, and 2 "
              "more couldn't be added." +
                  docs);
    EXPECT_EQ(AppState::unusableFileMessage({"/a/1", "/a/2", "/a/3", "/a/4", "/a/5"}),
              "\u201C1\u201D, \u201C2\u201D, \u201C3\u201D, \u201C4\u201D, \u201C5\u201D couldn't be added." + docs);

    // A folder among the paths (its own name shown, also with a trailing slash) gives the folder hint.
    const fs::path folder = test::tempDir("unreadable") / "Shots";
    fs::create_directories(folder);
    const std::string text = AppState::unusableFileMessage({"/a/x.doc", folder.string() + "/"});
    EXPECT_EQ(text,
              "\u201Cx.doc\u201D, \u201CShots\u201D couldn't be added. Ombry couldn't read inside that folder. Check "
              "that you are allowed to open it, or drop the files themselves in instead of the folder.");
}

TEST_F(ViewStateTest, BoardTitlesFollowTheSidebarSelectionAndTheSearch) {
    make();
    EXPECT_EQ(app->boardTitle(), "All Playlists");
    EXPECT_EQ(app->boardSubtitle(), "0 playlists \u00B7 0 media");
    const MediaItem a = add(video("red")), b = add(video("lime")), c = add(image());
    const Group p = playlist({a.id, b.id});
    Group q = app->library.createGroup("Walk-in");
    EXPECT_EQ(app->boardSubtitle(), "2 playlists \u00B7 3 media") << "the word stays plural";
    app->library.deleteGroup(q.id);
    EXPECT_EQ(app->boardSubtitle(), "1 playlists \u00B7 3 media");

    app->setSelection({SidebarItem::playlist(p.id)});
    EXPECT_EQ(app->boardTitle(), p.name);
    EXPECT_EQ(app->boardSubtitle(), "2 media");
    app->setSearchText(b.name);
    EXPECT_EQ(app->boardSubtitle(), "1 media") << "what the board shows after the search";
    app->setSearchText("");

    q = app->library.createGroup("Encore");
    app->setSelection({SidebarItem::playlist(p.id), SidebarItem::playlist(q.id)});
    EXPECT_EQ(app->boardTitle(), "2 Playlists");
    EXPECT_EQ(app->boardSubtitle(), "2 media");

    // A selected playlist that was deleted meanwhile counts as no selection.
    app->setSelection({SidebarItem::playlist("gone")});
    EXPECT_EQ(app->boardTitle(), "All Playlists");
    EXPECT_EQ(app->boardSubtitle(), "2 playlists \u00B7 3 media");
    (void)c;
}

// The quit confirmation's summary, joined as the user's language joins lists.
class ActivitySummaryTest : public ::testing::Test {
protected:
    void SetUp() override { setLocale("en_US"); }
    void TearDown() override { setLocale(saved_.getName()); }
    static void setLocale(const char* name) {
        UErrorCode status = U_ZERO_ERROR;
        icu::Locale::setDefault(icu::Locale(name), status);
        ASSERT_TRUE(U_SUCCESS(status));
    }

private:
    icu::Locale saved_ = icu::Locale::getDefault();
};

TEST_F(ActivitySummaryTest, NamesWhatRunsInItsOrderJoinedAsAList) {
    using A = AppState::ShowActivity;
    struct Case {
        A activity;
        const char* text;
    };
    for (const Case& c : {
             Case{A{}, ""},
             Case{A{.liveLayers = 1}, "1 layer is live"},
             Case{A{.liveLayers = 1, .ndi = true}, "1 layer is live and NDI is on"},
             Case{A{.openDisplays = 2, .outputPages = 1}, "2 display outputs are open and 1 browser output connected"},
             Case{A{.syphon = true, .controllers = 2}, "Syphon is on and 2 controllers are connected"},
             Case{A{.liveLayers = 2, .openDisplays = 1, .outputPages = 3, .ndi = true, .syphon = true, .controllers = 1},
                  "2 layers are live, 1 display output is open, 3 browser outputs connected, NDI is on, Syphon is on, "
                  "and 1 controller is connected"},
         })
        EXPECT_EQ(AppState::showActivitySummary(c.activity), c.text);

    setLocale("de_DE");
    EXPECT_EQ(AppState::showActivitySummary(A{.liveLayers = 1, .ndi = true, .syphon = true}),
              "1 layer is live, NDI is on und Syphon is on");
}

}  // namespace
