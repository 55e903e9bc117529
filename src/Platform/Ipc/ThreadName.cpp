#include "Platform/Ipc/ThreadName.hpp"

#include <pthread.h>

namespace ombry {

namespace {
thread_local std::string fullName;
}

void setCurrentThreadName(const std::string& name) {
    fullName = name;
    ::pthread_setname_np(::pthread_self(), name.substr(0, 15).c_str());
}

const std::string& currentThreadName() { return fullName; }

}  // namespace ombry
