#pragma once
#include <memory>
#include <optional>
#include <string>

namespace ombry {

namespace media {
class MediaAsset;
}

// The single warm slot of the process: the asset of the clip expected next, already opening.
struct AssetWarmer {
    static void warm(const std::string& path);
    // The warmed asset when it is for `path`; the slot is emptied either way.
    static std::shared_ptr<media::MediaAsset> take(const std::string& path);
    static std::optional<std::string> warmedPath();
    // The warmed asset, left in the slot.
    static std::shared_ptr<media::MediaAsset> warmed();
};

}  // namespace ombry
