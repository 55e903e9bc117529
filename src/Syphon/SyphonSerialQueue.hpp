#pragma once
#include <functional>
#include <memory>
#include <string>

namespace ombry {

// One thread running tasks in order. `sync` from the queue's own thread runs the task at once.
class SyphonSerialQueue {
public:
    explicit SyphonSerialQueue(std::string label);
    // Lets the thread run what is queued, then end; waits for it unless called on the queue itself.
    ~SyphonSerialQueue();
    SyphonSerialQueue(const SyphonSerialQueue&) = delete;
    SyphonSerialQueue& operator=(const SyphonSerialQueue&) = delete;

    const std::string& label() const;
    void async(std::function<void()> task);
    void sync(const std::function<void()>& task);
    bool onQueue() const;

private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace ombry
