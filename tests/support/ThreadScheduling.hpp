#pragma once
// How the calling thread is scheduled: for tests of threads that ask for a raised priority.
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>

namespace ombry::test {

struct Scheduling {
    int policy = -1;
    int priority = -1;
    int nice = 0;
};

inline Scheduling schedulingOfThisThread() {
    Scheduling s;
    sched_param p{};
    pthread_getschedparam(pthread_self(), &s.policy, &p);
    s.priority = p.sched_priority;
    errno = 0;  // -1 is a valid nice value
    s.nice = getpriority(PRIO_PROCESS, id_t(gettid()));
    return s;
}

}  // namespace ombry::test
