#pragma once
// SIGTERM and SIGINT end the application through its orderly shutdown: the handler only writes a byte into
// a pipe, whose reading end the event loop watches.
#include <QObject>

#include <functional>

class QSocketNotifier;

namespace ombry::ui {

class QuitSignals final : public QObject {
public:
    // Installs the handlers; `onSignal` runs on the GUI thread, once per signal received.
    explicit QuitSignals(std::function<void(int signal)> onSignal, QObject* parent = nullptr);
    ~QuitSignals() override;  // restores the default handlers

private:
    std::function<void(int)> onSignal_;
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace ombry::ui
