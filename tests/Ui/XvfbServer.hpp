#pragma once
#include <sys/types.h>

#include <string>

namespace ombry::test {

// A private X server for one test process: two screens (1920x1080 and 1280x720), a display number the
// server picks itself, no network listener. DISPLAY points at it while it lives.
class XvfbServer {
public:
    XvfbServer();
    ~XvfbServer();
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    bool running() const { return pid_ > 0 && !display_.empty(); }
    const std::string& display() const { return display_; }  // ":N"
    const std::string& error() const { return error_; }

private:
    pid_t pid_ = -1;
    std::string display_;
    std::string error_;
};

}  // namespace ombry::test
