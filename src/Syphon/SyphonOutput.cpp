#include "Syphon/SyphonOutput.hpp"

#include <epoxy/gl.h>

#include "Engine/Model/Issues.hpp"
#include "Platform/Gpu/GlObjects.hpp"
#include "Platform/Gpu/GpuContext.hpp"
#include "Platform/Gpu/Readback.hpp"

namespace ombry {

namespace {
void publishWhole(SyphonServer& server, const SyphonFrame& frame) {
    server.publishFrame(frame, {0, 0, frame.width, frame.height}, true);
}
}  // namespace

SyphonOutput::SyphonOutput(const std::string& name, GpuContext* context)
    : server_(SyphonServer::create(name)), context_(context) {
    if (server_) {
        IssueLog::shared().resolve(IssueCode::syphonFailed);
        Diag::note("OUT", "Syphon server started as " + name);
    } else {
        IssueLog::shared().report(IssueCode::syphonFailed, std::nullopt, std::nullopt, true);
    }
}

SyphonOutput::~SyphonOutput() {
    // The ring's textures and fences belong to the compositor's context.
    if (readback_ && context_) context_->makeCurrent();
    readback_.reset();
    if (server_) server_->stop();
}

void SyphonOutput::publish(const GpuRenderTarget& stage) {
    if (!server_ || !stage) return;
    if (!readbackTried_) {
        readbackTried_ = true;
        readback_ = GpuThreadedReadback::create(
            context_ ? context_->createShared() : nullptr,
            [server = server_](const GpuThreadedReadback::Pixels& pixels) {
                server->publishFrameWith(pixels.width(), pixels.height(), true,
                                         [&](uint8_t* dst, int bytesPerRow) { pixels.readInto(dst, bytesPerRow); });
            });
        if (!readback_) Diag::note("OUT", "Syphon frames are read on the frame loop's thread: no shared GL context");
    }
    if (readback_) {
        readback_->copy(stage);
        return;
    }
    // Texture row 0 is the stage's top, so read as it lies the picture is top-down.
    glBindFramebuffer(GL_READ_FRAMEBUFFER, stage.framebuffer());
    server_->publishFrameWith(stage.width(), stage.height(), false, [&](uint8_t* dst, int bytesPerRow) {
        glPixelStorei(GL_PACK_ALIGNMENT, 4);
        glPixelStorei(GL_PACK_ROW_LENGTH, bytesPerRow / 4);
        glReadPixels(0, 0, stage.width(), stage.height(), GL_BGRA, GL_UNSIGNED_BYTE, dst);
        glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    });
    glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
    ++readInPlace_;
}

void SyphonOutput::flush() {
    if (readback_) readback_->finish();
}

uint64_t SyphonOutput::framesPublished() const { return (readback_ ? readback_->framesRead() : 0) + readInPlace_; }

void SyphonOutput::publish(const SyphonFrame& frame) const {
    if (server_) publishWhole(*server_, frame);
}

std::function<void(const SyphonFrame&)> SyphonOutput::consumer() const {
    return [weak = std::weak_ptr<SyphonServer>(server_)](const SyphonFrame& frame) {
        if (auto server = weak.lock()) publishWhole(*server, frame);
    };
}

}  // namespace ombry
