#include "Platform/MainQueue.hpp"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cassert>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <system_error>

namespace ombry {
namespace {
std::atomic<MainQueue*> installed{nullptr};

// Stands in once the process queue is gone: a worker that finishes during exit (a still decode, a loader,
// a reaped player) has its late post dropped instead of ending the process.
class ClosedQueue final : public MainQueue {
public:
    void post(Task) override {}
    TaskHandle postAfter(double, Task) override { return closed(); }
    TaskHandle postAfterBoot(double, Task) override { return closed(); }
    double now() const override { return appClock().monotonic(); }
    bool isMainThread() const override { return false; }

private:
    static TaskHandle closed() { return TaskHandle(std::make_shared<std::atomic<bool>>(true)); }
};
}  // namespace

MainQueue& mainQueue() {
    MainQueue* q = installed.load();
    if (q) return *q;
    // Never destroyed: threads may post while statics are torn down.
    static ClosedQueue* const closed = new ClosedQueue;
    return *closed;
}
void setMainQueue(MainQueue* q) { installed.store(q); }
bool hasMainQueue() { return installed.load() != nullptr; }

void TaskList::push(Task fn) {
    std::lock_guard lock(mutex_);
    posted_.push_back(std::move(fn));
}

TaskHandle TaskList::pushAt(double due, Task fn) {
    auto flag = std::make_shared<std::atomic<bool>>(false);
    std::lock_guard lock(mutex_);
    timers_.emplace(std::make_pair(due, seq_++), Timer{flag, std::move(fn)});
    return TaskHandle(flag);
}

bool TaskList::takeReady(double now, Task& out) {
    std::lock_guard lock(mutex_);
    if (!posted_.empty()) {
        out = std::move(posted_.front());
        posted_.pop_front();
        return true;
    }
    while (!timers_.empty()) {
        auto it = timers_.begin();
        if (it->second.cancelled->load()) {
            timers_.erase(it);
            continue;
        }
        if (it->first.first > now) return false;
        auto flag = it->second.cancelled;
        Task fn = std::move(it->second.fn);
        timers_.erase(it);
        // The handle's cancel() before the task body runs still wins.
        out = [flag, fn = std::move(fn)] {
            if (!flag->load()) fn();
        };
        return true;
    }
    return false;
}

double TaskList::nextDue() {
    std::lock_guard lock(mutex_);
    while (!timers_.empty() && timers_.begin()->second.cancelled->load()) timers_.erase(timers_.begin());
    return timers_.empty() ? -1.0 : timers_.begin()->first.first;
}

bool TaskList::empty() {
    std::lock_guard lock(mutex_);
    return posted_.empty() && timers_.empty();
}

// ManualQueue

ManualQueue::ManualQueue() : owner_(std::this_thread::get_id()) {}
// A poster on another thread pushes and notifies under the wait lock, so once the owner holds it here no
// poster is still inside the queue it is about to free.
ManualQueue::~ManualQueue() { std::lock_guard lock(waitMutex_); }

void ManualQueue::post(Task fn) {
    std::lock_guard lock(waitMutex_);
    tasks_.push(std::move(fn));
    arrived_.notify_all();
}

TaskHandle ManualQueue::postAfter(double seconds, Task fn) {
    if (!(seconds > 0)) seconds = 0;
    std::lock_guard lock(waitMutex_);
    auto h = tasks_.pushAt(now() + seconds, std::move(fn));
    arrived_.notify_all();
    return h;
}

TaskHandle ManualQueue::postAfterBoot(double seconds, Task fn) {
    if (!(seconds > 0)) seconds = 0;
    std::lock_guard lock(waitMutex_);
    auto h = bootTasks_.pushAt(clock_.boottime() + seconds, std::move(fn));
    arrived_.notify_all();
    return h;
}

void ManualQueue::runPending() {
    Task t;
    // The two clocks are sums of the same steps taken in different orders: a boot-time due reached on the
    // monotonic clock may be short of it by a rounding error.
    while (tasks_.takeReady(now(), t) || bootTasks_.takeReady(clock_.boottime() + 1e-9, t)) {
        t();
        t = nullptr;
    }
}

double ManualQueue::nextDue() {
    const double mono = tasks_.nextDue();
    double boot = bootTasks_.nextDue();
    // While awake both clocks move together: a boot-time due is as far ahead on the monotonic clock.
    if (boot >= 0) boot = std::max(now(), boot - (clock_.boottime() - now()));
    if (mono < 0) return boot;
    if (boot < 0) return mono;
    return std::min(mono, boot);
}

void ManualQueue::suspend(double seconds) {
    if (seconds > 0) clock_.suspend(seconds);
    runPending();
}

void ManualQueue::advance(double seconds) {
    const double target = now() + seconds;
    runPending();
    for (;;) {
        double due = nextDue();
        if (due < 0 || due > target) break;
        if (due > now()) clock_.advance(due - now());
        runPending();
    }
    if (target > now()) clock_.advance(target - now());
    runPending();
}

bool ManualQueue::waitUntil(const std::function<bool()>& pred, double realSeconds) {
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(realSeconds));
    for (;;) {
        runPending();
        if (pred()) return true;
        std::unique_lock lock(waitMutex_);
        const auto step = std::chrono::steady_clock::now() + std::chrono::milliseconds(5);
        if (arrived_.wait_until(lock, step < deadline ? step : deadline) == std::cv_status::timeout &&
            std::chrono::steady_clock::now() >= deadline) {
            lock.unlock();
            runPending();
            return pred();
        }
    }
}

