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

#include "Platform/Gpu/StillImage.hpp"
#include "Platform/MainQueue.hpp"
#include "Platform/Media/MediaTypes.hpp"

namespace ombry::media {

// What a still file decodes to: pixels (raster formats; opaque or premultiplied RGBA, with the turn that
// stands them upright), or for SVG a picture that draws itself at any size, which
// StageCompositor::rasterize turns into pixels at the size the stage needs.
using StillResult = std::variant<StillImage, std::shared_ptr<const ScalableImage>, MediaFailure>;

// Largest side a raster still may have; larger ones fail as unreadable before any pixel memory is
// allocated. (Vector pictures are capped where they are rasterised.)
constexpr int kMaxStillSide = 8192;

// The box a still is shown in, in pixels (0 by 0: no box). A JPEG is decoded at the smallest of its
// reduced sizes (a half, a quarter, an eighth) that still covers the box once upright, so that it looks
// as sharp filling the stage as fitted into it; other pictures come at their own size.
struct StillSize {
    int width = 0;
    int height = 0;
};

// Decodes the first picture of a file: PNG, JPEG (EXIF orientation given as the image's orientation),
// GIF, BMP, TIFF, WebP, AVIF (as the FFmpeg build allows) and SVG (librsvg). Blocking: call it off the
// main thread, or use StillLoader.
StillResult decodeStill(const std::string& path, StillSize needed = {});

// A still file's pixel size, read from its header where the format allows (PNG, JPEG), else by decoding it.
// Nothing when it cannot be read.
std::optional<PixelSize> stillPixelSize(const std::string& path);

// Decodes stills in order on a background thread ("still-decode"); results come back on the main
// queue. Destroying the loader waits for the decode in flight and drops the rest.
class StillLoader {
public:
    StillLoader();
    ~StillLoader();
    StillLoader(const StillLoader&) = delete;
    StillLoader& operator=(const StillLoader&) = delete;

    // The handle cancels delivery of the result.
    TaskHandle load(const std::string& path, StillSize needed, std::function<void(StillResult)> done);

private:
    struct Job {
        std::string path;
        StillSize needed;
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
