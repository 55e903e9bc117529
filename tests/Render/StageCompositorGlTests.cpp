#include "GlTestSupport.hpp"
#include "Platform/Gpu/Readback.hpp"

using namespace ombry;
using namespace ombry::test;

namespace {
const Rgba red{255, 0, 0, 255}, green{0, 255, 0, 255}, blue{0, 0, 255, 255}, white{255, 255, 255, 255},
    clear{0, 0, 0, 0}, black{0, 0, 0, 255};

using Compositor = GlTest;
}  // namespace

TEST_F(Compositor, EmptyFrameClearsToThePremultipliedBackground) {
    ASSERT_TRUE(compositor().render({}, {0, 0, 0, 0}));
    Pixels p = readTarget(compositor().target());
    ASSERT_EQ(p.width, 8);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) ASSERT_TRUE(near(p.at(x, y), clear, 0));

    ASSERT_TRUE(compositor().render({}, {1, 0.5f, 0, 0.5f}));
    EXPECT_TRUE(near(readTarget(compositor().target()).at(3, 3), {128, 64, 0, 128}));
}

TEST_F(Compositor, SolidQuadsBlendPremultipliedOver) {
    const std::vector<StageDraw> draws = {
        StageDraw::solid({1, 0, 0}, whole(), 1),
        StageDraw::solid({0, 0, 1}, whole(), 0),     // not drawn
        StageDraw::solid({0, 1, 0}, whole(), -1),    // not drawn
        StageDraw::solid({0, 0, 0}, StageQuad::rect({0, 0, 4, 8}, {}, {8, 8}), 0.5f),  // halves the left side
    };
    ASSERT_TRUE(compositor().render(draws, {0, 0, 0, 0}));
    Pixels p = readTarget(compositor().target());
    EXPECT_TRUE(near(p.at(1, 4), {128, 0, 0, 255}));
    EXPECT_TRUE(near(p.at(6, 4), red, 0));

    // Half-transparent green over a transparent stage stays premultiplied.
    ASSERT_TRUE(compositor().render({StageDraw::solid({0, 1, 0}, whole(), 0.25f)}, {0, 0, 0, 0}));
    EXPECT_TRUE(near(readTarget(compositor().target()).at(4, 4), {0, 64, 0, 64}));
}

TEST_F(Compositor, TexturedQuadsCarryOpacityAndStraightStillsArePremultiplied) {
    auto opaque = still(1, 1, {green});
    auto halfWhite = still(1, 1, {{255, 255, 255, 128}}, StillAlpha::straight);
    ASSERT_TRUE(opaque && halfWhite);

    ASSERT_TRUE(compositor().render({StageDraw::textured(opaque, whole(), 0.25f)}, {0, 0, 0, 0}));
    EXPECT_TRUE(near(readTarget(compositor().target()).at(2, 2), {0, 64, 0, 64}));

    // Straight white at alpha 0.5 over opaque blue: half white, half blue; a straight upload would give 255.
    ASSERT_TRUE(compositor().render({StageDraw::textured(halfWhite, whole(), 1)}, {0, 0, 1, 1}));
    EXPECT_TRUE(near(readTarget(compositor().target()).at(2, 2), {128, 128, 255, 255}));

    // Opacity 0 is skipped even for a texture.
    ASSERT_TRUE(compositor().render({StageDraw::textured(opaque, whole(), 0)}, {0, 0, 0, 0}));
    EXPECT_TRUE(near(readTarget(compositor().target()).at(2, 2), clear, 0));
}

TEST_F(Compositor, EveryOrientationTurnsThePicture) {
    // 2x2 picture: red green / blue white. Corner i of the quad shows the texel at texCoords(o)[i].
    auto texture = still(2, 2, {red, green, blue, white});
    ASSERT_TRUE(texture);
    auto texel = [](TexCoord c) {
        const Rgba grid[2][2] = {{red, green}, {blue, white}};
        return grid[c.v > 0.5f][c.u > 0.5f];
    };
    for (StageOrientation o : allStageOrientations) {
        texture->orientation = o;
        ASSERT_TRUE(compositor().render({StageDraw::textured(texture, whole(), 1)}, {0, 0, 0, 0}));
        Pixels p = readTarget(compositor().target());
        const auto tc = texCoords(o);
        const int idx = int(o);
        EXPECT_TRUE(near(p.at(0, 0), texel(tc[0]), 0)) << "top-left of " << idx;
        EXPECT_TRUE(near(p.at(7, 0), texel(tc[1]), 0)) << "top-right of " << idx;
        EXPECT_TRUE(near(p.at(0, 7), texel(tc[2]), 0)) << "bottom-left of " << idx;
        EXPECT_TRUE(near(p.at(7, 7), texel(tc[3]), 0)) << "bottom-right of " << idx;
    }
    // The upright case once more in plain words: red at the stage's top-left, white at its bottom-right.
    texture->orientation = StageOrientation::up;
    ASSERT_TRUE(compositor().render({StageDraw::textured(texture, whole(), 1)}, {0, 0, 0, 0}));
    Pixels p = readTarget(compositor().target());
    EXPECT_TRUE(near(p.at(1, 1), red, 0));
    EXPECT_TRUE(near(p.at(6, 6), white, 0));
}

