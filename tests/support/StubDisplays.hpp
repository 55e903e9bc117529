#pragma once
// Screens and program windows for tests of the state's display outputs without any real window.
#include <memory>
#include <vector>

#include "Render/DisplayOutputs.hpp"

namespace ombry::test {

// A primary screen (id 1, "Built-in", 1920×1080) and a second one (id 2, "Projector") to its right.
struct TwoScreens final : ScreenProvider {
    explicit TwoScreens(int projectorWidth = 3840, int projectorHeight = 2160)
        : projector{1920, 0, projectorWidth, projectorHeight} {}
    DisplayRect projector;
    std::vector<DisplayScreen> screens() const override {
        return {{1, "Built-in", {0, 0, 1920, 1080}, 1, true}, {2, "Projector", projector, 1, false}};
    }
};

// A program window that only keeps its frame.
struct StubWindow final : DisplayWindow {
    DisplayRect at;
    DisplayRect frame() const override { return at; }
    void setFrame(const DisplayRect& f) override { at = f; }
    void close() override {}
};
struct StubWindows final : DisplayWindowFactory {
    std::unique_ptr<DisplayWindow> create(const DisplayScreen&) override { return std::make_unique<StubWindow>(); }
};

}  // namespace ombry::test
