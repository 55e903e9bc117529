#pragma once
#include <QObject>
#include <QSocketNotifier>

#include "Platform/MainQueue.hpp"

namespace ombry::ui {

// The main queue on Qt's event loop: posted tasks run as queued events, delayed ones on precise timers.
// Made on the main thread, after the QApplication.
class QtMainQueue final : public QObject, public MainQueue {
public:
    QtMainQueue();
    void post(Task fn) override;
    TaskHandle postAfter(double seconds, Task fn) override;
    // Qt's timers stop counting while the machine sleeps; these wait on the boot-time clock instead.
    TaskHandle postAfterBoot(double seconds, Task fn) override;
    double now() const override;
    bool isMainThread() const override;

private:
    void startTimer(double seconds, const std::shared_ptr<std::atomic<bool>>& cancelled, Task fn);
    void armBootTimer();
    void runDueBootTasks();

    TaskList bootTasks_;
    BootTimer bootTimer_;
    QSocketNotifier bootNotifier_;
};

}  // namespace ombry::ui
