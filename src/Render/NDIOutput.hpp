#pragma once
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Platform/Gpu/GlObjects.hpp"
#include "Platform/Gpu/Readback.hpp"
#include "Platform/Ndi/NdiRuntime.hpp"
#include "Render/Audio/ProgramAudioBus.hpp"
#include "Render/NativeStageRenderer.hpp"
#include "Render/StageCompositor.hpp"

namespace ombry {

// The two layouts a frame goes out in.
enum class NDIWire {
    uyva,  // "UYVA": UYVY 4:2:2 rows of width x 2 bytes, then an alpha plane of width bytes a row
    bgra,  // "BGRA": rows of width x 4 bytes, straight alpha
};

// One converted frame as the runtime takes it. For "UYVA" the alpha plane follows the colour plane directly.
struct NDIWireFrame {
    NDIWire wire = NDIWire::bgra;
    int width = 0;
    int height = 0;
    int stride = 0;  // bytes a row of the (colour) plane
    const uint8_t* data = nullptr;
    size_t size = 0;  // bytes of the whole frame
    int fps = 1;
};

// The GPU half of the NDI output: converts the composed stage into the wire layout with fragment passes
// and reads the result back asynchronously. Main thread, with the compositor's context current.
class NDIFrameConverter {
public:
    // Builds the conversion pipelines; one that cannot be built is absent (see convertsYCbCr()).
    explicit NDIFrameConverter(StageCompositor& compositor, int readbackDepth = 1);

    bool convertsYCbCr() const { return bool(uyvyPass_) && bool(alphaPass_); }
    // "UYVA" when the YCbCr passes exist and the width is even, else "BGRA".
    NDIWire wireFor(int width) const;
    // (Kr, Kb): BT.601 up to 576 rows, BT.709 above.
    static std::array<float, 2> colourMatrix(int height);

    // Draws the conversion of `frame` and queues its readback; never waits. False (nothing queued) when
    // the frame is empty, a target cannot be made or every readback buffer is still busy.
    bool stage(const GpuRenderTarget& frame, int fps);

    // Hands every finished frame, oldest first, to `consume(const NDIWireFrame&)`; its bytes are valid
    // only during the call. With `wait` it blocks until the queued frames are done (shutdown, tests).
    template <class F>
    int poll(F&& consume, bool wait = false) {
        return readback_.poll(
            [&](const ReadbackFrame& r) {
                NDIWireFrame f;
                if (takeStaged(r, f)) consume(static_cast<const NDIWireFrame&>(f));
            },
            wait);
    }
    int pending() const { return readback_.pending(); }

private:
    struct Staged {
        uint64_t tag = 0;
        NDIWire wire = NDIWire::bgra;
        int width = 0, height = 0, fps = 1;
    };
    bool takeStaged(const ReadbackFrame& r, NDIWireFrame& out);
    bool ensureTarget(GpuRenderTarget& target, int width, int height);
    void bindPass(const GpuRenderTarget& target, int y, int width, int height);

    StageCompositor& compositor_;
    std::unique_ptr<StagePipeline> uyvyPass_, alphaPass_, straightAlphaPass_;
    GLint krkb_ = -1, frameSize_ = -1, alphaTop_ = -1;
    GpuRenderTarget uyvaTarget_;  // colour plane rows, then the alpha plane packed four bytes a texel
    GpuRenderTarget bgraTarget_;
    GpuReadback readback_;
    std::vector<Staged> staged_;
    uint64_t frames_ = 0;
};

// The NDI source: the runtime's send instance behind one lock, the sending thread for video, and the sink
// of the program audio bus. Made only by create().
class NDISender final : public NDIAudioSink {
public:
    // Loads and initialises the runtime and creates the source "Ombry - <name>". When any step fails it
    // reports "OUT-01" and gives nothing; on success it resolves that issue.
    static std::shared_ptr<NDISender> create(const std::string& name);
    ~NDISender() override;
    NDISender(const NDISender&) = delete;
    NDISender& operator=(const NDISender&) = delete;

