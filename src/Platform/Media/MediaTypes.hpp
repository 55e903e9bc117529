#pragma once
#include <optional>
#include <string>

namespace ombry::media {

// Why a file could not be opened, played or decoded. `message` is a sentence a user may see.
struct MediaFailure {
    enum class Code { missing, format, timeout, cancelled, unreadable };
    Code code = Code::format;
    std::string message;
};

// Whether an asset or a player can be used yet.
enum class Readiness { unknown, ready, failed };

// Largest even-sized picture that fits `stage` keeping the aspect of `natural`; nothing when the
// natural size already fits (videos are never scaled up) or a dimension is below 1.
struct PixelSize {
    int width = 0;
    int height = 0;
    bool operator==(const PixelSize&) const = default;
};
std::optional<PixelSize> fittedDeliverySize(double naturalW, double naturalH, double stageW, double stageH);

}  // namespace ombry::media