TEST_F(Compositor, FitAndFillPlacePortraitPictures) {
    ASSERT_TRUE(compositor().setStageSize({64, 36}));
    // 9 by 16 portrait: top half red, bottom half blue.
    std::vector<Rgba> px;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 9; ++x) px.push_back(y < 8 ? red : blue);
    auto portrait = still(9, 16, px);
    ASSERT_TRUE(portrait);
    const StageSize stage = compositor().stageSize();

    // Fit: 20.25 wide at x 21.875, full height.
    const StageRect fit = placedRect(portrait->presentedSize(), stage, false);
    ASSERT_TRUE(compositor().render({StageDraw::textured(portrait, StageQuad::rect(fit, {}, stage), 1)}, {0, 0, 0, 0}));
    Pixels p = readTarget(compositor().target());
    EXPECT_TRUE(near(p.at(21, 5), clear, 0));
    EXPECT_TRUE(near(p.at(22, 5), red, 0));
    EXPECT_TRUE(near(p.at(41, 30), blue, 0));
    EXPECT_TRUE(near(p.at(42, 30), clear, 0));

    // Fill: full width, 113.8 tall at y -38.9, so the red/blue edge lands at stage row 18.
    const StageRect fill = placedRect(portrait->presentedSize(), stage, true);
    ASSERT_TRUE(compositor().render({StageDraw::textured(portrait, StageQuad::rect(fill, {}, stage), 1)}, {0, 0, 0, 0}));
    p = readTarget(compositor().target());
    EXPECT_TRUE(near(p.at(0, 0), red, 0));
    EXPECT_TRUE(near(p.at(63, 10), red, 0));
    EXPECT_TRUE(near(p.at(0, 26), blue, 0));
    EXPECT_TRUE(near(p.at(63, 35), blue, 0));

    // The same picture stored landscape and turned a quarter presents as portrait and places alike.
    std::vector<Rgba> turned;
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 16; ++x) turned.push_back(x < 8 ? red : blue);
    auto landscape = still(16, 9, turned);
    landscape->orientation = StageOrientation::left;
    EXPECT_EQ(landscape->presentedSize(), (StageSize{9, 16}));
    EXPECT_EQ(placedRect(landscape->presentedSize(), stage, false), fit);
}

TEST_F(Compositor, PresentFitsTheStageWithBarsOrRoundedCorners) {
    ASSERT_TRUE(compositor().setStageSize({64, 36}));
    ASSERT_TRUE(compositor().render({StageDraw::solid({1, 0, 0}, whole(), 1)}, {0, 0, 0, 0}));

    // A 64x36 stage in a 40x40 drawable: full width, 22.5 tall, black bars of 8.75 above and below.
    GpuRenderTarget square = GpuRenderTarget::create(40, 40);
    compositor().present({square.framebuffer(), 40, 40, 1}, 0);
    Pixels p = readTarget(square);
    EXPECT_TRUE(near(p.at(20, 2), black, 0));
    EXPECT_TRUE(near(p.at(20, 8), black, 0));
    EXPECT_TRUE(near(p.at(0, 10), red, 0));
    EXPECT_TRUE(near(p.at(39, 29), red, 0));
    EXPECT_TRUE(near(p.at(20, 31), black, 0));

    // With a corner radius the bars are transparent.
    compositor().present({square.framebuffer(), 40, 40, 1}, 3);
    p = readTarget(square);
    EXPECT_TRUE(near(p.at(20, 2), clear, 0));
    EXPECT_TRUE(near(p.at(20, 20), red, 0));

    // Same aspect: the picture fills the drawable and only the corners are cut, radius 4 points at 2x.
    GpuRenderTarget wide = GpuRenderTarget::create(64, 36);
    compositor().present({wide.framebuffer(), 64, 36, 2}, 4);
    p = readTarget(wide);
    for (auto [x, y] : {std::pair{0, 0}, {63, 0}, {0, 35}, {63, 35}, {1, 1}}) EXPECT_TRUE(near(p.at(x, y), clear, 0)) << x << "," << y;
    for (auto [x, y] : {std::pair{32, 0}, {0, 18}, {63, 18}, {32, 35}, {8, 8}}) EXPECT_TRUE(near(p.at(x, y), red, 0)) << x << "," << y;
    compositor().present({wide.framebuffer(), 64, 36, 2}, 0);
    EXPECT_TRUE(near(readTarget(wide).at(0, 0), red, 0));

    // A transparent stage shows black in a square-cornered window.
    ASSERT_TRUE(compositor().render({}, {0, 0, 0, 0}));
    compositor().present({wide.framebuffer(), 64, 36, 1}, 0);
    EXPECT_TRUE(near(readTarget(wide).at(30, 20), black, 0));
    // An empty drawable is left alone.
    compositor().present({wide.framebuffer(), 0, 36, 1}, 0);
}

