#pragma once
#include <functional>
#include <memory>
#include <string>

#include "Syphon/SyphonServer.hpp"

namespace ombry {

// The program's frame-sharing output: one server, created when the output is switched on and stopped when
// it is switched off (destroyed). Made on the main thread.
class SyphonOutput {
public:
    // The key under which the renderer calls the consumer.
    static constexpr const char* consumerKey = "syphon";

    // Starts the server; on success resolves "OUT-02" and notes the start, on failure reports "OUT-02" and
    // leaves `server()` null (frames are then ignored).
    explicit SyphonOutput(const std::string& name);
    ~SyphonOutput();
    SyphonOutput(const SyphonOutput&) = delete;
    SyphonOutput& operator=(const SyphonOutput&) = delete;

    const std::shared_ptr<SyphonServer>& server() const { return server_; }

    // Publishes one composed frame (the whole frame, flipped as clients expect).
    void publish(const SyphonFrame& frame) const;
    // The composite consumer: callable from any thread, also after the output is gone (then it does nothing).
    std::function<void(const SyphonFrame&)> consumer() const;

private:
    std::shared_ptr<SyphonServer> server_;
};

}  // namespace ombry
