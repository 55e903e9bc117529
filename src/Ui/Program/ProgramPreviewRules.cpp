#include "Ui/Program/ProgramPreviewRules.hpp"

#include <algorithm>
#include <cmath>

namespace ombry::ui::preview {

double liveAspect(const StageConfig& stage) { return double(stage.width) / double(std::max<std::int64_t>(1, stage.height)); }

Tone sourceResolutionTone(std::int64_t w, std::int64_t h, std::int64_t W, std::int64_t H) {
    if (w == W && h == H) return Tone::white;
    if (w * H == h * W) return Tone::yellow;
    return Tone::orange;
}

Tone sourceFrameRateTone(std::int64_t n, std::int64_t F) {
    if (n == F) return Tone::white;
    if (n >= 1 && F % n == 0) return Tone::yellow;
    return Tone::orange;
}

std::int64_t roundedRate(double fps) {
    if (!std::isfinite(fps)) return 0;
    return std::int64_t(std::llround(fps));
}

std::string SourceLine::text() const {
    std::string s = "SRC " + std::to_string(width) + "x" + std::to_string(height);
    if (fps) s += " \u00B7 " + std::to_string(*fps) + "p";
    return s;
}

std::optional<SourceLine> sourceLine(const ProgramState& state, const ItemLookup& item) {
    for (LayerId l : {LayerId::media, LayerId::overlay, LayerId::background}) {
        const auto& cue = state.layers[l].active;
        if (!cue) continue;
        const MediaItem* m = item ? item(cue->mediaId) : nullptr;
        if (!m || !m->width || !m->height) return std::nullopt;
        SourceLine line;
        line.width = *m->width;
        line.height = *m->height;
        line.sizeTone = sourceResolutionTone(line.width, line.height, state.stage.width, state.stage.height);
        if (m->fps) {
            line.fps = roundedRate(*m->fps);
            line.rateTone = sourceFrameRateTone(*line.fps, state.stage.fps);
        }
        return line;
    }
    return std::nullopt;
}

std::string outputLine(const std::string& resolution, std::int64_t fps) {
    std::string r = resolution;
    std::erase(r, ' ');
    return "OUT " + r + " \u00B7 " + std::to_string(fps) + "p";
}

bool transportRolling(const ProgramState& state) {
    for (LayerId l : {LayerId::media, LayerId::audio, LayerId::overlay, LayerId::background})
        if (const auto& cue = state.layers[l].active) return cue->playing;
    return false;
}

std::string previewDescription(const ProgramState& state, const ItemLookup& item) {
    const auto& cue = state.layers[LayerId::media].active;
    if (!cue) return "No source";
    const MediaItem* m = item ? item(cue->mediaId) : nullptr;
    return m ? m->name : "No source";
}

}  // namespace ombry::ui::preview
