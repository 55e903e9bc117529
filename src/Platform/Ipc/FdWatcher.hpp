#pragma once
#include <functional>
#include <memory>
#include <string>

namespace ombry {

// One named thread that waits on many descriptors and runs each one's callback, one at a time, whenever it
// is readable (the callback must drain it). A serial receive queue for sockets.
class FdWatcher {
public:
    explicit FdWatcher(std::string label);
    // Stops the thread; from the watcher's own thread it is left to finish by itself.
    ~FdWatcher();
    FdWatcher(const FdWatcher&) = delete;
    FdWatcher& operator=(const FdWatcher&) = delete;

    const std::string& label() const;
    bool watch(int fd, std::function<void()> onReadable);
    // Once this returns, the descriptor's callback is not running and will not run again (from the watcher's
    // own thread: the callback that is running is the caller).
    void unwatch(int fd);
    bool onWatcherThread() const;

private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace ombry
