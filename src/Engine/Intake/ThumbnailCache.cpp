#include "Engine/Intake/ThumbnailCache.hpp"

#include <cmath>
#include <variant>

#include "Engine/Intake/MediaProbe.hpp"
#include "Engine/Library/Store.hpp"
#include "Platform/Media/StillDecoder.hpp"

namespace ombry {

ThumbnailCache& ThumbnailCache::shared() {
    static ThumbnailCache cache;
    return cache;
}

std::string ThumbnailCache::key(const std::string& id, double thumbAt) {
    return id + "-" + std::to_string(static_cast<long long>(std::trunc(thumbAt)));
}

std::shared_ptr<const StillImage> ThumbnailCache::image(const std::string& id, std::optional<double> thumbAt) {
    if (!thumbAt || !std::isfinite(*thumbAt) || !Store::isSafeFileName(id)) return nullptr;
    const std::string k = key(id, *thumbAt);
    if (auto it = index_.find(k); it != index_.end()) {
        entries_.splice(entries_.begin(), entries_, it->second);
        return it->second->image;
    }
    media::StillResult decoded = media::decodeStill(MediaProbe::thumbnailFile(id).string());
    auto* still = std::get_if<StillImage>(&decoded);
    if (!still) return nullptr;
    auto image = std::make_shared<const StillImage>(std::move(*still));
    entries_.push_front({k, image});
    index_[k] = entries_.begin();
    bytes_ += image->pixels.size();
    while (bytes_ > capBytes_ && entries_.size() > 1) {
        bytes_ -= entries_.back().image->pixels.size();
        index_.erase(entries_.back().key);
        entries_.pop_back();
    }
    return image;
}

}  // namespace ombry
