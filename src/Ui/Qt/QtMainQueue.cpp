#include "Ui/Qt/QtMainQueue.hpp"

#include <QThread>
#include <QTimer>

#include <cmath>

namespace ombry::ui {

QtMainQueue::QtMainQueue() : bootNotifier_(bootTimer_.fd(), QSocketNotifier::Read) {
    connect(&bootNotifier_, &QSocketNotifier::activated, this, [this] { runDueBootTasks(); });
}

void QtMainQueue::post(Task fn) {
    QMetaObject::invokeMethod(this, [fn = std::move(fn)] { fn(); }, Qt::QueuedConnection);
}

TaskHandle QtMainQueue::postAfter(double seconds, Task fn) {
    auto cancelled = std::make_shared<std::atomic<bool>>(false);
    if (isMainThread()) {
        startTimer(seconds, cancelled, std::move(fn));
    } else {
        QMetaObject::invokeMethod(
            this, [this, seconds, cancelled, fn = std::move(fn)]() mutable { startTimer(seconds, cancelled, std::move(fn)); },
            Qt::QueuedConnection);
    }
    return TaskHandle(cancelled);
}

void QtMainQueue::startTimer(double seconds, const std::shared_ptr<std::atomic<bool>>& cancelled, Task fn) {
    const int ms = seconds > 0 ? int(std::lround(seconds * 1000.0)) : 0;
    QTimer::singleShot(ms, Qt::PreciseTimer, this, [cancelled, fn = std::move(fn)] {
        if (!cancelled->load()) fn();
    });
}

TaskHandle QtMainQueue::postAfterBoot(double seconds, Task fn) {
    if (!(seconds > 0)) seconds = 0;
    TaskHandle h = bootTasks_.pushAt(appClock().boottime() + seconds, std::move(fn));
    if (isMainThread())
        armBootTimer();
    else
        QMetaObject::invokeMethod(this, [this] { armBootTimer(); }, Qt::QueuedConnection);
    return h;
}

void QtMainQueue::armBootTimer() {
    const double due = bootTasks_.nextDue();
    if (due < 0)
        bootTimer_.disarm();
    else
        bootTimer_.armAt(due);
}

void QtMainQueue::runDueBootTasks() {
    bootTimer_.acknowledge();
    Task t;
    while (bootTasks_.takeReady(appClock().boottime(), t)) {
        t();
        t = nullptr;
    }
    armBootTimer();
}

double QtMainQueue::now() const { return appClock().monotonic(); }

bool QtMainQueue::isMainThread() const { return QThread::currentThread() == thread(); }

}  // namespace ombry::ui
