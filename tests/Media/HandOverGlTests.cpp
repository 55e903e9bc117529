// What the player and the still decoder hand over is what the compositor draws: pictures with two
// coloured halves go from file to stage and are read back.
#include <gtest/gtest.h>

#include "GlTestSupport.hpp"
#include "MediaFixtures.hpp"
#include "Platform/Media/StillDecoder.hpp"
#include "support/TestEnv.hpp"

using namespace ombry;
using namespace ombry::test;

namespace {

using HandOver = GlTest;

Rgba premultiplied(Rgba c) { return {c.r * c.a / 255, c.g * c.a / 255, c.b * c.a / 255, c.a}; }

// A lavfi source of w by h whose left half is `left` and right half `right` (straight RGBA).
std::string halves(const std::string& size, Rgba left, Rgba right, const std::string& rate = "") {
    auto pick = [](int l, int r) { return "'if(lt(X,W/2)," + std::to_string(l) + "," + std::to_string(r) + ")'"; };
    return "-f lavfi -i \"color=s=" + size + rate + ",format=rgba,geq=r=" + pick(left.r, right.r) +
           ":g=" + pick(left.g, right.g) + ":b=" + pick(left.b, right.b) + ":a=" + pick(left.a, right.a) + "\" ";
}

// Draws the texture over the whole (8x8) stage on a transparent background and reads the stage back.
Pixels drawn(StageCompositor& compositor, std::shared_ptr<StageTexture> texture, const StageQuad& quad) {
    EXPECT_TRUE(compositor.render({StageDraw::textured(std::move(texture), quad, 1)}, {0, 0, 0, 0}));
    return readTarget(compositor.target());
}

}  // namespace

TEST_F(HandOver, PlayerFramesUploadThroughTheCompositor) {
    const Rgba warm{200, 60, 30, 255}, cool{20, 180, 90, 255}, faint{200, 60, 30, 128}, clear{20, 180, 90, 64};
    const std::string opaque = halves("64x48", warm, cool, ":r=30:d=1");
    const std::string alpha = halves("64x48", faint, clear, ":r=30:d=1");
    struct Case {
        std::string name, args;
        Rgba left, right;
        StageOrientation orientation;
    } cases[] = {
        {"halves.mp4", opaque + "-c:v libx264 -qp 0 -pix_fmt yuv420p", warm, cool, StageOrientation::up},
        {"halves-alpha.webm", alpha + "-c:v libvpx-vp9 -lossless 1 -pix_fmt yuva420p -auto-alt-ref 0", faint, clear,
         StageOrientation::up},
        {"halves-png.mov", alpha + "-c:v png -pix_fmt rgba", faint, clear, StageOrientation::up},
        // The same clip tagged to be shown turned a quarter anticlockwise (as ffmpeg itself shows it): the
        // right half ends up on top. For this case `left` is the stage's top, `right` its bottom.
        {"halves-turned.mp4", "", cool, warm, StageOrientation::left},
    };
    const auto plain = mediaFixture(cases[0].name, cases[0].args);
    cases[3].args = "-i '" + plain.string() + "' -c copy -metadata:s:v:0 rotate=90";
    PlayerRig rig;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto path = mediaFixture(c.name, c.args);
        ASSERT_FALSE(path.empty());
        auto player = rig.open(path);
        ASSERT_EQ(player->readiness(), media::Readiness::ready);
        ASSERT_TRUE(rig.preroll(*player));
        auto frame = player->latestFrame(appClock().monotonic());
        ASSERT_TRUE(frame);
        EXPECT_EQ(frame->orientation, c.orientation);
        auto texture = compositor().makeVideoTexture(*frame);
        ASSERT_TRUE(texture);
        EXPECT_EQ(texture->orientation, c.orientation);
        const StageSize shown = texture->presentedSize();
        EXPECT_EQ(shown.width, c.orientation == StageOrientation::up ? 64 : 48);

        const Pixels p = drawn(compositor(), texture, whole());
        const bool up = c.orientation == StageOrientation::up;
        EXPECT_TRUE(near(up ? p.at(1, 4) : p.at(4, 1), premultiplied(c.left), 6));
        EXPECT_TRUE(near(up ? p.at(6, 4) : p.at(4, 6), premultiplied(c.right), 6));
    }
}

