#pragma once
// The installed application as a user runs it: this build installed into a temporary prefix, started on
// a private X server with a home of its own, looked at and driven from outside the process (the X server's
// windows and screenshots, xdotool's pointer and keys, curl against its servers).
#include <xcb/xcb.h>

#include <QImage>
#include <QPoint>
#include <QRect>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ombry::test {

// How much longer than in a plain build events take under a sanitizer, for the caps of the waits.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
inline constexpr double sanitizerSlowdown = 6;
#else
inline constexpr double sanitizerSlowdown = 1;
#endif

// Polls until done() holds or the time (times sanitizerSlowdown) is up; the last answer.
bool waitFor(const std::function<bool()>& done, double seconds);
// A shell command's standard output.
std::string shell(const std::string& command);
bool near(QRgb px, int r, int g, int b, int tolerance = 40);

// The X server as a client sees one of its screens: top-level windows, screenshots, close requests.
class XClient {
public:
    // `display` as ":N" or ":N.S" for screen S.
    explicit XClient(const std::string& display);
    ~XClient();
    XClient(const XClient&) = delete;
    XClient& operator=(const XClient&) = delete;

    struct Window {
        xcb_window_t id;
        QRect geometry;
        std::string title;
    };
    // Mapped top-level windows titled `title` (any title when empty), largest first.
    std::vector<Window> windows(const std::string& title);
    QImage screenshot();
    // What a window manager sends when the close button is pressed.
    void requestClose(xcb_window_t window);
    // Drags files from another client and drops them at `at` (root coordinates) on `target`, over the
    // desktop's drag-and-drop protocol; whether the target took them.
    bool dropFiles(xcb_window_t target, QPoint at, const std::vector<std::filesystem::path>& files);
    xcb_connection_t* connection() const { return c_; }
    xcb_window_t root() const { return screen_->root; }
    xcb_atom_t atom(const char* name);
    std::string name(xcb_window_t w);

private:
    xcb_connection_t* c_;
    xcb_screen_t* screen_;
};

// One home for the installed application: its data, config, runtime and state folders, and the processes
// started from the installed tree with that home, ended when it goes.
class InstalledApp {
public:
    // Installs this build once per test process; the prefix, empty when the install failed.
    static const std::filesystem::path& prefix();
    // A copy of the installed tree (its files hard-linked where the file system allows) in which the file
    // at `relative` holds `contents` instead; its prefix.
    static std::filesystem::path treeWith(const std::string& relative, const std::string& contents);
    // Later starts run bin/ombry of this tree instead of the installed one.
    void useTree(std::filesystem::path tree) { tree_ = std::move(tree); }

    // With `keepLogsIn`, the processes' standard error (where a sanitizer reports) goes to files there and
    // the application's own log is copied there at the end, so they outlive the temporary home.
    InstalledApp(std::string display, std::vector<std::string> extraEnv = {}, std::filesystem::path keepLogsIn = {});
    ~InstalledApp();

    const std::filesystem::path& home() const { return home_; }
    // The support folder, $XDG_DATA_HOME/Ombry.
    std::filesystem::path supportDir() const { return home_ / "data/Ombry"; }
    // Starts bin/ombry with these arguments; its standard error goes to "ombry-<n>.log" in the log folder
    // (the home without one); -1 when it cannot be started.
    pid_t start(std::vector<std::string> args, std::vector<std::string> extraEnv = {});
    // Its exit status once it ends within the time, else nothing.
    std::optional<int> exitOf(pid_t pid, double seconds);
    std::vector<std::string> environment() const;
    std::string logs() const;

private:
    std::string display_;
    std::vector<std::string> extraEnv_;
    std::filesystem::path tree_;
    std::filesystem::path home_;
    std::filesystem::path logDir_;
    std::vector<pid_t> running_;
    int started_ = 0;
};

}  // namespace ombry::test
