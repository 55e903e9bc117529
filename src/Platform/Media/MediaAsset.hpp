#pragma once
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Platform/Gpu/Orientation.hpp"
#include "Platform/MainQueue.hpp"
#include "Platform/Media/MediaTypes.hpp"

namespace ombry::media {

// What probing a file found.
struct AssetInfo {
    bool playable = false;
    double duration = 0;  // seconds; 0 when unknown
    bool hasVideo = false;
    bool hasAudio = false;
    int width = 0;  // natural size of the first video track, before orientation
    int height = 0;
    double frameRate = 0;
    bool hasAlpha = false;
    StageOrientation orientation = StageOrientation::up;
    int sampleRate = 0;
    int channels = 0;
};

// A media file opened and probed on a background thread ("media-open"). Creating one starts the open at
// once, so holding an asset is a warm open of its file. Main thread only, except path() and readiness().
class MediaAsset : public std::enable_shared_from_this<MediaAsset> {
public:
    static std::shared_ptr<MediaAsset> open(const std::string& path);
    ~MediaAsset();
    MediaAsset(const MediaAsset&) = delete;
    MediaAsset& operator=(const MediaAsset&) = delete;

    const std::string& path() const { return path_; }
    Readiness readiness() const;
    std::optional<MediaFailure> failure() const;
    AssetInfo info() const;  // meaningful once ready

    using LoadResult = std::pair<std::optional<AssetInfo>, std::optional<MediaFailure>>;
    // Loads "playable" and "duration", racing the deadline: `done` runs once on the main queue with the
    // info, or with a failure ("media load timed out" when the deadline passes first; the open is then
    // cancelled). A file that opens but has no decodable stream is "format". The handle cancels the
    // wait: `done` then never runs.
    TaskHandle load(double timeoutSeconds, std::function<void(const LoadResult&)> done);

    // Stops the open (its I/O is interrupted); pending loads finish as cancelled.
    void cancel();

private:
    explicit MediaAsset(std::string path);
    void run();
    void finish(std::optional<AssetInfo> info, std::optional<MediaFailure> failure);

    struct Waiter {
        std::function<void(const LoadResult&)> done;
        TaskHandle handle;
        TaskHandle timer;
    };

    std::string path_;
    std::atomic<bool> abort_{false};
    IoInterrupt interrupt_{&abort_};  // the open's reads end with abort_ or the earliest load deadline
    mutable std::mutex mutex_;
    Readiness readiness_ = Readiness::unknown;
    AssetInfo info_;
    std::optional<MediaFailure> failure_;
    std::vector<std::shared_ptr<Waiter>> waiters_;
    std::thread thread_;
};

}  // namespace ombry::media
