#include "Platform/Ipc/FdWatcher.hpp"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "Platform/Ipc/ThreadName.hpp"
#include "Platform/Ipc/UniqueFd.hpp"

namespace ombry {

struct FdWatcher::State {
    std::string label;
    UniqueFd epoll;
    UniqueFd wake;
    std::mutex mutex;
    std::condition_variable idle;
    std::map<int, std::shared_ptr<std::function<void()>>> callbacks;
    int running = -1;  // the descriptor whose callback runs now
    bool quit = false;
    std::thread::id threadId;

    void loop() {
        setCurrentThreadName(label);
        epoll_event events[16];
        for (;;) {
            int n = ::epoll_wait(epoll.get(), events, 16, -1);
            if (n < 0) continue;  // EINTR
            for (int i = 0; i < n; ++i) {
                const int fd = events[i].data.fd;
                std::shared_ptr<std::function<void()>> fn;
                {
                    std::lock_guard lock(mutex);
                    if (quit) return;
                    if (fd == wake.get()) {
                        uint64_t v;
                        (void)!::read(wake.get(), &v, sizeof v);
                        continue;
                    }
                    auto it = callbacks.find(fd);
                    if (it == callbacks.end()) continue;
                    fn = it->second;
                    running = fd;
                }
                (*fn)();
                {
                    std::lock_guard lock(mutex);
                    running = -1;
                }
                idle.notify_all();
            }
            std::lock_guard lock(mutex);
            if (quit) return;
        }
    }
};

FdWatcher::FdWatcher(std::string label) : state_(std::make_shared<State>()) {
    state_->label = std::move(label);
    state_->epoll.reset(::epoll_create1(EPOLL_CLOEXEC));
    state_->wake.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = state_->wake.get();
    ::epoll_ctl(state_->epoll.get(), EPOLL_CTL_ADD, state_->wake.get(), &ev);
    std::thread t([s = state_] { s->loop(); });
    state_->threadId = t.get_id();
    t.detach();
}

FdWatcher::~FdWatcher() {
    {
        std::lock_guard lock(state_->mutex);
        state_->quit = true;
        state_->callbacks.clear();
    }
    uint64_t one = 1;
    (void)!::write(state_->wake.get(), &one, sizeof one);
    if (onWatcherThread()) return;
    // The thread holds its own reference to the state; wait until no callback of ours runs.
    std::unique_lock lock(state_->mutex);
    state_->idle.wait(lock, [&] { return state_->running < 0; });
}

const std::string& FdWatcher::label() const { return state_->label; }

bool FdWatcher::watch(int fd, std::function<void()> onReadable) {
    std::lock_guard lock(state_->mutex);
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = fd;
    if (::epoll_ctl(state_->epoll.get(), EPOLL_CTL_ADD, fd, &ev) != 0) return false;
    state_->callbacks[fd] = std::make_shared<std::function<void()>>(std::move(onReadable));
    return true;
}

void FdWatcher::unwatch(int fd) {
    std::unique_lock lock(state_->mutex);
    ::epoll_ctl(state_->epoll.get(), EPOLL_CTL_DEL, fd, nullptr);
    state_->callbacks.erase(fd);
    if (onWatcherThread()) return;
    state_->idle.wait(lock, [&] { return state_->running != fd; });
}

bool FdWatcher::onWatcherThread() const { return std::this_thread::get_id() == state_->threadId; }

}  // namespace ombry
