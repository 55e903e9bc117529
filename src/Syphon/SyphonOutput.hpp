#pragma once
#include <functional>
#include <memory>
#include <string>

#include "Syphon/SyphonServer.hpp"

namespace ombry {

class GpuContext;
class GpuRenderTarget;
class GpuThreadedReadback;

// The program's frame-sharing output: one server, created when the output is switched on and stopped when
// it is switched off (destroyed). Made on the main thread.
class SyphonOutput {
public:
    // The key under which the renderer calls the consumer.
    static constexpr const char* consumerKey = "syphon";

    // Starts the server; on success resolves "OUT-02" and notes the start, on failure reports "OUT-02" and
    // leaves `server()` null (frames are then ignored). `context` is the compositor's (null for frames in
    // memory only); it must outlive the output.
    explicit SyphonOutput(const std::string& name, GpuContext* context = nullptr);
    // On the GPU context's thread when frames came from the GPU (its copies are GL objects).
    ~SyphonOutput();
    SyphonOutput(const SyphonOutput&) = delete;
    SyphonOutput& operator=(const SyphonOutput&) = delete;

    const std::shared_ptr<SyphonServer>& server() const { return server_; }

    // The renderer's consumer body: queues a GPU copy of the composed stage; a worker on a context shared
    // with the compositor reads it into the shared surface as soon as the GPU has drawn it and tells the
    // clients, so they get the frame of this tick and the frame loop pays only for queuing the copy. A
    // copy that finds every buffer busy is dropped. Frame loop thread, context current.
    void publish(const GpuRenderTarget& stage);
    // Waits until the copies queued so far have reached the clients (when switching off, and in tests).
    void flush();
    // Frames from the GPU that reached the surface so far.
    uint64_t framesPublished() const;

    // Publishes one composed frame held in memory (the whole frame, flipped as clients expect).
    void publish(const SyphonFrame& frame) const;
    // The composite consumer: callable from any thread, also after the output is gone (then it does nothing).
    std::function<void(const SyphonFrame&)> consumer() const;

private:
    std::shared_ptr<SyphonServer> server_;
    GpuContext* context_ = nullptr;
    std::unique_ptr<GpuThreadedReadback> readback_;
    bool readbackTried_ = false;
    uint64_t readInPlace_ = 0;  // frames read on the frame loop's thread, where no worker could start
};

}  // namespace ombry
