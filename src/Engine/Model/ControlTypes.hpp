#pragma once
// The two enumerations shared by the show records and the remote-control records.
#include "Engine/Model/RawEnum.hpp"

namespace ombry {

enum class MediaKind { video, image, audio };

// The four program layers, bottom to top; audio is the layer of audio clips.
enum class LayerId { background, media, overlay, audio };

template <>
struct RawCases<MediaKind> {
    static constexpr std::array<std::pair<MediaKind, std::string_view>, 3> cases{{
        {MediaKind::video, "video"},
        {MediaKind::image, "image"},
        {MediaKind::audio, "audio"},
    }};
};

template <>
struct RawCases<LayerId> {
    static constexpr std::array<std::pair<LayerId, std::string_view>, 4> cases{{
        {LayerId::background, "background"},
        {LayerId::media, "media"},
        {LayerId::overlay, "overlay"},
        {LayerId::audio, "audio"},
    }};
};

// A kind read from a document never fails: any string other than "image" or "audio" is a video.
inline MediaKind mediaKindFromAnyString(std::string_view raw) {
    if (raw == "image") return MediaKind::image;
    if (raw == "audio") return MediaKind::audio;
    return MediaKind::video;
}

}  // namespace ombry
