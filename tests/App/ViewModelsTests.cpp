#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>
#include <unordered_set>

#include "App/ViewModels.hpp"

using namespace ombry;

namespace {
MediaItem item(MediaKind kind) {
    MediaItem m;
    m.id = "A";
    m.kind = kind;
    return m;
}
}  // namespace

TEST(MediaItemDisplay, Duration) {
    const double inf = std::numeric_limits<double>::infinity();
    const std::vector<std::pair<std::optional<double>, std::string>> cases = {
        {std::nullopt, ""}, {0.0, ""},       {-3.0, ""},      {std::nan(""), ""}, {inf, ""}, {1e300, ""},
        {0.4, "0:00"},      {0.5, "0:01"},   {59.4, "0:59"},  {59.5, "1:00"},     {61.0, "1:01"},
        {3600.0, "60:00"},  {7384.2, "123:04"},
    };
    for (const auto& [duration, text] : cases) {
        MediaItem m = item(MediaKind::video);
        m.duration = duration;
        EXPECT_EQ(displayDuration(m), text) << (duration ? std::to_string(*duration) : "absent");
    }
}

TEST(MediaItemDisplay, Detail) {
    MediaItem image = item(MediaKind::image);
    image.width = 4000;
    image.height = 3000;
    EXPECT_EQ(displayDetail(image), "Image \u00B7 4000\u00D73000");

    MediaItem audio = item(MediaKind::audio);
    audio.sampleRate = 48000;
    audio.bitDepth = 24;
    audio.channels = 2;  // not shown
    EXPECT_EQ(displayDetail(audio), "Audio \u00B7 48 kHz \u00B7 24-bit");
    audio.sampleRate = 44100;
    EXPECT_EQ(displayDetail(audio), "Audio \u00B7 44 kHz \u00B7 24-bit");

    MediaItem video = item(MediaKind::video);
    video.width = 1920;  // no height: no size part
    video.fps = 29.97;
    EXPECT_EQ(displayDetail(video), "Video \u00B7 29p");
    video.height = 1080;
    EXPECT_EQ(displayDetail(video), "Video \u00B7 1920\u00D71080 \u00B7 29p");
    video.fps = std::nan("");  // a rate that is no number is left out
    EXPECT_EQ(displayDetail(video), "Video \u00B7 1920\u00D71080");
    EXPECT_EQ(displayDetail(item(MediaKind::video)), "Video");
}

TEST(MediaItemDisplay, GradientFollowsTheIdHash) {
    MediaItem m = item(MediaKind::video);
    auto colours = gradient(m);  // "A" hashes to 334 modulo 360
    EXPECT_DOUBLE_EQ(colours[0].hue, 334.0 / 360.0);
    EXPECT_DOUBLE_EQ(colours[1].hue, 334.0 / 360.0 + 0.08 - 1.0);
    EXPECT_EQ(colours[0].saturation, 0.45);
    EXPECT_EQ(colours[0].brightness, 0.42);
    EXPECT_EQ(colours[1].saturation, 0.55);
    EXPECT_EQ(colours[1].brightness, 0.16);
    EXPECT_EQ(colours[0].alpha, 1);
    EXPECT_EQ(gradient(m), colours);

    m.id = "8F0C2C8E-1111-4222-8333-944455556666";
    EXPECT_DOUBLE_EQ(gradient(m)[0].hue, 174.0 / 360.0);
    m.id = "";
    EXPECT_DOUBLE_EQ(gradient(m)[0].hue, 43.0 / 360.0);
}

TEST(AdvanceInterval, KeptBetweenASecondAndADay) {
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        double stored, used;
    } cases[] = {{10, 10}, {7.9, 7.9}, {1, 1}, {0.25, 1}, {0, 1}, {-4, 1}, {86400, 86400}, {1e300, 86400},
                 {inf, 1}, {-inf, 1}, {std::nan(""), 1}};
    for (const auto& c : cases) EXPECT_EQ(clampedAdvanceSeconds(c.stored), c.used) << c.stored;
}

TEST(Colour, HsbToRgba) {
    struct Case {
        Hsb hsb;
        Rgba rgba;
    };
    const std::vector<Case> cases = {
        {{0, 1, 1, 1}, {1, 0, 0, 1}},
        {{1.0 / 3, 1, 1, 1}, {0, 1, 0, 1}},
        {{2.0 / 3, 1, 1, 0.5}, {0, 0, 1, 0.5}},
        {{0.5, 0, 0.4, 1}, {0.4, 0.4, 0.4, 1}},
        {{1.0 / 12, 1, 1, 1}, {1, 0.5, 0, 1}},
    };
    for (const auto& c : cases) {
        Rgba got = c.hsb.rgba();
        EXPECT_NEAR(got.r, c.rgba.r, 1e-9);
        EXPECT_NEAR(got.g, c.rgba.g, 1e-9);
        EXPECT_NEAR(got.b, c.rgba.b, 1e-9);
        EXPECT_EQ(got.a, c.rgba.a);
    }
}

TEST(ViewModels, IdsAndTexts) {
    EXPECT_EQ(PlaylistEditorTarget::create({"a", "b"}).id(), "create-a,b");
    EXPECT_EQ(PlaylistEditorTarget::create({}).id(), "create-");
    EXPECT_EQ(PlaylistEditorTarget::edit("P1").id(), "edit-P1");

    LayerVM row{LayerId::media, "M", "Media", true, "Intro", std::nullopt};
    EXPECT_FALSE(row.hasTimeline());
    row.kind = MediaKind::image;
    EXPECT_FALSE(row.hasTimeline());
    row.kind = MediaKind::audio;
    EXPECT_TRUE(row.hasTimeline());
    row.kind = MediaKind::video;
    EXPECT_TRUE(row.hasTimeline());

    PendingSequenceImport seq{"ID", {"f1.png", "f2.png", "f3.png"}, "Logo", std::nullopt, 25};
    EXPECT_EQ(seq.imagesButton(), "Import as 3 Images");
    EXPECT_EQ(seq.question(),
              "It has 3 numbered images. Import them as one clip, or as 3 separate images?\n\nSelecting "
              "\u201Cone clip\u201D will re-encode the frames into a single 25 fps video. Transparency is kept, but "
              "the video is lossy. Your original files are left as is.");

    EXPECT_EQ(allCases<AppTransition>(),
              (std::array{AppTransition::cut, AppTransition::fade, AppTransition::slide, AppTransition::zoom}));
    EXPECT_EQ(fromRaw<AppTransition>("Fade"), AppTransition::fade);
    EXPECT_FALSE(fromRaw<AppTransition>("fade"));
    EXPECT_FALSE(fromRaw<AppTransition>("Crossfade"));

    std::set<SidebarItem> selection{SidebarItem::allPlaylists(), SidebarItem::playlist("P"), SidebarItem::allPlaylists()};
    EXPECT_EQ(selection.size(), 2u);
    std::unordered_set<SidebarItem> hashed{SidebarItem::playlist("P"), SidebarItem::playlist("Q"), SidebarItem::playlist("P")};
    EXPECT_EQ(hashed.size(), 2u);
    EXPECT_NE(SidebarItem::playlist(""), SidebarItem::allPlaylists());
}
