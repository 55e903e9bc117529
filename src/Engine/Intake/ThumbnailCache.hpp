#pragma once
#include <cstddef>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

#include "Platform/Gpu/StillImage.hpp"

namespace ombry {

// Decoded thumbnails for the board's cards, keyed by media id and thumbnail time, so a new thumbnail is
// loaded afresh and the old one ages out. Holds at most `capBytes` of pixels, the least recently used
// going first. Misses are not remembered: a missing file is looked for again at the next lookup.
// Main thread only.
class ThumbnailCache {
public:
    static constexpr std::size_t defaultCapBytes = std::size_t(64) << 20;
    static ThumbnailCache& shared();

    explicit ThumbnailCache(std::size_t capBytes = defaultCapBytes) : capBytes_(capBytes) {}

    // Nothing without a thumbnail time (no file is read then).
    std::shared_ptr<const StillImage> image(const std::string& id, std::optional<double> thumbAt);
    static std::string key(const std::string& id, double thumbAt);
    std::size_t bytes() const { return bytes_; }
    std::size_t count() const { return entries_.size(); }

private:
    struct Entry {
        std::string key;
        std::shared_ptr<const StillImage> image;
    };
    std::size_t capBytes_;
    std::size_t bytes_ = 0;
    std::list<Entry> entries_;  // most recent first
    std::unordered_map<std::string, std::list<Entry>::iterator> index_;
};

}  // namespace ombry
