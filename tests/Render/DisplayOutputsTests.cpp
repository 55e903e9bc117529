#include <gtest/gtest.h>

#include "Engine/Model/Issues.hpp"
#include "Platform/MainQueue.hpp"
#include "Render/DisplayOutputs.hpp"

namespace ombry {
namespace {

class FakeScreens final : public ScreenProvider {
public:
    std::vector<DisplayScreen> list;
    std::vector<DisplayScreen> screens() const override { return list; }
    void change() {
        if (onScreensChanged) onScreensChanged();
    }
};

struct WindowLog {
    int created = 0;
    int closed = 0;
    std::vector<DisplayRect> frames;  // every setFrame
};

class FakeWindow final : public DisplayWindow {
public:
    FakeWindow(DisplayRect frame, WindowLog& log) : frame_(frame), log_(log) {}
    DisplayRect frame() const override { return frame_; }
    void setFrame(const DisplayRect& f) override {
        frame_ = f;
        log_.frames.push_back(f);
    }
    void close() override { ++log_.closed; }

private:
    DisplayRect frame_;
    WindowLog& log_;
};

class FakeFactory final : public DisplayWindowFactory {
public:
    FakeFactory(WindowLog& log, bool fails = false) : log_(log), fails_(fails) {}
    std::unique_ptr<DisplayWindow> create(const DisplayScreen& screen) override {
        if (fails_) return nullptr;
        ++log_.created;
        return std::make_unique<FakeWindow>(screen.frame, log_);
    }

private:
    WindowLog& log_;
    bool fails_;
};

DisplayScreen screenOf(DisplayId id, std::string name, DisplayRect frame, double scale = 1, bool primary = false) {
    return {id, std::move(name), frame, scale, primary};
}

class DisplayOutputsTest : public ::testing::Test {
protected:
    void SetUp() override {
        IssueLog::shared().clear();
        screens.list = {screenOf(1, "Built-in", {0, 0, 1512, 982}, 2, true),
                        screenOf(2, "Projector", {1512, 0, 1920, 1080})};
        manager.setWindowFactory(std::make_unique<FakeFactory>(log));
        manager.onDisplaysLost = [this](const std::vector<std::string>& names) { lost.push_back(names); };
        manager.onDisplaysChanged = [this] { ++changed; };
    }
    void TearDown() override { IssueLog::shared().clear(); }

    std::vector<std::pair<std::string, std::optional<std::string>>> issues() const {
        std::vector<std::pair<std::string, std::optional<std::string>>> out;
        for (const auto& i : IssueLog::shared().recent()) out.emplace_back(rawValue(i.code), i.subject);
        return out;
    }

