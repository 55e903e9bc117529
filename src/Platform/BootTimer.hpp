#pragma once

namespace ombry {

// A timer on the boot-time clock (CLOCK_BOOTTIME), which goes on counting while the machine sleeps: a wait
// that spans a suspend ends once its time has passed in the world, not once the processor has run that
// long. Its descriptor turns readable at the due time; the owning loop polls it.
class BootTimer {
public:
    BootTimer();
    ~BootTimer();
    BootTimer(const BootTimer&) = delete;
    BootTimer& operator=(const BootTimer&) = delete;

    int fd() const { return fd_; }
    // Fires at `due`, in seconds of the boot-time clock; a due time already past fires at once.
    void armAt(double due);
    void disarm();
    // Takes the expiry, so that the descriptor is quiet until the next one.
    void acknowledge();

private:
    int fd_ = -1;
};

}  // namespace ombry