TEST_F(Compositor, StageResizeReplacesTheTargetOnlyWhenTheSizeChanges) {
    ASSERT_TRUE(compositor().setStageSize({16, 9}));
    const GLuint texture = compositor().target().texture();
    EXPECT_TRUE(compositor().setStageSize({16, 9}));
    EXPECT_EQ(compositor().target().texture(), texture);
    for (StageSize ignored : {StageSize{0, 9}, StageSize{16, 0.5}, StageSize{-3, -3}}) {
        compositor().setStageSize(ignored);
        EXPECT_EQ(compositor().stageSize(), (StageSize{16, 9}));
        EXPECT_EQ(compositor().target().texture(), texture);
    }
    EXPECT_FALSE(compositor().setStageSize({9000, 9}));
    EXPECT_EQ(compositor().target().width(), 16);

    ASSERT_TRUE(compositor().setStageSize({12, 4}));
    EXPECT_EQ(compositor().target().width(), 12);
    EXPECT_EQ(compositor().target().height(), 4);
    // Quads in stage pixels follow the new size: the right half of a 12x4 stage.
    ASSERT_TRUE(compositor().render({StageDraw::solid({0, 0, 1}, StageQuad::rect({6, 0, 6, 4}, {}, {12, 4}), 1)}, {0, 0, 0, 0}));
    Pixels p = readTarget(compositor().target());
    ASSERT_EQ(p.width, 12);
    EXPECT_TRUE(near(p.at(5, 1), clear, 0));
    EXPECT_TRUE(near(p.at(6, 1), blue, 0));
}

TEST_F(Compositor, ReadbackIsAsynchronousTopRowFirstAndDropsWhenFull) {
    ASSERT_TRUE(compositor().setStageSize({8, 4}));
    GpuReadback readback(2);
    std::vector<uint64_t> seen;
    for (uint64_t frame = 1; frame <= 3; ++frame) {
        ASSERT_TRUE(compositor().render({StageDraw::solid({1, 0, 0}, StageQuad::rect({0, 0, 8, 1}, {}, {8, 4}), 1)},
                                        {0, 0, 1, 1}));
        const bool queued = readback.request(compositor().target(), frame);
        EXPECT_EQ(queued, frame <= 2);  // the third finds both buffers in use and is dropped, not waited for
    }
    EXPECT_EQ(readback.dropped(), 1u);
    EXPECT_EQ(readback.pending(), 2);
    readback.poll(
        [&](const ReadbackFrame& f) {
            seen.push_back(f.tag);
            ASSERT_EQ(f.width, 8);
            ASSERT_EQ(f.stride, 32);
            const uint8_t* top = f.pixels;
            const uint8_t* below = f.pixels + f.stride;
            EXPECT_EQ((std::array<int, 4>{top[0], top[1], top[2], top[3]}), (std::array<int, 4>{0, 0, 255, 255}));  // BGRA red
            EXPECT_EQ((std::array<int, 4>{below[0], below[1], below[2], below[3]}), (std::array<int, 4>{255, 0, 0, 255}));
        },
        true);
    EXPECT_EQ(seen, (std::vector<uint64_t>{1, 2}));
    EXPECT_EQ(readback.pending(), 0);
    EXPECT_TRUE(readback.request(compositor().target(), 4));
}

TEST_F(Compositor, PipelinesForOtherPassesAndTheirFailures) {
    auto solid = compositor().makePipeline("stageSolidFragment", false);
    ASSERT_TRUE(solid.ok()) << solid.error().message;
    GpuRenderTarget t = GpuRenderTarget::create(4, 4);
    glBindFramebuffer(GL_FRAMEBUFFER, t.framebuffer());
    glViewport(0, 0, 4, 4);
    glUseProgram(solid->program());
    glUniform4f(glGetUniformLocation(solid->program(), "u_color"), 0, 0.5f, 0, 0.5f);
    compositor().drawQuad(*solid, {{{{-1, 1}, {0, 0}}, {{1, 1}, {1, 0}}, {{-1, -1}, {0, 1}}, {{1, -1}, {1, 1}}}});
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    EXPECT_TRUE(near(readTarget(t).at(1, 1), {0, 128, 0, 128}));

    auto missing = compositor().makePipeline("noSuchFragment", true);
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().code, IssueCode::rendererFailed);
}

TEST_F(Compositor, ImagesBeyondTheGpuLimitAreUnreadable) {
    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
    StillImage wide;
    wide.width = maxSize + 1;
    wide.height = 1;
    wide.stride = size_t(wide.width) * 4;
    wide.pixels.assign(wide.stride, 255);
    auto r = compositor().makeImageTexture(std::move(wide));
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().code, IssueCode::imageUnreadable);
    EXPECT_FALSE(compositor().makeImageTexture(StillImage{}).ok());
}