TEST_F(HandOver, DecodedStillsUploadThroughTheCompositor) {
    const Rgba red{255, 0, 0, 255}, halfBlue{0, 0, 255, 128}, green{0, 255, 0, 255};
    const auto dir = tempDir("handover");
    writeFile(dir / "halves.svg", R"(<svg xmlns="http://www.w3.org/2000/svg" width="4" height="2">)"
                                  R"(<rect width="2" height="2" fill="#00ff00"/>)"
                                  R"(<rect x="2" width="2" height="2" fill="#0000ff" fill-opacity="0.5"/></svg>)");
    struct Case {
        std::filesystem::path path;
        Rgba left, right;
    } cases[] = {
        {mediaFixture("halves.png", halves("32x16", red, halfBlue) + "-frames:v 1 -pix_fmt rgba"), red, halfBlue},
        {mediaFixture("halves.jpg", halves("32x16", red, {0, 0, 255, 255}) + "-frames:v 1 -pix_fmt yuvj444p -q:v 1"),
         red,
         {0, 0, 255, 255}},
        {dir / "halves.svg", green, halfBlue},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path.string());
        ASSERT_FALSE(c.path.empty());
        media::StillResult decoded = media::decodeStill(c.path);
        StillImage image;
        if (auto* svg = std::get_if<std::shared_ptr<const ScalableImage>>(&decoded)) {
            auto drawn = StageCompositor::rasterize(**svg, compositor().stageSize().height);
            ASSERT_TRUE(drawn.ok()) << drawn.error().message;
            image = std::move(drawn.value());
        } else {
            ASSERT_TRUE(std::holds_alternative<StillImage>(decoded));
            image = std::move(std::get<StillImage>(decoded));
        }
        auto texture = compositor().makeImageTexture(std::move(image));
        ASSERT_TRUE(texture.ok()) << texture.error().message;
        // Already premultiplied by the decoder: the compositor must not multiply again.
        const Pixels p = drawn(compositor(), texture.value(), whole());
        EXPECT_TRUE(near(p.at(1, 4), premultiplied(c.left), 6));
        EXPECT_TRUE(near(p.at(6, 4), premultiplied(c.right), 6));
    }
}

TEST_F(HandOver, TurnedJpegsStandUprightOnTheStage) {
    // Upright quadrants red, green / blue, white, whatever EXIF orientation the file was stored with.
    const Rgba red{255, 0, 0, 255}, green{0, 255, 0, 255}, blue{0, 0, 255, 255}, white{255, 255, 255, 255};
    for (int tag = 1; tag <= 8; ++tag) {
        SCOPED_TRACE("orientation " + std::to_string(tag));
        const auto path = orientedJpeg(tag);
        ASSERT_FALSE(path.empty());
        media::StillResult decoded = media::decodeStill(path, {8, 8});
        ASSERT_TRUE(std::holds_alternative<StillImage>(decoded));
        auto texture = compositor().makeImageTexture(std::move(std::get<StillImage>(decoded)));
        ASSERT_TRUE(texture.ok()) << texture.error().message;
        const StageSize upright = texture.value()->presentedSize();
        EXPECT_GT(upright.width, upright.height);
        const Pixels p = drawn(compositor(), texture.value(), whole());
        EXPECT_TRUE(near(p.at(1, 1), red, 40));
        EXPECT_TRUE(near(p.at(6, 1), green, 40));
        EXPECT_TRUE(near(p.at(1, 6), blue, 40));
        EXPECT_TRUE(near(p.at(6, 6), white, 40));
    }
}
