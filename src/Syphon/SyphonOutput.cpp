#include "Syphon/SyphonOutput.hpp"

#include "Engine/Issues.hpp"
#include "Platform/Gpu/Readback.hpp"

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

void SyphonOutput::publish(const GpuRenderTarget& stage) {
    if (!server_) return;
    if (!readback_) readback_ = std::make_unique<GpuReadback>();
    readback_->request(stage);
    publishFinished(false);
}

void SyphonOutput::flush() {
    if (server_ && readback_) publishFinished(true);
}

void SyphonOutput::publishFinished(bool wait) {
    readback_->poll(
        [&](const ReadbackFrame& f) {
            publishWhole(*server_, {f.pixels, f.width, f.height, f.stride, SyphonPixelFormat::bgra8});
        },
        wait);
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
