#include "Render/AssetWarmer.hpp"

#include <filesystem>

#include "Platform/Media/MediaAsset.hpp"

namespace ombry {

namespace {
struct WarmSlot {
    std::string path;
    std::shared_ptr<media::MediaAsset> asset;
};
std::optional<WarmSlot>& warmSlot() {
    static std::optional<WarmSlot> slot;
    return slot;
}
}  // namespace

void AssetWarmer::warm(const std::string& path) {
    auto& slot = warmSlot();
    if (slot && slot->path == path) return;
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) return;
    // Opening starts at once on the asset's own thread; playability and duration come with it.
    slot = WarmSlot{path, media::MediaAsset::open(path)};
}

std::shared_ptr<media::MediaAsset> AssetWarmer::warmed() {
    auto& slot = warmSlot();
    return slot ? slot->asset : nullptr;
}

std::shared_ptr<media::MediaAsset> AssetWarmer::take(const std::string& path) {
    auto& slot = warmSlot();
    if (!slot) return nullptr;
    auto taken = std::move(*slot);
    slot.reset();
    return taken.path == path ? taken.asset : nullptr;
}

std::optional<std::string> AssetWarmer::warmedPath() {
    auto& slot = warmSlot();
    return slot ? std::optional<std::string>(slot->path) : std::nullopt;
}

}  // namespace ombry
