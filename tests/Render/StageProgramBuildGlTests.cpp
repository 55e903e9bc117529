// The compositor's programs built on a worker thread with a context of its own in the compositor's share
// group, as the application starts: taken by the first frame, built once, failures kept.
#include <atomic>
#include <mutex>
#include <thread>

#include "GlTestSupport.hpp"

using namespace ombry;
using namespace ombry::test;

namespace {

const Rgba red{255, 0, 0, 255}, green{0, 255, 0, 255}, clear{0, 0, 0, 0};

// Counts the builds and notes the thread of each.
struct Builds {
    std::mutex mutex;
    int count = 0;
    std::thread::id thread;

    StageProgramBuild::Builder real() {
        return [this] {
            note();
            return StagePrograms::build();
        };
    }
    StageProgramBuild::Builder failing() {
        return [this]() -> RenderResult<StagePrograms> {
            note();
            return RenderError{IssueCode::rendererFailed, "stageSolidFragment.glsl: 0:1(1): error: syntax error"};
        };
    }
    void note() {
        std::lock_guard lock(mutex);
        ++count;
        thread = std::this_thread::get_id();
    }
};

// A context the driver refuses to make current.
class RefusedContext final : public GpuContext {
public:
    bool makeCurrent() override { return false; }
    void doneCurrent() override {}
    std::string renderer() const override { return "refused"; }
};

class ProgramBuild : public GlTest {
protected:
    std::unique_ptr<StageCompositor> makeCompositor(std::unique_ptr<StageProgramBuild> build) {
        auto made = StageCompositor::create(*context(), std::move(build));
        EXPECT_TRUE(made.ok()) << (made.ok() ? "" : made.error().message);
        if (!made.ok()) return nullptr;
        auto c = std::move(made.value());
        EXPECT_TRUE(c->setStageSize({8, 8}));
        return c;
    }
    Builds builds;
};

TEST_F(ProgramBuild, ProgramsBuiltOnAWorkerDrawTheFirstFrameAndArePresentedOnceBuilt) {
    auto build = StageProgramBuild::start(context()->createShared(), builds.real());
    ASSERT_TRUE(build) << "no shared context";
    auto c = makeCompositor(std::move(build));
    ASSERT_TRUE(c);
    // The first frame takes them without being told to wait: a full red still, the right half green.
    StillImage s;
    s.width = s.height = 1;
    s.stride = 4;
    s.pixels = {255, 0, 0, 255};
    auto texture = c->makeImageTexture(std::move(s));
    ASSERT_TRUE(texture.ok());
    const StageQuad all = StageQuad::rect({0, 0, 8, 8}, {}, {8, 8});
    ASSERT_TRUE(c->render({StageDraw::textured(texture.value(), all, 1),
                           StageDraw::solid({0, 1, 0}, StageQuad::rect({4, 0, 4, 8}, {}, {8, 8}), 1)},
                          {0, 0, 0, 0}));
    Pixels p = readTarget(c->target());
    EXPECT_TRUE(near(p.at(1, 4), red, 0));
    EXPECT_TRUE(near(p.at(6, 4), green, 0));
    // The rounded-corner present program came from the worker too.
    GpuRenderTarget out = GpuRenderTarget::create(40, 40);
    c->present({out.framebuffer(), 40, 40, 1}, 4);
    Pixels shown = readTarget(out);
    EXPECT_TRUE(near(shown.at(0, 0), clear, 0));
    EXPECT_TRUE(near(shown.at(10, 20), red, 0));
    EXPECT_TRUE(near(shown.at(30, 20), green, 0));

    EXPECT_FALSE(c->awaitPrograms());
    ASSERT_TRUE(c->render({}, {0, 0, 0, 0}));
    std::lock_guard lock(builds.mutex);
    EXPECT_EQ(builds.count, 1) << "built more than once";
    EXPECT_NE(builds.thread, std::this_thread::get_id()) << "built on the main thread";
    EXPECT_EQ(c->programStats().builtOn, builds.thread);
}

TEST_F(ProgramBuild, AFailedBuildIsKeptDrawsNothingAndIsNotBuiltAgain) {
    auto c = makeCompositor(StageProgramBuild::start(context()->createShared(), builds.failing()));
    ASSERT_TRUE(c);
    EXPECT_FALSE(c->render({StageDraw::solid({1, 0, 0}, StageQuad::rect({0, 0, 8, 8}, {}, {8, 8}), 1)}, {0, 0, 0, 0}));
    for (int i = 0; i < 2; ++i) {
        const auto error = c->awaitPrograms();
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code, IssueCode::rendererFailed);
        EXPECT_NE(error->message.find("stageSolidFragment.glsl"), std::string::npos) << error->message;
    }
    std::lock_guard lock(builds.mutex);
    EXPECT_EQ(builds.count, 1);
}

TEST_F(ProgramBuild, AWorkerWhoseContextIsRefusedBuildsNothingAndTheyAreBuiltOnTheTakingThread) {
    auto c = makeCompositor(StageProgramBuild::start(std::make_unique<RefusedContext>(), builds.real()));
    ASSERT_TRUE(c);
    EXPECT_FALSE(c->awaitPrograms());
    ASSERT_TRUE(c->render({StageDraw::solid({0, 1, 0}, StageQuad::rect({0, 0, 8, 8}, {}, {8, 8}), 1)}, {0, 0, 0, 0}));
    EXPECT_TRUE(near(readTarget(c->target()).at(3, 3), green, 0));
    std::lock_guard lock(builds.mutex);
    EXPECT_EQ(builds.count, 1);
    EXPECT_EQ(builds.thread, std::this_thread::get_id());
}

TEST_F(ProgramBuild, ACompositorGoneBeforeItsFirstFrameWaitsForTheBuildAndFreesItsPrograms) {
    std::atomic<bool> started{false}, finish{false}, returned{false};
    auto build = StageProgramBuild::start(context()->createShared(), [&] {
        started = true;
        while (!finish) std::this_thread::yield();
        auto built = StagePrograms::build();
        returned = true;
        return built;
    });
    auto c = makeCompositor(std::move(build));
    ASSERT_TRUE(c);
    while (!started) std::this_thread::yield();
    // Released a little after the compositor starts going, so that going has to wait for it.
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        finish = true;
    });
    c.reset();
    EXPECT_TRUE(returned) << "the compositor went while its programs were being built";
    release.join();
    // This thread's context is current again and the next compositor draws.
    compositor().render({StageDraw::solid({1, 0, 0}, whole(), 1)}, {0, 0, 0, 0});
    EXPECT_TRUE(near(readTarget(compositor().target()).at(3, 3), red, 0));
}

}  // namespace
