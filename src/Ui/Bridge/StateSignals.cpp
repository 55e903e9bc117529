#include "Ui/Bridge/StateSignals.hpp"

#include <QThread>

#include "Ui/Bridge/Ticker.hpp"

namespace ombry::ui {

StateSignals::StateSignals(AppState& state, QObject* parent) : QObject(parent), state_(state) {
    qRegisterMetaType<ombry::Aspect>();
    subscription_ = state_.observe([this](Aspect aspect) {
        // The state lives on the main thread; a report from elsewhere is carried over as a queued event.
        if (QThread::currentThread() == thread())
            emit changed(aspect);
        else
            QMetaObject::invokeMethod(this, [this, aspect] { emit changed(aspect); }, Qt::QueuedConnection);
    });
}

Ticker& StateSignals::ticker() {
    if (!ticker_) ticker_ = new Ticker(*this, this);
    return *ticker_;
}

}  // namespace ombry::ui