    ManualQueue queue;
    ScopedMainQueue scope{queue};
    FakeScreens screens;
    WindowLog log;
    DisplayOutputManager manager{screens};
    std::vector<std::vector<std::string>> lost;
    int changed = 0;
};

TEST_F(DisplayOutputsTest, ListsScreensInPixelsInSystemOrderSkippingThoseWithoutId) {
    screens.list.insert(screens.list.begin() + 1, DisplayScreen{std::nullopt, "Unknown", {0, 0, 800, 600}, 1, false});
    screens.list.push_back(screenOf(7, "Odd", {0, 0, 1001, 333}, 1.5));
    using Info = DisplayOutputManager::DisplayInfo;
    EXPECT_EQ(manager.displays(), (std::vector<Info>{{1, "Built-in", 3024, 1964, true},
                                                     {2, "Projector", 1920, 1080, false},
                                                     {7, "Odd", 1501, 499, false}}));
}

TEST_F(DisplayOutputsTest, OpensOneWindowPerDisplayAndClosesIt) {
    manager.open(2);
    manager.open(2);
    EXPECT_EQ(log.created, 1);
    EXPECT_EQ(manager.openDisplays(), std::vector<DisplayId>{2});
    EXPECT_EQ(manager.window(2)->frame(), (DisplayRect{1512, 0, 1920, 1080}));
    EXPECT_TRUE(issues().empty());

    manager.close(2);
    manager.close(2);
    EXPECT_EQ(log.closed, 1);
    EXPECT_TRUE(manager.openDisplays().empty());
}

TEST_F(DisplayOutputsTest, OpenFailuresReportDsp01AndASuccessResolvesThemAll) {
    manager.open(99);  // no such screen: no subject
    EXPECT_EQ(issues(), (decltype(issues()){{"DSP-01", std::nullopt}}));
    manager.open(99);  // automatic repeat counts up instead of adding a line
    ASSERT_EQ(IssueLog::shared().recent().size(), 1u);
    EXPECT_EQ(IssueLog::shared().recent()[0].count, 2);

    manager.setWindowFactory(nullptr);  // nothing to show the program with: the display's name
    manager.open(2);
    manager.setWindowFactory(std::make_unique<FakeFactory>(log, true));  // the window cannot be made
    manager.open(1);
    EXPECT_EQ(issues(), (decltype(issues()){{"DSP-01", "Built-in"}, {"DSP-01", "Projector"}, {"DSP-01", std::nullopt}}));
    EXPECT_TRUE(manager.openDisplays().empty());

    manager.setWindowFactory(std::make_unique<FakeFactory>(log));
    manager.open(1);
    EXPECT_TRUE(issues().empty());
    EXPECT_EQ(manager.openDisplays(), std::vector<DisplayId>{1});
}

TEST_F(DisplayOutputsTest, ABurstOfScreenChangesReconcilesOnceAfterHalfASecond) {
    manager.open(1);
    manager.open(2);
    // The projector is unplugged and another display plugged in within the half second.
    screens.list.pop_back();
    screens.change();
    queue.advance(0.2);
    screens.list.push_back(screenOf(3, "Monitor", {1512, 0, 2560, 1440}));
    screens.change();
    queue.advance(0.29);
    EXPECT_TRUE(manager.screenChangePending());
    EXPECT_EQ(changed, 0);
    EXPECT_EQ(log.closed, 0);

    queue.advance(0.02);
    EXPECT_FALSE(manager.screenChangePending());
    EXPECT_EQ(lost, (std::vector<std::vector<std::string>>{{"Projector"}}));
    EXPECT_EQ(changed, 1);
    EXPECT_EQ(log.closed, 1);
    EXPECT_EQ(manager.openDisplays(), std::vector<DisplayId>{1});
    EXPECT_FALSE(manager.isOpen(2));
    EXPECT_TRUE(log.frames.empty());  // the remaining window already covered its screen

    queue.advance(5);
    EXPECT_EQ(changed, 1);

    // A later change starts a new wait.
    screens.change();
    queue.advance(0.5);
    EXPECT_EQ(changed, 2);
    EXPECT_EQ(lost.size(), 1u);  // nothing lost: no second report
}

TEST_F(DisplayOutputsTest, ResolutionChangeResizesTheWindowWithoutClosingIt) {
    manager.open(2);
    screens.list[1].frame = {1512, 0, 1280, 720};
    screens.list[0].frame = {0, 0, 1728, 1117};  // no window there: nothing to resize
    screens.change();
    queue.advance(0.5);
    EXPECT_EQ(log.closed, 0);
    EXPECT_EQ(log.frames, (std::vector<DisplayRect>{{1512, 0, 1280, 720}}));
    EXPECT_EQ(manager.window(2)->frame(), (DisplayRect{1512, 0, 1280, 720}));
    EXPECT_TRUE(lost.empty());
    EXPECT_EQ(changed, 1);
}

TEST_F(DisplayOutputsTest, LostDisplaysAreReportedInIdOrderUnnamedOnesAsDisplay) {
    screens.list.push_back(screenOf(5, "", {0, 1080, 800, 600}));
    manager.open(5);
    manager.open(2);
    manager.open(1);
    screens.list = {screens.list[0]};
    screens.change();
    queue.advance(0.5);
    EXPECT_EQ(lost, (std::vector<std::vector<std::string>>{{"Projector", "Display"}}));
    EXPECT_EQ(manager.openDisplays(), std::vector<DisplayId>{1});
    EXPECT_EQ(log.closed, 2);
}

TEST(DisplayOutputsLifetime, ManagerGoneBeforeThePendingReconciliationClosesItsWindowsAndStaysQuiet) {
    ManualQueue queue;
    ScopedMainQueue scope(queue);
    FakeScreens screens;
    screens.list = {screenOf(1, "Main", {0, 0, 640, 480})};
    WindowLog log;
    int changed = 0;
    {
        DisplayOutputManager manager(screens);
        manager.setWindowFactory(std::make_unique<FakeFactory>(log));
        manager.onDisplaysChanged = [&] { ++changed; };
        manager.open(1);
        screens.change();
    }
    EXPECT_EQ(log.closed, 1);
    EXPECT_FALSE(bool(screens.onScreensChanged));
    queue.advance(1);
    EXPECT_EQ(changed, 0);
}

}  // namespace
}  // namespace ombry
