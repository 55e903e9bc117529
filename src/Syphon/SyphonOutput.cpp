#include "Syphon/SyphonOutput.hpp"

#include "Engine/Issues.hpp"

namespace ombry {

namespace {
void publishWhole(SyphonServer& server, const SyphonFrame& frame) {
    server.publishFrame(frame, {0, 0, frame.width, frame.height}, true);
}
}  // namespace

SyphonOutput::SyphonOutput(const std::string& name) : server_(SyphonServer::create(name)) {
    if (server_) {
        IssueLog::shared().resolve(IssueCode::syphonFailed);
        Diag::note("OUT", "Syphon server started as " + name);
    } else {
        IssueLog::shared().report(IssueCode::syphonFailed, std::nullopt, std::nullopt, true);
    }
}

SyphonOutput::~SyphonOutput() {
    if (server_) server_->stop();
}

void SyphonOutput::publish(const SyphonFrame& frame) const {
    if (server_) publishWhole(*server_, frame);
}

std::function<void(const SyphonFrame&)> SyphonOutput::consumer() const {
    return [weak = std::weak_ptr<SyphonServer>(server_)](const SyphonFrame& frame) {
        if (auto server = weak.lock()) publishWhole(*server, frame);
    };
}

}  // namespace ombry
