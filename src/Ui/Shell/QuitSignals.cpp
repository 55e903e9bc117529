#include "Ui/Shell/QuitSignals.hpp"

#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace ombry::ui {

namespace {

int pipeFds[2] = {-1, -1};

extern "C" void onQuitSignal(int signal) {
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] auto n = ::write(pipeFds[1], &byte, 1);  // a full pipe already holds a quit request
    errno = saved;
}

}  // namespace

QuitSignals::QuitSignals(std::function<void(int)> onSignal, QObject* parent)
    : QObject(parent), onSignal_(std::move(onSignal)) {
    if (pipeFds[0] < 0 && ::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) return;
    notifier_ = new QSocketNotifier(pipeFds[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        unsigned char bytes[16];
        ssize_t n;
        while ((n = ::read(pipeFds[0], bytes, sizeof bytes)) > 0)
            for (ssize_t i = 0; i < n; ++i)
                if (onSignal_) onSignal_(bytes[i]);
    });
    struct sigaction sa{};
    sa.sa_handler = onQuitSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);
}

QuitSignals::~QuitSignals() {
    ::signal(SIGTERM, SIG_DFL);
    ::signal(SIGINT, SIG_DFL);
}

}  // namespace ombry::ui
