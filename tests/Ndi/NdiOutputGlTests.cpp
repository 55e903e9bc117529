#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>

#include "../Render/GlTestSupport.hpp"
#include "FakeNdiFixture.hpp"
#include "Render/NDIOutput.hpp"

namespace ombry {
namespace {

using test::FakeNdi;
using test::Pixels;
using test::Rgba;

class NdiOutputGl : public test::GlTest {
protected:
    void SetUp() override {
        GlTest::SetUp();
        ASSERT_TRUE(fake.loaded()) << "fake runtime not built at " FAKE_NDI_DIR;
        IssueLog::shared().clear();
    }
    void TearDown() override {
        IssueLog::shared().clear();
        GlTest::TearDown();
    }
    void setConnections(int n) {
        std::lock_guard lock(fake->mutex);
        fake->connections = n;
    }
    size_t framesSent() {
        std::lock_guard lock(fake->mutex);
        return fake->video.size();
    }
    // A stage of w x h pixels with varied colours and alphas, composed; returns what was composed.
    Pixels composeTestStage(int w, int h) {
        EXPECT_TRUE(compositor().setStageSize({double(w), double(h)}));
        std::vector<Rgba> px;
        const int alphas[] = {255, 128, 0, 64, 255, 200};
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                px.push_back({(x * 37 + y * 11) % 256, (x * 91 + y * 53 + 40) % 256, (x * 13 + y * 29 + 90) % 256,
                              alphas[(x + 2 * y) % 6]});
        auto texture = still(w, h, px, StillAlpha::straight);
        EXPECT_TRUE(compositor().render({StageDraw::textured(texture, whole(), 1)}, {0, 0, 0, 0}));
        return test::readTarget(compositor().target());
    }
    // Drives the main queue's clock until the fake has entered `n` video sends.
    bool pumpUntilEntered(int n) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < until) {
            {
                std::lock_guard lock(fake->mutex);
                if (fake->videoEntered >= n) return true;
            }
            q.advance(0.0005);
        }
        return false;
    }

    ManualQueue q;
    ScopedMainQueue scope{q};
    FakeNdi fake;
};

// Straight colour 0..255 of a premultiplied readback pixel.
std::array<double, 3> straight(Rgba p) {
    if (p.a == 0) return {0, 0, 0};
    return {std::min(255.0, p.r * 255.0 / p.a), std::min(255.0, p.g * 255.0 / p.a), std::min(255.0, p.b * 255.0 / p.a)};
}

// The "UYVA" frame of a composed stage, computed on the CPU: video range, chroma the mean of each pair.
std::vector<uint8_t> expectedUyva(const Pixels& stage, double kr, double kb) {
    const int w = stage.width, h = stage.height;
    std::vector<uint8_t> out(size_t(w) * size_t(h) * 3);
    auto luma = [&](const std::array<double, 3>& c) { return (kr * c[0] + (1 - kr - kb) * c[1] + kb * c[2]) / 255.0; };
    auto byte = [](double v) { return uint8_t(std::clamp(std::lround(v), 0L, 255L)); };
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; x += 2) {
            const auto a = straight(stage.at(x, y)), b = straight(stage.at(x + 1, y));
            const double ya = luma(a), yb = luma(b), ym = (ya + yb) / 2;
            const double mb = (a[2] + b[2]) / 510.0, mr = (a[0] + b[0]) / 510.0;
            uint8_t* p = out.data() + size_t(y) * size_t(w) * 2 + size_t(x) * 2;
            p[0] = byte(128 + 224 * (mb - ym) / (2 * (1 - kb)));
            p[1] = byte(16 + 219 * ya);
            p[2] = byte(128 + 224 * (mr - ym) / (2 * (1 - kr)));
            p[3] = byte(16 + 219 * yb);
        }
    uint8_t* alpha = out.data() + size_t(w) * size_t(h) * 2;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) alpha[size_t(y) * size_t(w) + size_t(x)] = uint8_t(stage.at(x, y).a);
    return out;
}

std::vector<uint8_t> expectedBgra(const Pixels& stage) {
    std::vector<uint8_t> out;
    for (int y = 0; y < stage.height; ++y)
        for (int x = 0; x < stage.width; ++x) {
            const Rgba p = stage.at(x, y);
            const auto s = straight(p);
            for (double c : {s[2], s[1], s[0]}) out.push_back(uint8_t(std::lround(c)));
            out.push_back(uint8_t(p.a));
        }
    return out;
}

