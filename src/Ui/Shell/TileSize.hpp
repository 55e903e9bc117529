#pragma once
// The card size of the playlist board, stored as the user default "tileSize".
#include <array>
#include <optional>
#include <string_view>

namespace ombry::ui {

enum class TileSize { small, medium, large };

struct TileMetrics {
    int cardWidth;
    int thumbnailHeight;     // cardWidth × 9/16, rounded
    double incomingMeasure;  // cardWidth × 0.6
};

inline constexpr std::array<TileSize, 3> allTileSizes{TileSize::small, TileSize::medium, TileSize::large};

constexpr std::string_view rawValue(TileSize size) {
    switch (size) {
        case TileSize::small: return "small";
        case TileSize::large: return "large";
        case TileSize::medium: break;
    }
    return "medium";
}

// Exactly "small", "medium" or "large" (case-sensitive).
constexpr std::optional<TileSize> tileSizeFromRaw(std::string_view raw) {
    for (TileSize s : allTileSizes)
        if (rawValue(s) == raw) return s;
    return std::nullopt;
}

constexpr TileMetrics metrics(TileSize size) {
    switch (size) {
        case TileSize::small: return {160, 90, 96};
        case TileSize::large: return {272, 153, 163.2};
        case TileSize::medium: break;
    }
    return {208, 117, 124.8};
}

}  // namespace ombry::ui
