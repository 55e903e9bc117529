#include "Platform/ThreadPriority.hpp"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "Platform/Log.hpp"

namespace ombry::platform {
namespace {

// Low real-time priorities: above every normal thread, below the kernel's and the sound server's own
// threads, within what rtkit-style limits usually grant. Sound outranks pictures.
int realtimePriority(ThreadRole role) { return role == ThreadRole::audio ? 10 : 5; }
int niceValue(ThreadRole role) { return role == ThreadRole::audio ? -11 : -6; }

const char* roleName(ThreadRole role) { return role == ThreadRole::audio ? "audio" : "presenter"; }
const char* category(ThreadRole role) { return role == ThreadRole::audio ? "AUD" : "OUT"; }

}  // namespace

PriorityResult raiseThreadPriority(ThreadRole role) {
    sched_param param{};
    param.sched_priority = std::clamp(realtimePriority(role), sched_get_priority_min(SCHED_FIFO),
                                      sched_get_priority_max(SCHED_FIFO));
    const int rt = pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
    if (rt == 0) return PriorityResult::realtime;
    // Linux keeps a nice value per thread: PRIO_PROCESS with the thread id changes this thread only.
    const id_t tid = id_t(gettid());
    errno = 0;
    const int current = getpriority(PRIO_PROCESS, tid);
    const int wanted = niceValue(role);
    if (errno == 0 && current <= wanted) return PriorityResult::nice;
    if (setpriority(PRIO_PROCESS, tid, wanted) == 0) return PriorityResult::nice;
    logLine(LogLevel::debug, category(role),
            std::string("no raised priority for the ") + roleName(role) + " thread: " + std::strerror(rt), false);
    return PriorityResult::unchanged;
}

}  // namespace ombry::platform
