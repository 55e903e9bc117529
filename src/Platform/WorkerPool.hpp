#pragma once
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ombry {

// A few named background threads working through a queue, first in first out. Destroying the pool stops
// taking jobs, raises stopFlag() for long ones, and waits for the jobs in flight; queued ones are dropped.
class WorkerPool {
public:
    // `niceness` above 0 lowers the threads' priority (utility work).
    WorkerPool(int threads, std::string name, int niceness = 0);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    void submit(std::function<void()> job);
    const std::atomic<bool>& stopFlag() const { return stopping_; }

private:
    void run();

    std::string name_;
    int niceness_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
    std::atomic<bool> stopping_{false};
    std::vector<std::thread> threads_;
};

}  // namespace ombry
