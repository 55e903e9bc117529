#pragma once
#include <functional>
#include <memory>
#include <string>

#include "Syphon/SyphonServer.hpp"


namespace ombry {

class GpuReadback;
class GpuRenderTarget;

// The program's frame-sharing output: one server, created when the output is switched on and stopped when
// it is switched off (destroyed). Made on the main thread.
class SyphonOutput {
public:
    // The key under which the renderer calls the consumer.
    static constexpr const char* consumerKey = "syphon";

    // Starts the server; on success resolves "OUT-02" and notes the start, on failure reports "OUT-02" and
    // leaves `server()` null (frames are then ignored).
    explicit SyphonOutput(const std::string& name);
    // On the GPU context's thread when frames came from the GPU (its copies are GL objects).
    ~SyphonOutput();
    SyphonOutput(const SyphonOutput&) = delete;
    SyphonOutput& operator=(const SyphonOutput&) = delete;

    const std::shared_ptr<SyphonServer>& server() const { return server_; }

    // The renderer's consumer body: queues an asynchronous copy of the composed stage and publishes every
    // copy the GPU has finished since (so a frame reaches clients a frame or two after it was composed).
    // Never waits; a copy that finds every buffer busy is dropped. Frame loop thread, context current.
    void publish(const GpuRenderTarget& stage);
    // Publishes the copies still queued, waiting for them (when switching off, and in tests).
    void flush();

    // Publishes one composed frame held in memory (the whole frame, flipped as clients expect).
    void publish(const SyphonFrame& frame) const;
    // The composite consumer: callable from any thread, also after the output is gone (then it does nothing).
    std::function<void(const SyphonFrame&)> consumer() const;

private:
    void publishFinished(bool wait);
    std::shared_ptr<SyphonServer> server_;
    std::unique_ptr<GpuReadback> readback_;
};

}  // namespace ombry
