#include "Engine/Servers/LocalNetworkPrompt.hpp"

#include <mutex>
#include <thread>

namespace ombry {
namespace {

std::mutex lock;
bool triggered = false;
std::function<void()> sender = [] {};

}  // namespace

void LocalNetworkPrompt::trigger() {
    std::function<void()> send;
    {
        std::lock_guard guard(lock);
        if (triggered) return;
        triggered = true;
        send = sender;
    }
    std::thread(std::move(send)).detach();
}

void LocalNetworkPrompt::setSender(std::function<void()> s) {
    std::lock_guard guard(lock);
    sender = std::move(s);
}

}  // namespace ombry
