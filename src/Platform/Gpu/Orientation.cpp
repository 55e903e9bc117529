#include "Platform/Gpu/Orientation.hpp"

#include <cmath>

namespace ombry {

std::array<TexCoord, 4> texCoords(StageOrientation orientation) {
    switch (orientation) {
    case StageOrientation::up: return {{{0, 0}, {1, 0}, {0, 1}, {1, 1}}};
    case StageOrientation::right: return {{{0, 1}, {0, 0}, {1, 1}, {1, 0}}};
    case StageOrientation::down: return {{{1, 1}, {0, 1}, {1, 0}, {0, 0}}};
    case StageOrientation::left: return {{{1, 0}, {1, 1}, {0, 0}, {0, 1}}};
    case StageOrientation::upMirrored: return {{{1, 0}, {0, 0}, {1, 1}, {0, 1}}};
    case StageOrientation::rightMirrored: return {{{1, 1}, {1, 0}, {0, 1}, {0, 0}}};
    case StageOrientation::downMirrored: return {{{0, 1}, {1, 1}, {0, 0}, {1, 0}}};
    case StageOrientation::leftMirrored: return {{{0, 0}, {0, 1}, {1, 0}, {1, 1}}};
    }
    return {{{0, 0}, {1, 0}, {0, 1}, {1, 1}}};
}

bool swapsSides(StageOrientation o) {
    return o == StageOrientation::right || o == StageOrientation::left || o == StageOrientation::rightMirrored ||
           o == StageOrientation::leftMirrored;
}

StageOrientation stageOrientation(double a, double b, double c, double d) {
    const bool mirrors = a * d < b * c;
    const double angle = mirrors ? std::atan2(-b, -a) : std::atan2(b, a);
    const int q = static_cast<int>(std::lround(angle / (M_PI / 2))) & 3;
    return allStageOrientations[static_cast<size_t>(mirrors ? q + 4 : q)];
}

StageOrientation exifStageOrientation(int tag) {
    switch (tag) {
    case 2: return StageOrientation::upMirrored;
    case 3: return StageOrientation::down;
    case 4: return StageOrientation::downMirrored;
    case 5: return StageOrientation::leftMirrored;
    case 6: return StageOrientation::right;
    case 7: return StageOrientation::rightMirrored;
    case 8: return StageOrientation::left;
    default: return StageOrientation::up;
    }
}

}  // namespace ombry