// Every byte within `tolerance` of the expected one.
::testing::AssertionResult bytesNear(const std::vector<uint8_t>& got, const std::vector<uint8_t>& want, int tolerance) {
    if (got.size() != want.size())
        return ::testing::AssertionFailure() << got.size() << " bytes, expected " << want.size();
    for (size_t i = 0; i < got.size(); ++i)
        if (std::abs(int(got[i]) - int(want[i])) > tolerance)
            return ::testing::AssertionFailure() << "byte " << i << " is " << int(got[i]) << ", expected "
                                                 << int(want[i]) << " ±" << tolerance;
    return ::testing::AssertionSuccess();
}

TEST_F(NdiOutputGl, ConvertedFramesMatchTheComposedStage) {
    struct Case {
        int w, h;
        uint32_t fourCC;
        double kr, kb;
    };
    const Case cases[] = {
        {8, 6, ndi::fourCCUYVA, 0.299, 0.114},     // SD: BT.601
        {6, 5, ndi::fourCCUYVA, 0.299, 0.114},     // odd height: the alpha plane ends half way through a row
        {4, 576, ndi::fourCCUYVA, 0.299, 0.114},     // 576 rows is still SD: BT.601
        {10, 577, ndi::fourCCUYVA, 0.2126, 0.0722},  // above 576 rows: BT.709; alpha rows straddle texels
        {4, 720, ndi::fourCCUYVA, 0.2126, 0.0722},   // 720 rows: BT.709
        {7, 4, ndi::fourCCBGRA, 0, 0},             // odd width cannot be 4:2:2
    };
    setConnections(1);
    NDIOutput out(compositor(), "Program");
    ASSERT_TRUE(out.sender());
    double t = 1000;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h);
        const Pixels stage = composeTestStage(c.w, c.h);
        q.clock().setMonotonic(t += 1);
        const size_t before = framesSent();
        out.publish(compositor().target(), 30);
        out.finishPending();
        ASSERT_EQ(framesSent(), before + 1);
        std::lock_guard lock(fake->mutex);
        const test::FakeNdiVideo& v = fake->video.back();
        EXPECT_EQ(v.xres, c.w);
        EXPECT_EQ(v.yres, c.h);
        EXPECT_EQ(v.fourCC, c.fourCC);
        EXPECT_EQ(v.frameRateN, 30);
        EXPECT_EQ(v.frameRateD, 1);
        EXPECT_EQ(v.pictureAspectRatio, 0.0f);
        EXPECT_EQ(v.frameFormat, ndi::frameFormatProgressive);
        EXPECT_EQ(v.timecode, INT64_MAX);
        EXPECT_FALSE(v.metadata);
        EXPECT_EQ(v.timestamp, 0);
        if (c.fourCC == ndi::fourCCUYVA) {
            EXPECT_EQ(v.lineStride, c.w * 2);
            const auto want = expectedUyva(stage, c.kr, c.kb);
            EXPECT_TRUE(bytesNear(v.bytes, want, 1));
        } else {
            EXPECT_EQ(v.lineStride, c.w * 4);
            EXPECT_TRUE(bytesNear(v.bytes, expectedBgra(stage), 1));
        }
    }
}

TEST_F(NdiOutputGl, NothingIsConvertedWithoutReceiversAndTheCountIsPolledOncePerSecond) {
    composeTestStage(8, 4);
    NDIOutput out(compositor(), "Program");
    ASSERT_TRUE(out.sender());
    for (int i = 0; i < 120; ++i) {  // two seconds at 60 fps
        out.publish(compositor().target(), 60);
        q.advance(1.0 / 60);
    }
    out.finishPending();
    {
        std::lock_guard lock(fake->mutex);
        EXPECT_TRUE(fake->video.empty());
        EXPECT_LE(fake->connectionPolls, 3);
        EXPECT_GE(fake->connectionPolls, 2);
    }
    // A receiver that connects is noticed at the next poll, within a second.
    setConnections(1);
    for (int i = 0; i < 61 && framesSent() == 0; ++i) {
        out.publish(compositor().target(), 60);
        out.finishPending();
        q.advance(1.0 / 60);
    }
    EXPECT_EQ(framesSent(), 1u);
}

