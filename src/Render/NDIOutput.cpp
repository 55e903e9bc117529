#include "Render/NDIOutput.hpp"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include <pthread.h>

#include "Engine/Model/Issues.hpp"
#include "Platform/Clock.hpp"
#include "Platform/MainQueue.hpp"
#include "Platform/Product.hpp"

namespace ombry {

namespace {
// The full-screen quad: top-left, top-right, bottom-left, bottom-right.
constexpr QuadVertices fullScreen = {{{{-1, 1}, {0, 0}}, {{1, 1}, {1, 0}}, {{-1, -1}, {0, 1}}, {{1, -1}, {1, 1}}}};

// How often the main thread looks for a finished readback while one is queued.
constexpr double readbackPollInterval = 0.002;

std::unique_ptr<StagePipeline> buildPass(StageCompositor& compositor, const char* fragment) {
    auto built = compositor.makePipeline(fragment, false);
    if (!built) {
        Diag::note("OUT", std::string(fragment) + ": " + built.error().message);
        return nullptr;
    }
    return std::make_unique<StagePipeline>(std::move(built.value()));
}

int ceilHalf(int n) { return (n + 1) / 2; }
}  // namespace

// ---- NDIFrameConverter

NDIFrameConverter::NDIFrameConverter(StageCompositor& compositor, int readbackDepth)
    : compositor_(compositor), readback_(readbackDepth) {
    compositor_.context().makeCurrent();
    uyvyPass_ = buildPass(compositor_, "ndiUYVYFragment");
    alphaPass_ = buildPass(compositor_, "ndiAlphaFragment");
    straightAlphaPass_ = buildPass(compositor_, "ndiStraightAlphaFragment");
    if (!convertsYCbCr()) {
        uyvyPass_.reset();
        alphaPass_.reset();
        Diag::note("OUT", "NDI YCbCr conversion unavailable, publishing BGRA");
    } else {
        krkb_ = glGetUniformLocation(uyvyPass_->program(), "u_krkb");
        frameSize_ = glGetUniformLocation(alphaPass_->program(), "u_frameSize");
        alphaTop_ = glGetUniformLocation(alphaPass_->program(), "u_alphaTop");
    }
}

NDIWire NDIFrameConverter::wireFor(int width) const {
    return convertsYCbCr() && width % 2 == 0 ? NDIWire::uyva : NDIWire::bgra;
}

std::array<float, 2> NDIFrameConverter::colourMatrix(int height) {
    if (height <= 576) return {0.299f, 0.114f};
    return {0.2126f, 0.0722f};
}

bool NDIFrameConverter::ensureTarget(GpuRenderTarget& target, int width, int height) {
    if (target && target.width() == width && target.height() == height) return true;
    target = GpuRenderTarget::create(width, height);
    return bool(target);
}

void NDIFrameConverter::bindPass(const GpuRenderTarget& target, int y, int width, int height) {
    glBindFramebuffer(GL_FRAMEBUFFER, target.framebuffer());
    glViewport(0, y, width, height);
}

bool NDIFrameConverter::stage(const GpuRenderTarget& frame, int fps) {
    const int w = frame.width(), h = frame.height();
    if (!frame || w < 1 || h < 1) return false;
    const NDIWire wire = wireFor(w);
    const GpuRenderTarget* source = &frame;

    // Targets first: making one changes the texture binding.
    if (wire == NDIWire::uyva && !ensureTarget(uyvaTarget_, w / 2, h + ceilHalf(h))) return false;
    if (wire == NDIWire::bgra && straightAlphaPass_ && !ensureTarget(bgraTarget_, w, h)) return false;

    glDisable(GL_SCISSOR_TEST);
    glDisable(GL_DEPTH_TEST);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, frame.texture());
    if (wire == NDIWire::uyva) {
        // Colour rows 0..h-1, then the alpha plane: two alpha rows in each further row of the target.
        const auto k = colourMatrix(h);
        glUseProgram(uyvyPass_->program());
        glUniform2f(krkb_, k[0], k[1]);
        bindPass(uyvaTarget_, 0, w / 2, h);
        compositor_.drawQuad(*uyvyPass_, fullScreen);
        glUseProgram(alphaPass_->program());
        glUniform2i(frameSize_, w, h);
        glUniform1i(alphaTop_, h);
        bindPass(uyvaTarget_, h, w / 2, ceilHalf(h));
        compositor_.drawQuad(*alphaPass_, fullScreen);
        source = &uyvaTarget_;
    } else if (straightAlphaPass_) {
        bindPass(bgraTarget_, 0, w, h);
        compositor_.drawQuad(*straightAlphaPass_, fullScreen);
        source = &bgraTarget_;
    }
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glBindTexture(GL_TEXTURE_2D, 0);

    const uint64_t tag = ++frames_;
    if (!readback_.request(*source, tag)) return false;
    staged_.push_back({tag, wire, w, h, std::max(fps, 1)});
    return true;
}

