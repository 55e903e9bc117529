#include "Platform/BootTimer.hpp"

#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <system_error>

namespace ombry {

BootTimer::BootTimer() : fd_(::timerfd_create(CLOCK_BOOTTIME, TFD_NONBLOCK | TFD_CLOEXEC)) {
    if (fd_ < 0) throw std::system_error(errno, std::generic_category(), "timerfd_create(CLOCK_BOOTTIME)");
}

BootTimer::~BootTimer() { ::close(fd_); }

void BootTimer::armAt(double due) {
    itimerspec when{};
    // Zero would disarm: the earliest time stands for "now" instead.
    if (!(due > 1e-9)) due = 1e-9;
    double whole = 0;
    const double frac = std::modf(due, &whole);
    when.it_value.tv_sec = time_t(whole);
    when.it_value.tv_nsec = long(frac * 1e9);
    if (when.it_value.tv_nsec >= 1000000000L) when.it_value.tv_nsec = 999999999L;
    ::timerfd_settime(fd_, TFD_TIMER_ABSTIME, &when, nullptr);
}

void BootTimer::disarm() {
    itimerspec when{};
    ::timerfd_settime(fd_, TFD_TIMER_ABSTIME, &when, nullptr);
}

void BootTimer::acknowledge() {
    std::uint64_t expiries = 0;
    while (::read(fd_, &expiries, sizeof expiries) < 0 && errno == EINTR) {
    }
}

}  // namespace ombry
