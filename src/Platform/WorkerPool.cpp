#include "Platform/WorkerPool.hpp"

#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

namespace ombry {

WorkerPool::WorkerPool(int threads, std::string name, int niceness) : name_(std::move(name)), niceness_(niceness) {
    for (int i = 0; i < std::max(threads, 1); ++i) threads_.emplace_back([this] { run(); });
}

WorkerPool::~WorkerPool() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        jobs_.clear();
    }
    wake_.notify_all();
    for (auto& t : threads_) t.join();
}

void WorkerPool::submit(std::function<void()> job) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_) return;
        jobs_.push_back(std::move(job));
    }
    wake_.notify_one();
}

void WorkerPool::run() {
    pthread_setname_np(pthread_self(), name_.substr(0, 15).c_str());
    if (niceness_ > 0) ::setpriority(PRIO_PROCESS, ::gettid(), niceness_);
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
        if (stopping_) return;
        auto job = std::move(jobs_.front());
        jobs_.pop_front();
        lock.unlock();
        job();
        lock.lock();
    }
}

}  // namespace ombry
