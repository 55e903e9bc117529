#include "Ui/QtMainQueue.hpp"

#include <QThread>
#include <QTimer>

#include <cmath>

namespace ombry::ui {

QtMainQueue::QtMainQueue() = default;

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

double QtMainQueue::now() const { return appClock().monotonic(); }

bool QtMainQueue::isMainThread() const { return QThread::currentThread() == thread(); }

}  // namespace ombry::ui
