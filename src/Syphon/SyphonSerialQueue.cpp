#include "Syphon/SyphonSerialQueue.hpp"

#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>
#include <thread>

#include "Platform/Ipc/ThreadName.hpp"

namespace ombry {

struct SyphonSerialQueue::State {
    std::string label;
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> tasks;
    bool quit = false;
    std::thread thread;

    void run() {
        setCurrentThreadName(label);
        for (;;) {
            std::function<void()> task;
            {
                std::unique_lock lock(mutex);
                wake.wait(lock, [&] { return quit || !tasks.empty(); });
                if (tasks.empty()) return;
                task = std::move(tasks.front());
                tasks.pop_front();
            }
            task();
        }
    }
};

SyphonSerialQueue::SyphonSerialQueue(std::string label) : state_(std::make_shared<State>()) {
    state_->label = std::move(label);
    state_->thread = std::thread([s = state_] { s->run(); });
}

SyphonSerialQueue::~SyphonSerialQueue() {
    {
        std::lock_guard lock(state_->mutex);
        state_->quit = true;
    }
    state_->wake.notify_one();
    if (onQueue()) state_->thread.detach();  // the thread keeps the state alive until it ends
    else state_->thread.join();
}

const std::string& SyphonSerialQueue::label() const { return state_->label; }

bool SyphonSerialQueue::onQueue() const { return std::this_thread::get_id() == state_->thread.get_id(); }

void SyphonSerialQueue::async(std::function<void()> task) {
    {
        std::lock_guard lock(state_->mutex);
        state_->tasks.push_back(std::move(task));
    }
    state_->wake.notify_one();
}

void SyphonSerialQueue::sync(const std::function<void()>& task) {
    if (onQueue()) {
        task();
        return;
    }
    std::promise<void> done;
    async([&] {
        task();
        done.set_value();
    });
    done.get_future().wait();
}

}  // namespace ombry
