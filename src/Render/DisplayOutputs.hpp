#pragma once
// Program output on whole screens: the list of connected displays, one borderless always-on-top window
// per chosen display, and the clean-up after screens come and go.
//
// The manager knows screens and windows only through two seams: a ScreenProvider (the toolkit's screens
// in the application, a fake in tests) and a DisplayWindowFactory (the toolkit's program windows, which
// show the renderer's frames). Main thread only.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Platform/MainQueue.hpp"

namespace ombry {

using DisplayId = uint32_t;

// A rectangle of the virtual desktop, in device-independent pixels (points).
struct DisplayRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const DisplayRect&) const = default;
};

// One connected screen as the platform reports it.
struct DisplayScreen {
    std::optional<DisplayId> id;  // none: the screen cannot be told apart and is not offered
    std::string name;
    DisplayRect frame;
    double scale = 1;  // device pixels per point
    bool primary = false;
};

// The platform's screens.
class ScreenProvider {
public:
    virtual ~ScreenProvider() = default;
    // The connected screens, in the system's order.
    virtual std::vector<DisplayScreen> screens() const = 0;
    // Called on the main thread whenever a screen is added, removed or changes geometry; set by its user.
    std::function<void()> onScreensChanged;
};

// One open program window covering a screen. Destroying it closes it.
class DisplayWindow {
public:
    virtual ~DisplayWindow() = default;
    virtual DisplayRect frame() const = 0;
    // Moves and resizes the window, showing the change at once.
    virtual void setFrame(const DisplayRect& frame) = 0;
    // Stops presenting into it (its view leaves the renderer) and hides it.
    virtual void close() = 0;
};

class DisplayWindowFactory {
public:
    virtual ~DisplayWindowFactory() = default;
    // A shown, frameless, always-on-top window covering `screen`, presenting the program; null when the
    // window or its drawing surface cannot be made.
    virtual std::unique_ptr<DisplayWindow> create(const DisplayScreen& screen) = 0;
};

class DisplayOutputManager {
public:
    struct DisplayInfo {
        DisplayId id = 0;
        std::string name;
        int width = 0;  // pixels: the frame in points times the scale, truncated
        int height = 0;
        bool isPrimary = false;
        bool operator==(const DisplayInfo&) const = default;
    };

    // How long a burst of screen changes is waited out before the windows are reconciled.
    static constexpr double reconcileDelay = 0.5;

    // The provider must outlive the manager.
    explicit DisplayOutputManager(ScreenProvider& screens);
    ~DisplayOutputManager();
    DisplayOutputManager(const DisplayOutputManager&) = delete;
    DisplayOutputManager& operator=(const DisplayOutputManager&) = delete;

    // What the windows show: the program renderer's window factory. Without one, opening reports
    // "DSP-01" under the display's name.
    void setWindowFactory(std::unique_ptr<DisplayWindowFactory> factory) { factory_ = std::move(factory); }

    std::vector<DisplayInfo> displays() const;
    // Opens the program window on the display unless one is open there already. Failures go to the issue
    // log as "DSP-01"; a successful opening resolves every "DSP-01".
    void open(DisplayId id);
    void close(DisplayId id);

    // The displays that show the program output.
    std::vector<DisplayId> openDisplays() const;
    bool isOpen(DisplayId id) const { return windows_.count(id) > 0; }
    DisplayWindow* window(DisplayId id) const;
    bool screenChangePending() const { return screenChangePending_; }

    // Names of the displays whose program windows were closed because the display went away.
    std::function<void(const std::vector<std::string>& names)> onDisplaysLost;
    // After every reconciliation.
    std::function<void()> onDisplaysChanged;

private:
    std::optional<DisplayScreen> screen(DisplayId id) const;
    void screensChanged();
    void reconcile();

    ScreenProvider& screens_;
    std::unique_ptr<DisplayWindowFactory> factory_;
    std::map<DisplayId, std::unique_ptr<DisplayWindow>> windows_;
    std::map<DisplayId, std::string> names_;
    bool screenChangePending_ = false;
    TaskHandle pending_;
};

}  // namespace ombry
