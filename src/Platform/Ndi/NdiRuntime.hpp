#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// Our own declarations of the few C entry points and structs of the NDI runtime (libndi.so.6) that the
// output uses, laid out as the runtime's C ABI expects on 64-bit Linux. Only these calls are made.
namespace ombry::ndi {

using SendInstance = void*;

struct SendCreateSettings {
    const char* sourceName = nullptr;  // UTF-8, NUL-terminated
    const char* groups = nullptr;      // null: the default groups
    bool clockVideo = false;
    bool clockAudio = false;
};

constexpr uint32_t fourCC(char a, char b, char c, char d) {
    return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 | uint32_t(uint8_t(c)) << 16 | uint32_t(uint8_t(d)) << 24;
}
// UYVY 4:2:2 (width x 2 bytes a row) followed directly by an 8-bit alpha plane (width bytes a row).
constexpr uint32_t fourCCUYVA = fourCC('U', 'Y', 'V', 'A');
// One plane of B, G, R, A bytes, straight alpha.
constexpr uint32_t fourCCBGRA = fourCC('B', 'G', 'R', 'A');
constexpr int32_t frameFormatProgressive = 1;
// Asks the runtime to make up the time code itself.
constexpr int64_t synthesizeTimecode = INT64_MAX;

struct VideoFrameV2 {
    int32_t xres = 0;
    int32_t yres = 0;
    uint32_t fourCC = 0;
    int32_t frameRateN = 1;
    int32_t frameRateD = 1;
    float pictureAspectRatio = 0;  // 0: square pixels
    int32_t frameFormat = frameFormatProgressive;
    int64_t timecode = synthesizeTimecode;
    const uint8_t* data = nullptr;
    int32_t lineStrideBytes = 0;
    const char* metadata = nullptr;
    int64_t timestamp = 0;
};

struct AudioFrameV2 {
    int32_t sampleRate = 48000;
    int32_t channels = 2;
    int32_t samples = 0;
    int64_t timecode = synthesizeTimecode;
    const float* data = nullptr;  // planar: each channel's samples one after the other
    int32_t channelStrideBytes = 0;
    const char* metadata = nullptr;
    int64_t timestamp = 0;
};

static_assert(sizeof(void*) == 8, "the runtime's layouts below are those of 64-bit builds");
static_assert(sizeof(SendCreateSettings) == 24);
static_assert(sizeof(VideoFrameV2) == 72 && offsetof(VideoFrameV2, timecode) == 32 &&
              offsetof(VideoFrameV2, data) == 40 && offsetof(VideoFrameV2, lineStrideBytes) == 48 &&
              offsetof(VideoFrameV2, metadata) == 56 && offsetof(VideoFrameV2, timestamp) == 64);
static_assert(sizeof(AudioFrameV2) == 56 && offsetof(AudioFrameV2, timecode) == 16 &&
              offsetof(AudioFrameV2, data) == 24 && offsetof(AudioFrameV2, channelStrideBytes) == 32 &&
              offsetof(AudioFrameV2, metadata) == 40 && offsetof(AudioFrameV2, timestamp) == 48);

// The runtime's entry points, under their exported names.
extern "C" {
using InitializeFn = bool (*)();
using SendCreateFn = SendInstance (*)(const SendCreateSettings*);
using SendDestroyFn = void (*)(SendInstance);
using SendVideoV2Fn = void (*)(SendInstance, const VideoFrameV2*);
using SendAudioV2Fn = void (*)(SendInstance, const AudioFrameV2*);
using SendGetNoConnectionsFn = int (*)(SendInstance, uint32_t timeoutMs);
}

inline constexpr const char* libraryName = "libndi.so.6";
inline constexpr const char* runtimeDirVariable = "NDI_RUNTIME_DIR_V6";

// The loaded runtime library; unloaded when the last holder lets go, so every send instance made through
// it must be destroyed first.
class Runtime {
public:
    ~Runtime();
    Runtime(const Runtime&) = delete;
    Runtime& operator=(const Runtime&) = delete;

    InitializeFn initialize = nullptr;
    SendCreateFn sendCreate = nullptr;
    SendDestroyFn sendDestroy = nullptr;
    SendVideoV2Fn sendVideoV2 = nullptr;
    SendAudioV2Fn sendAudioV2 = nullptr;
    SendGetNoConnectionsFn sendGetNoConnections = nullptr;

    const std::string& path() const { return path_; }

private:
    friend struct RuntimeLoader;
    Runtime() = default;
    void* handle_ = nullptr;
    std::string path_;
};

struct RuntimeResult {
    std::shared_ptr<Runtime> runtime;
    std::string error;  // why it could not be loaded, for the log
};

// Loads "libndi.so.6" from the first of these that has it: the folder in $NDI_RUNTIME_DIR_V6, the
// executable's folder, the loader's search path. Fails when the library or an entry point is missing.
RuntimeResult loadRuntime();

}  // namespace ombry::ndi