// LoopQueue

LoopQueue::LoopQueue() : owner_(std::this_thread::get_id()), wakeFd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    if (wakeFd_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
}

LoopQueue::~LoopQueue() { ::close(wakeFd_); }

void LoopQueue::wake() {
    const std::uint64_t one = 1;
    while (::write(wakeFd_, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void LoopQueue::post(Task fn) {
    tasks_.push(std::move(fn));
    wake();
}

TaskHandle LoopQueue::postAfter(double seconds, Task fn) {
    if (!(seconds > 0)) seconds = 0;
    auto h = tasks_.pushAt(now() + seconds, std::move(fn));
    wake();
    return h;
}

TaskHandle LoopQueue::postAfterBoot(double seconds, Task fn) {
    if (!(seconds > 0)) seconds = 0;
    auto h = bootTasks_.pushAt(appClock().boottime() + seconds, std::move(fn));
    wake();
    return h;
}

double LoopQueue::now() const { return appClock().monotonic(); }

void LoopQueue::run() {
    owner_.store(std::this_thread::get_id());
    quit_.store(false);
    while (!quit_.load()) {
        Task t;
        if (tasks_.takeReady(now(), t) || bootTasks_.takeReady(appClock().boottime(), t)) {
            t();
            continue;
        }
        // Sleep until a post, the next monotonic timer, or the boot-time timer (which also ends the sleep
        // when the machine wakes past it).
        const double bootDue = bootTasks_.nextDue();
        if (bootDue >= 0)
            bootTimer_.armAt(bootDue);
        else
            bootTimer_.disarm();
        const double due = tasks_.nextDue();
        timespec timeout{};
        if (due >= 0) {
            const double wait = std::max(0.0, due - now());
            timeout.tv_sec = time_t(wait);
            timeout.tv_nsec = long((wait - double(timeout.tv_sec)) * 1e9);
        }
        pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {bootTimer_.fd(), POLLIN, 0}};
        if (::ppoll(fds, 2, due >= 0 ? &timeout : nullptr, nullptr) <= 0) continue;
        if (fds[0].revents & POLLIN) {
            std::uint64_t posts = 0;
            [[maybe_unused]] const auto n = ::read(wakeFd_, &posts, sizeof posts);
        }
        if (fds[1].revents & POLLIN) bootTimer_.acknowledge();
    }
}

void LoopQueue::quit() {
    quit_.store(true);
    wake();
}

ScopedMainQueue::ScopedMainQueue(MainQueue& q) : previous_(installed.load()), previousClock_(&appClock()) {
    setMainQueue(&q);
}

ScopedMainQueue::ScopedMainQueue(ManualQueue& q)
    : previous_(installed.load()), previousClock_(&appClock()), clockSet_(true) {
    setMainQueue(&q);
    setAppClock(&q.clock());
}

ScopedMainQueue::~ScopedMainQueue() {
    setMainQueue(previous_);
    if (clockSet_) setAppClock(previousClock_);
}

}  // namespace ombry