    const std::string& sourceName() const { return name_; }

    // Main thread. Asks the runtime at most once a second (`now` on the media clock); in between, and
    // while a send holds the runtime, the last answer. False once stopped.
    bool receiversConnected(double now);

    // The one frame in flight: taken when a frame is accepted for conversion, released when its send has
    // finished (or when it is given up).
    bool tryBeginFrame();
    void abandonFrame();
    bool frameInFlight() const { return inFlight_.load(std::memory_order_acquire); }

    // Main thread, for the frame in flight: copies its bytes and hands them to the sending thread, which
    // sends them and then releases the frame. Dropped (and released) after stop().
    void sendVideo(const NDIWireFrame& frame);
    // Blocks until no frame is in flight, for at most `seconds` (shutdown, tests). False on time-out.
    bool waitIdle(double seconds = 5.0);

    // Destroys the send instance; every later send and poll does nothing. Idempotent.
    void stop();

    // Bus thread: one block of 480 stereo frames at 48 kHz, planar.
    void sendAudio(const float* block) override;

private:
    struct AlignedFree {
        void operator()(uint8_t* p) const;
    };
    NDISender(std::shared_ptr<ndi::Runtime> runtime, ndi::SendInstance instance, std::string name);
    void videoLoop();
    void finishFrame();

    std::shared_ptr<ndi::Runtime> runtime_;
    ndi::SendInstance instance_ = nullptr;
    const std::string name_;
    std::mutex sendLock_;   // every call into the instance, and scratch_ once the frame is handed over
    bool destroyed_ = false;

    std::unique_ptr<uint8_t, AlignedFree> scratch_;
    size_t scratchSize_ = 0;
    NDIWireFrame staged_;  // what scratch_ holds

    std::atomic<bool> inFlight_{false};
    bool hasReceivers_ = false;
    double lastConnectionCheck_ = 0;

    std::mutex queueMutex_;
    std::condition_variable queueChanged_;
    bool ready_ = false;
    bool quit_ = false;
    std::mutex idleMutex_;
    std::condition_variable idle_;
    std::thread videoThread_;
};

// Publishes the program as the NDI source "Ombry - <name>": the renderer's "ndi" consumer hands it every
// composed frame, which goes out only while a receiver is connected, never faster than the stage frame
// rate and never while the previous frame is still in flight. Main thread, with the compositor's context
// current; the compositor outlives it.
class NDIOutput {
public:
    // The key under which the renderer calls the consumer.
    static constexpr const char* consumerKey = "ndi";

    NDIOutput(StageCompositor& compositor, const std::string& name);
    ~NDIOutput();
    NDIOutput(const NDIOutput&) = delete;
    NDIOutput& operator=(const NDIOutput&) = delete;

    // The "ndi" composite consumer: the composed stage and the stage frame rate, right after composing.
    void publish(const GpuRenderTarget& frame, int fps);
    // publish() as the renderer's consumer; does nothing once the output is gone.
    CompositeConsumer consumer() const;

    // The sender, to attach to the program audio bus and to stop when NDI is switched off; none when the
    // runtime could not be started (then nothing is ever published).
    const std::shared_ptr<NDISender>& sender() const { return sender_; }

    // Blocks until the frame in flight, if any, has been read back and sent (shutdown, tests).
    void finishPending();

private:
    void collect(bool wait);
    void schedulePoll();

    std::shared_ptr<NDISender> sender_;
    double lastSendTime_ = 0;
    StageCompositor& compositor_;
    NDIFrameConverter converter_;
    bool awaitingReadback_ = false;
    bool pollScheduled_ = false;
    std::shared_ptr<NDIOutput*> self_;  // lets a scheduled poll notice that the output is gone
};

}  // namespace ombry