bool NDIFrameConverter::takeStaged(const ReadbackFrame& r, NDIWireFrame& out) {
    auto it = std::find_if(staged_.begin(), staged_.end(), [&](const Staged& s) { return s.tag == r.tag; });
    if (it == staged_.end()) return false;
    const Staged s = *it;
    // Anything staged before it has been handed over or given up by now.
    staged_.erase(staged_.begin(), it + 1);
    out.wire = s.wire;
    out.width = s.width;
    out.height = s.height;
    out.fps = s.fps;
    out.data = r.pixels;
    if (s.wire == NDIWire::uyva) {
        out.stride = s.width * 2;
        out.size = size_t(out.stride) * size_t(s.height) + size_t(s.width) * size_t(s.height);
    } else {
        out.stride = s.width * 4;
        out.size = size_t(out.stride) * size_t(s.height);
    }
    return r.stride == (s.wire == NDIWire::uyva ? s.width * 2 : s.width * 4) &&
           size_t(r.stride) * size_t(r.height) >= out.size;
}

// ---- NDISender

void NDISender::AlignedFree::operator()(uint8_t* p) const { std::free(p); }

std::shared_ptr<NDISender> NDISender::create(const std::string& name) {
    auto fail = [](const std::string& why) {
        Issue::report(IssueCode::ndiFailed, std::nullopt, why);
        return std::shared_ptr<NDISender>();
    };
    ndi::RuntimeResult loaded = ndi::loadRuntime();
    if (!loaded.runtime) return fail(loaded.error);
    if (!loaded.runtime->initialize()) return fail("the NDI runtime could not be initialised");
    const std::string source = std::string(product::name) + " - " + name;
    ndi::SendCreateSettings settings;
    settings.sourceName = source.c_str();
    settings.groups = nullptr;
    settings.clockVideo = false;
    settings.clockAudio = false;
    ndi::SendInstance instance = loaded.runtime->sendCreate(&settings);
    if (!instance) return fail("the NDI source could not be created");

    std::shared_ptr<NDISender> sender(new NDISender(std::move(loaded.runtime), instance, source));
    if (hasMainQueue()) mainQueue().post([] { IssueLog::shared().resolve(IssueCode::ndiFailed, std::nullopt); });
    Diag::note("OUT", "NDI sender started");
    return sender;
}

NDISender::NDISender(std::shared_ptr<ndi::Runtime> runtime, ndi::SendInstance instance, std::string name)
    : runtime_(std::move(runtime)), instance_(instance), name_(std::move(name)) {
    videoThread_ = std::thread([this] {
        pthread_setname_np(pthread_self(), "ndi-video");
        videoLoop();
    });
}

NDISender::~NDISender() {
    // The instance must be gone before the runtime library is let go.
    stop();
    {
        std::lock_guard lock(queueMutex_);
        quit_ = true;
    }
    queueChanged_.notify_all();
    if (videoThread_.joinable()) videoThread_.join();
}

bool NDISender::receiversConnected(double now) {
    if (now - lastConnectionCheck_ >= 1.0) {
        // A send in progress holds the lock for as long as the runtime takes; rather than stall the frame
        // loop behind it, keep the last answer and ask again at the next frame.
        std::unique_lock lock(sendLock_, std::try_to_lock);
        if (lock.owns_lock()) {
            lastConnectionCheck_ = now;
            hasReceivers_ = !destroyed_ && runtime_->sendGetNoConnections(instance_, 0) >= 1;
        }
    }
    return hasReceivers_;
}

bool NDISender::tryBeginFrame() {
    bool expected = false;
    return inFlight_.compare_exchange_strong(expected, true, std::memory_order_acquire, std::memory_order_relaxed);
}

void NDISender::abandonFrame() { finishFrame(); }

void NDISender::finishFrame() {
    {
        std::lock_guard lock(idleMutex_);
        inFlight_.store(false, std::memory_order_release);
    }
    idle_.notify_all();
}

void NDISender::sendVideo(const NDIWireFrame& frame) {
    bool stopped;
    {
        std::lock_guard lock(sendLock_);
        stopped = destroyed_;
    }
    if (stopped || !frame.data || frame.width < 1 || frame.height < 1) {
        finishFrame();
        return;
    }
    // Only the frame in flight touches the scratch buffer, and the sending thread is idle until it is
    // handed over below, so the copy needs no lock (stop() frees it on this same thread).
    if (scratchSize_ < frame.size) {
        scratch_.reset();
        scratchSize_ = 0;
        const size_t bytes = (frame.size + 63) / 64 * 64;
        scratch_.reset(static_cast<uint8_t*>(std::aligned_alloc(64, bytes)));
        if (!scratch_) {
            finishFrame();
            return;
        }
        scratchSize_ = bytes;
    }
    std::memcpy(scratch_.get(), frame.data, frame.size);
    staged_ = frame;
    staged_.data = scratch_.get();
    {
        std::lock_guard lock(queueMutex_);
        ready_ = true;
    }
    queueChanged_.notify_all();
}