TEST_F(NdiOutputGl, FramesAreThrottledToTheStageRate) {
    composeTestStage(8, 4);
    setConnections(1);
    NDIOutput out(compositor(), "Program");
    const CompositeConsumer consume = out.consumer();
    auto publishAt = [&](double t, int fps) {
        q.clock().setMonotonic(t);
        consume(compositor().target(), fps);
        out.finishPending();
        return framesSent();
    };
    const double t0 = 2000;
    EXPECT_EQ(publishAt(t0, 60), 1u);
    EXPECT_EQ(publishAt(t0 + 1.0 / 60 - 0.0015, 60), 1u);  // under 1/60 - 1 ms: skipped
    EXPECT_EQ(publishAt(t0 + 1.0 / 60 - 0.0005, 60), 2u);  // within the millisecond of slack: sent
    // A frame rate of 0 goes out as 1 frame per second, and throttles to it.
    const double t1 = 3000;
    EXPECT_EQ(publishAt(t1, 0), 3u);
    EXPECT_EQ(publishAt(t1 + 0.5, 0), 3u);
    EXPECT_EQ(publishAt(t1 + 0.998, 0), 3u);
    EXPECT_EQ(publishAt(t1 + 1.0, 0), 4u);
    std::lock_guard lock(fake->mutex);
    EXPECT_EQ(fake->video.back().frameRateN, 1);
    EXPECT_EQ(fake->video.back().frameRateD, 1);
}

TEST_F(NdiOutputGl, AFrameArrivingWhileThePreviousIsBeingSentIsSkipped) {
    composeTestStage(8, 4);
    setConnections(1);
    NDIOutput out(compositor(), "Program");
    {
        std::lock_guard lock(fake->mutex);
        fake->holdVideo = true;
    }
    out.publish(compositor().target(), 60);
    // The readback is collected by the output's own poll on the main queue, without another frame.
    ASSERT_TRUE(pumpUntilEntered(1));
    q.advance(1.0 / 60);
    out.publish(compositor().target(), 60);  // the first is still in the runtime: skipped
    {
        std::lock_guard lock(fake->mutex);
        fake->holdVideo = false;
    }
    fake->changed.notify_all();
    out.finishPending();
    EXPECT_EQ(framesSent(), 1u);
    q.advance(1.0 / 60);
    out.publish(compositor().target(), 60);
    out.finishPending();
    EXPECT_EQ(framesSent(), 2u);
    std::lock_guard lock(fake->mutex);
    EXPECT_EQ(fake->videoEntered, 2);
}

TEST_F(NdiOutputGl, AfterStopAPendingFrameSendsNothingAndFreesTheSlot) {
    composeTestStage(8, 4);
    setConnections(1);
    NDIOutput out(compositor(), "Program");
    out.publish(compositor().target(), 60);
    ASSERT_TRUE(out.sender()->frameInFlight());
    out.sender()->stop();
    out.finishPending();
    EXPECT_FALSE(out.sender()->frameInFlight());
    q.advance(1.0);
    out.publish(compositor().target(), 60);
    out.finishPending();
    std::lock_guard lock(fake->mutex);
    EXPECT_TRUE(fake->video.empty());
    EXPECT_EQ(fake->callsAfterDestroy, 0);
}

// Without the fake loaded: the folder the loader is pointed at holds no runtime.
using NdiWithoutRuntimeGl = test::GlTest;

TEST_F(NdiWithoutRuntimeGl, TheOutputStaysInertAndReportsOut01) {
    ManualQueue q;
    ScopedMainQueue scope(q);
    IssueLog::shared().clear();
    ASSERT_TRUE(compositor().render({}, {1, 0, 0, 1}));
    if (!test::hideRuntime()) GTEST_SKIP() << "an NDI runtime is loadable in this process";
    {
        NDIOutput out(compositor(), "Program");
        EXPECT_FALSE(out.sender());
        out.publish(compositor().target(), 60);
        out.finishPending();
        q.runPending();
    }
    const auto issues = test::issuesWith(IssueCode::ndiFailed);
    ASSERT_EQ(issues.size(), 1u);
    EXPECT_FALSE(issues[0].subject.has_value());
    ::unsetenv(ndi::runtimeDirVariable);
    IssueLog::shared().clear();
}

}  // namespace
}  // namespace ombry
