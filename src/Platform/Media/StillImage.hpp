#pragma once
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "Platform/MainQueue.hpp"
#include "Platform/Media/MediaTypes.hpp"

namespace ombry::media {

// A decoded still, upright (EXIF orientation applied), premultiplied RGBA, rows packed (width * 4 bytes).
struct StillImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgba;
};

using StillResult = std::variant<StillImage, MediaFailure>;

// Largest side a still may have; larger ones fail as unreadable before any pixel memory is allocated.
constexpr int kMaxStillSide = 8192;

// Decodes the first picture of a file: PNG, JPEG, GIF, BMP, TIFF, WebP, AVIF (as the FFmpeg build
// allows) and SVG (librsvg; rendered at its own size, scaled up to at least `minHeight` pixels high).
// Blocking: call it off the main thread, or use StillLoader.
StillResult decodeStill(const std::string& path, int minHeight = 0);

// Decodes stills in order on a background thread ("still-decode"); results come back on the main
// queue. Destroying the loader waits for the decode in flight and drops the rest.
class StillLoader {
public:
    StillLoader();
    ~StillLoader();
    StillLoader(const StillLoader&) = delete;
    StillLoader& operator=(const StillLoader&) = delete;

    // The handle cancels delivery of the result.
    TaskHandle load(const std::string& path, int minHeight, std::function<void(StillResult)> done);

private:
    struct Job {
        std::string path;
        int minHeight = 0;
        std::function<void(StillResult)> done;
        TaskHandle handle;
    };
    struct Shared {
        std::mutex mutex;
        std::condition_variable wake;
        std::deque<Job> jobs;
        bool alive = true;
    };
    std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
    std::thread thread_;
};

}  // namespace ombry::media