void NDISender::videoLoop() {
    std::unique_lock queue(queueMutex_);
    for (;;) {
        queueChanged_.wait(queue, [&] { return ready_ || quit_; });
        if (quit_) {
            if (ready_) finishFrame();
            return;
        }
        ready_ = false;
        queue.unlock();
        {
            std::lock_guard lock(sendLock_);
            if (!destroyed_ && scratch_) {
                ndi::VideoFrameV2 v;
                v.xres = staged_.width;
                v.yres = staged_.height;
                v.fourCC = staged_.wire == NDIWire::uyva ? ndi::fourCCUYVA : ndi::fourCCBGRA;
                v.frameRateN = std::max(staged_.fps, 1);
                v.frameRateD = 1;
                v.pictureAspectRatio = 0;
                v.frameFormat = ndi::frameFormatProgressive;
                v.timecode = ndi::synthesizeTimecode;
                v.data = scratch_.get();
                v.lineStrideBytes = staged_.stride;
                v.metadata = nullptr;
                v.timestamp = 0;
                runtime_->sendVideoV2(instance_, &v);
            }
        }
        finishFrame();
        queue.lock();
    }
}

bool NDISender::waitIdle(double seconds) {
    std::unique_lock lock(idleMutex_);
    return idle_.wait_for(lock, std::chrono::duration<double>(seconds),
                          [&] { return !inFlight_.load(std::memory_order_acquire); });
}

void NDISender::stop() {
    std::lock_guard lock(sendLock_);
    if (destroyed_) return;
    destroyed_ = true;
    runtime_->sendDestroy(instance_);
    instance_ = nullptr;
    scratch_.reset();
    scratchSize_ = 0;
}

void NDISender::sendAudio(const float* block) {
    std::lock_guard lock(sendLock_);
    if (destroyed_) return;
    ndi::AudioFrameV2 a;
    a.sampleRate = ProgramAudioBus::sampleRate;
    a.channels = 2;
    a.samples = ProgramAudioBus::blockFrames;
    a.timecode = ndi::synthesizeTimecode;
    a.data = block;
    a.channelStrideBytes = ProgramAudioBus::blockFrames * int(sizeof(float));
    a.metadata = nullptr;
    a.timestamp = 0;
    runtime_->sendAudioV2(instance_, &a);
}

// ---- NDIOutput

NDIOutput::NDIOutput(StageCompositor& compositor, const std::string& name)
    : sender_(NDISender::create(name)),
      compositor_(compositor),
      converter_(compositor),
      self_(std::make_shared<NDIOutput*>(this)) {}

NDIOutput::~NDIOutput() {
    self_.reset();
    // GL objects of the converter go with the context current.
    compositor_.context().makeCurrent();
    if (awaitingReadback_ && sender_) sender_->abandonFrame();
}

void NDIOutput::publish(const GpuRenderTarget& frame, int fps) {
    collect(false);
    if (!sender_) return;
    const double now = appClock().monotonic();
    if (!sender_->receiversConnected(now)) return;
    if (now - lastSendTime_ < 1.0 / std::max(fps, 1) - 0.001) return;
    if (!sender_->tryBeginFrame()) return;
    lastSendTime_ = now;
    if (!converter_.stage(frame, fps)) {
        sender_->abandonFrame();
        return;
    }
    awaitingReadback_ = true;
    schedulePoll();
}

CompositeConsumer NDIOutput::consumer() const {
    std::weak_ptr<NDIOutput*> weak = self_;
    return [weak](const GpuRenderTarget& stage, int fps) {
        if (auto self = weak.lock()) (*self)->publish(stage, fps);
    };
}

void NDIOutput::collect(bool wait) {
    if (!awaitingReadback_) return;
    converter_.poll(
        [&](const NDIWireFrame& f) {
            awaitingReadback_ = false;
            if (sender_) sender_->sendVideo(f);
        },
        wait);
    // A copy that finished without handing over its pixels gives its place back.
    if (awaitingReadback_ && converter_.pending() == 0) {
        awaitingReadback_ = false;
        if (sender_) sender_->abandonFrame();
    }
}

void NDIOutput::schedulePoll() {
    if (pollScheduled_ || !hasMainQueue()) return;
    pollScheduled_ = true;
    std::weak_ptr<NDIOutput*> weak = self_;
    mainQueue().postAfter(readbackPollInterval, [weak] {
        auto self = weak.lock();
        if (!self) return;
        NDIOutput& out = **self;
        out.pollScheduled_ = false;
        if (!out.awaitingReadback_ || !out.compositor_.context().makeCurrent()) return;
        out.collect(false);
        if (out.awaitingReadback_) out.schedulePoll();
    });
}

void NDIOutput::finishPending() {
    if (awaitingReadback_) {
        compositor_.context().makeCurrent();
        collect(true);
    }
    if (sender_) sender_->waitIdle();
}

}  // namespace ombry
