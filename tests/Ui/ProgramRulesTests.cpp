// The program panel's and the properties window's rules as tables, without a widget.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "Ui/Program/ProgramPanelRules.hpp"
#include "Ui/Properties/PropertiesRules.hpp"
#include "Ui/Widgets/DragTrack.hpp"

namespace ombry::ui {
namespace {

constexpr double inf = std::numeric_limits<double>::infinity();
const double nan = std::nan("");

TEST(ProgramPanelRules, LiveCountAndButtonTexts) {
    EXPECT_EQ(panel::liveCount(0, 4), "0 of 4 live");
    EXPECT_EQ(panel::liveCount(2, 4), "2 of 4 live");
    EXPECT_EQ(panel::blackButtonText(false), "Cut to Black");
    EXPECT_EQ(panel::blackButtonText(true), "Restore Output");
}

TEST(ProgramPanelRules, FaderMapsMinusSixtyToPlusSixDecibelsOntoItsTravel) {
    struct Case {
        double db, fraction;
        const char* label;
    };
    for (const Case& c : {Case{-60, 0, "-60.0 dB"}, Case{6, 1, "+6.0 dB"}, Case{0, 60.0 / 66, "+0.0 dB"},
                          Case{-12.5, 47.5 / 66, "-12.5 dB"}}) {
        EXPECT_DOUBLE_EQ(panel::faderFraction(c.db), c.fraction) << c.db;
        EXPECT_NEAR(panel::faderDB(c.fraction), c.db, 1e-9) << c.db;
        EXPECT_EQ(panel::levelLabel(c.db), c.label) << c.db;
    }
    // A level just under zero never reads "-0.0"; a level that is no number reads as the floor.
    EXPECT_EQ(panel::levelLabel(-0.04), "+0.0 dB");
    EXPECT_EQ(panel::levelLabel(nan), "-60.0 dB");

    // A 100-point fader with its 9-point cap: travel 91, the pointer at the cap's centre.
    EXPECT_DOUBLE_EQ(panel::faderTravel(100, 9), 91);
    EXPECT_DOUBLE_EQ(panel::faderTravel(5, 9), 1);
    EXPECT_DOUBLE_EQ(panel::faderFractionAt(4.5, 100, 9), 1);
    EXPECT_DOUBLE_EQ(panel::faderFractionAt(95.5, 100, 9), 0);
    EXPECT_DOUBLE_EQ(panel::faderFractionAt(50, 100, 9), 1 - 45.5 / 91);
    EXPECT_DOUBLE_EQ(panel::faderFractionAt(-40, 100, 9), 1) << "above the top pins +6 dB";
    EXPECT_DOUBLE_EQ(panel::faderFractionAt(400, 100, 9), 0) << "below the bottom pins -60 dB";
}

TEST(ProgramPanelRules, MeterDarkensTheUnlitPartFromTheTop) {
    struct Case {
        double level, unlit;
    };
    for (const Case& c : {Case{0, 120}, Case{-1, 120}, Case{nan, 120}, Case{0.5, 60}, Case{0.25, 90}, Case{1, 0},
                          Case{1.7, 0}})
        EXPECT_DOUBLE_EQ(panel::unlitHeight(c.level, 120), c.unlit) << c.level;
}

TEST(ProgramPanelRules, TrackGeometryIsFivePlusUsableTimesFraction) {
    struct Case {
        double width, fraction, x;
    };
    for (const Case& c : {Case{110, 0, 5}, Case{110, 0.25, 30}, Case{110, 1, 105}, Case{110, -2, 5}, Case{110, 3, 105},
                          Case{110, nan, 5}, Case{8, 1, 6}})
        EXPECT_DOUBLE_EQ(track::x(c.fraction, c.width), c.x) << c.width << " " << c.fraction;
    EXPECT_DOUBLE_EQ(track::fractionAt(55, 110), 0.5);
    EXPECT_DOUBLE_EQ(track::fractionAt(-20, 110), 0);
    EXPECT_DOUBLE_EQ(track::fractionAt(500, 110), 1);
}

TEST(ProgramPanelRules, ScrubSeeksOnlyWhenTheDurationIsKnown) {
    struct Case {
        double fraction, duration;
        std::optional<double> seek;
    };
    for (const Case& c : {Case{0.5, 60, 30.0}, Case{0, 60, 0.0}, Case{1.4, 10, 10.0}, Case{-1, 10, 0.0},
                          Case{0.5, 0, std::nullopt}, Case{0.5, -3, std::nullopt}, Case{0.5, nan, std::nullopt},
                          Case{0.5, inf, std::nullopt}})
        EXPECT_EQ(panel::scrubSeekTime(c.fraction, c.duration), c.seek) << c.fraction << " of " << c.duration;

    struct Progress {
        double current, duration, fraction;
    };
    for (const Progress& c : {Progress{30, 60, 0.5}, Progress{70, 60, 1}, Progress{5, 0, 0}, Progress{5, nan, 0},
                              Progress{5, inf, 0}, Progress{nan, 60, 0}, Progress{inf, 60, 0}, Progress{-inf, 60, 0}})
        EXPECT_DOUBLE_EQ(panel::progressFraction(c.current, c.duration), c.fraction) << c.current << "/" << c.duration;

    // While dragging the time shown is the dragged fraction of the duration, else the playhead.
    EXPECT_DOUBLE_EQ(panel::shownTime(0.25, 3, 60), 15);
    EXPECT_DOUBLE_EQ(panel::shownTime(std::nullopt, 3, 60), 3);
    EXPECT_DOUBLE_EQ(panel::shownTime(0.25, 3, 0), 0);
    EXPECT_DOUBLE_EQ(panel::shownTime(std::nullopt, inf, 60), 0);
}

TEST(ProgramPanelRules, PrimaryLayerIsTheFirstOfMediaAudioOverlayBackground) {
    auto with = [](std::initializer_list<std::pair<LayerId, bool>> cues) {
        ProgramState s;
        for (auto [layer, playing] : cues) {
            ActiveCue cue;
            cue.playing = playing;
            s.layers[layer].active = cue;
        }
        return s;
    };
    EXPECT_EQ(panel::primaryLayer(ProgramState{}), std::nullopt);
    EXPECT_FALSE(panel::rolling(ProgramState{}));
    EXPECT_EQ(panel::primaryLayer(with({{LayerId::audio, true}, {LayerId::media, false}})), LayerId::media);
    EXPECT_FALSE(panel::rolling(with({{LayerId::audio, true}, {LayerId::media, false}})))
        << "a paused media clip holds the timecode although audio plays";
    EXPECT_EQ(panel::primaryLayer(with({{LayerId::overlay, true}, {LayerId::audio, true}})), LayerId::audio);
    EXPECT_EQ(panel::primaryLayer(with({{LayerId::background, true}, {LayerId::overlay, false}})), LayerId::overlay);
    EXPECT_TRUE(panel::rolling(with({{LayerId::background, true}})));
}

MediaItem clip(MediaKind kind) {
    MediaItem m;
    m.id = "c";
    m.kind = kind;
    m.name = "Clip";
    return m;
}

TEST(PropertiesRules, FactsInOrderAndOnlyTheKnownOnes) {
    MediaItem video = clip(MediaKind::video);
    video.duration = 61.4;
    video.width = 1920;
    video.height = 1080;
    video.fps = 29.97;
    using F = properties::Fact;
    EXPECT_EQ(properties::facts(video), (std::vector<F>{{"Type", "Video"},
                                                        {"Duration", "1:01"},
                                                        {"Resolution", "1920x1080"},
                                                        {"Frame rate", "29 fps"}}));
    MediaItem audio = clip(MediaKind::audio);
    audio.sampleRate = 48000;
    audio.bitDepth = 24;
    audio.channels = 2;
    EXPECT_EQ(properties::facts(audio),
              (std::vector<F>{{"Type", "Audio"}, {"Sample rate", "48000 Hz"}, {"Bit depth", "24-bit"}, {"Channels", "Stereo"}}));
    EXPECT_EQ(properties::facts(clip(MediaKind::image)), (std::vector<F>{{"Type", "Image"}}))
        << "an unprobed clip shows its type alone";

    EXPECT_EQ(properties::channelsText(1), "Mono");
    EXPECT_EQ(properties::channelsText(6), "6");
    // The whole part, never rounded; a rate that is no finite number never reaches an integer.
    for (auto [fps, text] : std::vector<std::pair<double, const char*>>{
             {29.97, "29 fps"}, {59.94, "59 fps"}, {25, "25 fps"}, {0.5, "0 fps"}, {nan, "\u2014"}, {inf, "\u2014"},
             {-inf, "\u2014"}, {1e300, "\u2014"}})
        EXPECT_EQ(properties::frameRateText(fps), text) << fps;
}

TEST(PropertiesRules, PickersShowTheStoredOverride) {
    MediaItem m = clip(MediaKind::video);
    auto labels = [](const auto& picker) {
        std::vector<std::string> out;
        for (const auto& o : picker.options) out.push_back(o.first);
        return out;
    };
    auto shown = [](const auto& picker) { return picker.options[std::size_t(picker.selected)].first; };
    EXPECT_EQ(labels(properties::transitionPicker(m)), (std::vector<std::string>{"Default", "Cut", "Fade", "Slide", "Zoom"}));
    EXPECT_EQ(shown(properties::transitionPicker(m)), "Default");
    for (TransitionType t : {TransitionType::fade, TransitionType::crossfade}) {
        m.transitionType = t;
        EXPECT_EQ(shown(properties::transitionPicker(m)), "Fade");
    }
    m.transitionType = TransitionType::zoom;
    EXPECT_EQ(shown(properties::transitionPicker(m)), "Zoom");

    EXPECT_EQ(labels(properties::layerPicker(m)), (std::vector<std::string>{"Auto", "Background", "Media", "Overlay"}));
    EXPECT_EQ(shown(properties::layerPicker(m)), "Auto");
    m.layer = LayerId::overlay;
    EXPECT_EQ(shown(properties::layerPicker(m)), "Overlay");
    EXPECT_EQ(shown(properties::scalingPicker(m)), "Fit");
    m.fillMode = FillMode::fill;
    EXPECT_EQ(shown(properties::scalingPicker(m)), "Fill");

    EXPECT_EQ(shown(properties::endActionPicker(m)), "Hold");
    m.loop = true;
    EXPECT_EQ(shown(properties::endActionPicker(m)), "Loop") << "looping without an end action";
    m.endAction = EndAction::clear;
    EXPECT_EQ(shown(properties::endActionPicker(m)), "Clear");

    MediaItem a = clip(MediaKind::audio);
    EXPECT_EQ(labels(properties::transitionPicker(a)), (std::vector<std::string>{"Default", "Cut", "Fade"}));
    EXPECT_FALSE(properties::showsLayerAndScaling(a));
    // A stored slide the audio menu does not offer is still shown, as one more entry.
    a.transitionType = TransitionType::slide;
    EXPECT_EQ(labels(properties::transitionPicker(a)), (std::vector<std::string>{"Default", "Cut", "Fade", "Slide"}));
    EXPECT_EQ(shown(properties::transitionPicker(a)), "Slide");
    m.layer = LayerId::audio;
    EXPECT_EQ(shown(properties::layerPicker(m)), "Audio");
}

TEST(PropertiesRules, TrimOnlyForTimedClipsAndShownInTheLocale) {
    MediaItem v = clip(MediaKind::video);
    EXPECT_FALSE(properties::showsTrim(v)) << "no duration yet";
    v.duration = 12.5;
    EXPECT_TRUE(properties::showsTrim(v));
    MediaItem still = clip(MediaKind::image);
    still.duration = 5;
    EXPECT_FALSE(properties::showsTrim(still));
    MediaItem a = clip(MediaKind::audio);
    a.duration = 3;
    EXPECT_TRUE(properties::showsTrim(a));
    a.duration = nan;
    EXPECT_FALSE(properties::showsTrim(a));

    const QLocale c = QLocale::c(), german(QLocale::German, QLocale::Germany);
    EXPECT_EQ(properties::formatSeconds(properties::trimInShown(v), c), "0.0");
    EXPECT_EQ(properties::formatSeconds(properties::trimOutShown(v), c), "12.5");
    v.trimStart = 2.3;
    v.trimEnd = 10;
    EXPECT_EQ(properties::formatSeconds(properties::trimInShown(v), german), "2,3");
    EXPECT_EQ(properties::formatSeconds(properties::trimOutShown(v), german), "10,0");

    EXPECT_EQ(properties::parseSeconds("3.5", c), 3.5);
    EXPECT_EQ(properties::parseSeconds(" 3,5 ", german), 3.5);
    EXPECT_EQ(properties::parseSeconds("-1", c), -1.0) << "a negative entry parses; the state clamps it";
    for (const char* bad : {"", "abc", "inf", "nan", "1e999"}) EXPECT_EQ(properties::parseSeconds(bad, c), std::nullopt) << bad;
}

}  // namespace
}  // namespace ombry::ui
