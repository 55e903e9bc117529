#include <epoxy/gl.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>

#include "Platform/Gpu/GlObjects.hpp"
#include "Platform/Gpu/GpuContext.hpp"
#include "Platform/MainQueue.hpp"
#include "Syphon/SyphonOutput.hpp"
#include "Syphon/SyphonServerConnectionManager.hpp"
#include "SyphonTestClient.hpp"
#include "support/TestEnv.hpp"

using namespace ombry;
using test::eventually;

namespace {
// A headless GL context current on the test's thread, which is the main queue's.
class SyphonGl : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("XDG_RUNTIME_DIR", test::tempDir("rt").c_str(), 1);
        ASSERT_TRUE(gpu.context) << gpu.error;
    }
    void TearDown() override {
        if (gpu.context) gpu.context->doneCurrent();
    }
    // A client registered for info and frames, once the server has it.
    static bool connect(SyphonOutput& output, test::SyphonTestClient& client) {
        return client.registerWith(output.server()->uuid()) &&
               eventually([&] { return output.server()->hasClients(); });
    }

    GpuContextResult gpu = makeHeadlessGpuContext();
    ManualQueue q;
    ScopedMainQueue scope{q};
};
}  // namespace

// The composed stage goes from the GPU to a client: top half red, bottom half translucent blue (premultiplied).
TEST_F(SyphonGl, StageTextureReachesClientsThroughTheReadback) {
    auto stage = GpuRenderTarget::create(8, 6);
    ASSERT_TRUE(stage);
    glBindFramebuffer(GL_FRAMEBUFFER, stage.framebuffer());
    glViewport(0, 0, 8, 6);
    glEnable(GL_SCISSOR_TEST);
    glScissor(0, 0, 8, 3);  // texture rows 0..2: the stage's top
    glClearColor(1, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glScissor(0, 3, 8, 3);
    glClearColor(0, 0, 0.5f, 0.5f);
    glClear(GL_COLOR_BUFFER_BIT);
    glDisable(GL_SCISSOR_TEST);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);

    SyphonOutput output("Program", gpu.context.get());
    ASSERT_TRUE(output.server());
    test::SyphonTestClient client;
    ASSERT_TRUE(connect(output, client));
    output.publish(stage);
    output.flush();
    ASSERT_TRUE(client.waitForCount(syphon_message::newFrame, 1));
    ASSERT_TRUE(eventually([&] { return client.surface() != nullptr; }));
    auto s = client.surface();
    ASSERT_EQ(s->width(), 8);
    ASSERT_EQ(s->height(), 6);
    ASSERT_TRUE(s->flags() & SharedSurface::flagBottomUp);
    auto bytes = client.pixels();
    auto bgraAtStage = [&](int x, int y) {  // y from the stage's top
        const uint8_t* p = &bytes[size_t(s->height() - 1 - y) * s->bytesPerRow() + size_t(x) * 4];
        return std::array<int, 4>{p[0], p[1], p[2], p[3]};
    };
    for (int x : {0, 7}) {
        EXPECT_EQ(bgraAtStage(x, 0), (std::array<int, 4>{0, 0, 255, 255}));
        EXPECT_EQ(bgraAtStage(x, 2), (std::array<int, 4>{0, 0, 255, 255}));
        auto blue = bgraAtStage(x, 5);
        EXPECT_NEAR(blue[0], 128, 1);
        EXPECT_EQ(blue[2], 0);
        EXPECT_NEAR(blue[3], 128, 1);
    }
}

namespace {
void fill(const GpuRenderTarget& target, float r, float g, float b, float a) {
    glBindFramebuffer(GL_FRAMEBUFFER, target.framebuffer());
    glViewport(0, 0, target.width(), target.height());
    glClearColor(r, g, b, a);
    glClear(GL_COLOR_BUFFER_BIT);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
}
}  // namespace

// Each frame reaches the clients by itself, without the next one to push it out and without the main
// thread's help: a worker reads it into the surface.
TEST_F(SyphonGl, ClientsGetTheFrameOfThisTick) {
    auto stage = GpuRenderTarget::create(16, 8);
    ASSERT_TRUE(stage);
    SyphonOutput output("Program", gpu.context.get());
    ASSERT_TRUE(output.server());
    test::SyphonTestClient client;
    ASSERT_TRUE(connect(output, client));

    struct Frame {
        float r, g, b;
        std::array<int, 4> bgra;
    };
    const Frame frames[] = {{1, 0, 0, {0, 0, 255, 255}}, {0, 1, 0, {0, 255, 0, 255}}, {0, 0, 1, {255, 0, 0, 255}}};
    int n = 0;
    for (const Frame& f : frames) {
        SCOPED_TRACE(testing::Message() << "frame " << n);
        fill(stage, f.r, f.g, f.b, 1);
        output.publish(stage);
        ++n;
        // The main thread only waits: no later frame, no flush, nothing run on the main queue.
        ASSERT_TRUE(client.waitForCount(syphon_message::newFrame, n));
        ASSERT_TRUE(client.surface());
        const auto bytes = client.pixels();
        ASSERT_GE(bytes.size(), 4u);
        EXPECT_EQ((std::array<int, 4>{bytes[0], bytes[1], bytes[2], bytes[3]}), f.bgra);
    }
    // The worker counts a frame once it has told the clients: wait for it to be done.
    output.flush();
    EXPECT_EQ(output.framesPublished(), 3u);
}
