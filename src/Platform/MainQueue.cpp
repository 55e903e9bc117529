#include "Platform/MainQueue.hpp"

#include <cassert>
#include <chrono>
#include <stdexcept>

namespace ombry {
namespace {
std::atomic<MainQueue*> installed{nullptr};
}

MainQueue& mainQueue() {
    MainQueue* q = installed.load();
    if (!q) throw std::logic_error("no main queue installed");
    return *q;
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

void ManualQueue::runPending() {
    Task t;
    while (tasks_.takeReady(now(), t)) {
        t();
        t = nullptr;
    }
}

void ManualQueue::advance(double seconds) {
    const double target = now() + seconds;
    runPending();
    for (;;) {
        double due = tasks_.nextDue();
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

LoopQueue::LoopQueue() : owner_(std::this_thread::get_id()) {}

void LoopQueue::post(Task fn) {
    tasks_.push(std::move(fn));
    std::lock_guard lock(mutex_);
    ++generation_;
    wake_.notify_all();
}

TaskHandle LoopQueue::postAfter(double seconds, Task fn) {
    if (!(seconds > 0)) seconds = 0;
    auto h = tasks_.pushAt(now() + seconds, std::move(fn));
    std::lock_guard lock(mutex_);
    ++generation_;
    wake_.notify_all();
    return h;
}

double LoopQueue::now() const { return appClock().monotonic(); }

void LoopQueue::run() {
    owner_.store(std::this_thread::get_id());
    quit_.store(false);
    while (!quit_.load()) {
        uint64_t seen;
        {
            std::lock_guard lock(mutex_);
            seen = generation_;
        }
        Task t;
        if (tasks_.takeReady(now(), t)) {
            t();
            continue;
        }
        std::unique_lock lock(mutex_);
        if (generation_ != seen || quit_.load()) continue;
        double due = tasks_.nextDue();
        auto wait = due < 0 ? std::chrono::duration<double>(0.1) : std::chrono::duration<double>(due - now());
        if (wait.count() > 0) wake_.wait_for(lock, wait);
    }
}

void LoopQueue::quit() {
    quit_.store(true);
    std::lock_guard lock(mutex_);
    wake_.notify_all();
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
