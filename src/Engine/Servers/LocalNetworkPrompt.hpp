#pragma once
// The local-network permission probe, once per process. Linux asks nothing before a program uses the local
// network, so the sender installed by default does nothing (and sends nothing off the machine); the latch
// stays so that callers behave as they would where a prompt exists.
#include <functional>

namespace ombry {

struct LocalNetworkPrompt {
    // Returns at once; only the first call of the process runs the sender, on a background thread.
    static void trigger();
    // Replaces the sender (tests). Call before the first trigger().
    static void setSender(std::function<void()> sender);
};

}  // namespace ombry
