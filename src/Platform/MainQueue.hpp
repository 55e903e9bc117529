#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "Platform/BootTimer.hpp"
#include "Platform/Clock.hpp"

namespace ombry {

using Task = std::function<void()>;

// Cancels a delayed task. Copies share one flag; cancelling after the task ran does nothing.
class TaskHandle {
public:
    TaskHandle() = default;
    explicit TaskHandle(std::shared_ptr<std::atomic<bool>> flag) : flag_(std::move(flag)) {}
    void cancel() const {
        if (flag_) flag_->store(true);
    }
    bool cancelled() const { return flag_ && flag_->load(); }
    bool valid() const { return bool(flag_); }

private:
    std::shared_ptr<std::atomic<bool>> flag_;
};

// The main thread's queue: all model state is touched only from tasks run here.
// post and postAfter may be called from any thread.
class MainQueue {
public:
    virtual ~MainQueue() = default;
    virtual void post(Task fn) = 0;
    virtual TaskHandle postAfter(double seconds, Task fn) = 0;
    // Like postAfter, on the boot-time clock: time the machine spends asleep counts towards the delay, so a
    // wait that spans a suspend ends on time in the world (or at once on waking when it is already due).
    virtual TaskHandle postAfterBoot(double seconds, Task fn) = 0;
    // Monotonic seconds of the queue's clock.
    virtual double now() const = 0;
    virtual bool isMainThread() const = 0;
};

// The process queue, installed with setMainQueue. With none installed (before start-up or after exit) posts are
// dropped and their delayed handles come back cancelled.
MainQueue& mainQueue();
void setMainQueue(MainQueue* q);
bool hasMainQueue();

// Timers and posted tasks kept in order; shared by the concrete queues.
class TaskList {
public:
    void push(Task fn);
    TaskHandle pushAt(double due, Task fn);
    // Takes the next task runnable at `now`: posted tasks first, then the earliest due timer.
    bool takeReady(double now, Task& out);
    // Due time of the earliest live timer, or a negative value when none.
    double nextDue();
    bool empty();

private:
    struct Timer {
        std::shared_ptr<std::atomic<bool>> cancelled;
        Task fn;
    };
    std::mutex mutex_;
    std::deque<Task> posted_;
    std::multimap<std::pair<double, uint64_t>, Timer> timers_;
    uint64_t seq_ = 0;
};

// Virtual-time queue for tests: nothing runs until the test says so.
class ManualQueue final : public MainQueue {
public:
    ManualQueue();
    ~ManualQueue() override;
    void post(Task fn) override;
    TaskHandle postAfter(double seconds, Task fn) override;
    TaskHandle postAfterBoot(double seconds, Task fn) override;
    double now() const override { return clock_.monotonic(); }
    bool isMainThread() const override { return std::this_thread::get_id() == owner_; }

    // Runs everything that is due now, including what those tasks post.
    void runPending();
    // Moves virtual time forward, running each timer at its due time, in order.
    void advance(double seconds);
    // The machine sleeps for `seconds` and wakes: only boot-time timers see the time pass; those that fell
    // due meanwhile run on waking.
    void suspend(double seconds);
    // For work finished on real threads: runs posted tasks as they arrive until pred() holds
    // or `realSeconds` of real time pass. Virtual time does not move.
    bool waitUntil(const std::function<bool()>& pred, double realSeconds = 10.0);
    ManualClock& clock() { return clock_; }

private:
    // The earliest timer of either clock, in monotonic seconds; negative when none.
    double nextDue();

    ManualClock clock_;
    TaskList tasks_;
    TaskList bootTasks_;
    std::thread::id owner_;
    std::mutex waitMutex_;
    std::condition_variable arrived_;
};

// A plain run loop for headless processes: the thread that calls run() is the main thread.
class LoopQueue final : public MainQueue {
public:
    LoopQueue();
    ~LoopQueue() override;
    LoopQueue(const LoopQueue&) = delete;
    LoopQueue& operator=(const LoopQueue&) = delete;
    void post(Task fn) override;
    TaskHandle postAfter(double seconds, Task fn) override;
    TaskHandle postAfterBoot(double seconds, Task fn) override;
    double now() const override;
    bool isMainThread() const override { return std::this_thread::get_id() == owner_.load(); }
    // Runs until quit() is called.
    void run();
    void quit();

private:
    void wake();

    TaskList tasks_;
    TaskList bootTasks_;
    std::atomic<std::thread::id> owner_;
    std::atomic<bool> quit_{false};
    int wakeFd_ = -1;  // an eventfd written by every post, so run() never sleeps past one
    BootTimer bootTimer_;
};

// Installs a queue (and its clock, for a ManualQueue) for the life of a scope; restores the previous one.
class ScopedMainQueue {
public:
    explicit ScopedMainQueue(MainQueue& q);
    explicit ScopedMainQueue(ManualQueue& q);
    ~ScopedMainQueue();
    ScopedMainQueue(const ScopedMainQueue&) = delete;
    ScopedMainQueue& operator=(const ScopedMainQueue&) = delete;

private:
    MainQueue* previous_;
    Clock* previousClock_;
    bool clockSet_ = false;
};

}  // namespace ombry
