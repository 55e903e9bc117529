// Posts to the web service: each on the one service worker, its result back on the main queue.
#include "App/AppState.hpp"
#include "Platform/WorkerPool.hpp"

namespace ombry {

void AppState::postToService(ServiceClient client, std::string path, Json body, std::function<void(ServiceResult)> done) {
    if (!serviceWorker_) serviceWorker_ = std::make_unique<WorkerPool>(1, "service");
    const std::atomic<bool>* stop = &serviceWorker_->stopFlag();
    serviceWorker_->submit([stop, toMain = onMainWhileAlive(), client = std::move(client), path = std::move(path),
                            body = std::move(body), done = std::move(done)] {
        auto result = std::make_shared<ServiceResult>(client.post(path, body, [stop] { return stop->load(); }));
        toMain([done, result] { done(std::move(*result)); });
    });
}

}  // namespace ombry
