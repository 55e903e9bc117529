#pragma once
#include <array>

namespace ombry {

// How a picture must be turned to appear upright. Order matters: the mirrored cases follow the plain ones.
enum class StageOrientation { up, right, down, left, upMirrored, rightMirrored, downMirrored, leftMirrored };

inline constexpr std::array<StageOrientation, 8> allStageOrientations = {
    StageOrientation::up,         StageOrientation::right,         StageOrientation::down,
    StageOrientation::left,       StageOrientation::upMirrored,    StageOrientation::rightMirrored,
    StageOrientation::downMirrored, StageOrientation::leftMirrored,
};

struct TexCoord {
    float u = 0, v = 0;
    bool operator==(const TexCoord&) const = default;
};

// Texture coordinate (origin at the texture's top-left) of each quad corner: top-left, top-right,
// bottom-left, bottom-right.
std::array<TexCoord, 4> texCoords(StageOrientation orientation);

// Quarter turns swap the picture's width and height.
bool swapsSides(StageOrientation orientation);

// From a video track's affine transform (a, b, c, d; translation does not matter).
StageOrientation stageOrientation(double a, double b, double c, double d);

// From a still's EXIF orientation tag (1 to 8; anything else is upright).
StageOrientation exifStageOrientation(int tag);

}  // namespace ombry
