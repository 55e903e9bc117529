#pragma once
// What the program preview shows, without a widget.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "Engine/Model/Protocol.hpp"

namespace ombry::ui::preview {

// White: as the stage; yellow: same shape (size) or a whole divisor (rate); orange: anything else.
enum class Tone { white, yellow, orange };

// Stage width over max(1, stage height).
double liveAspect(const StageConfig& stage);
Tone sourceResolutionTone(std::int64_t w, std::int64_t h, std::int64_t stageW, std::int64_t stageH);
Tone sourceFrameRateTone(std::int64_t n, std::int64_t stageFps);
// To the nearest whole number, halves away from zero.
std::int64_t roundedRate(double fps);

using ItemLookup = std::function<const MediaItem*(const std::string& id)>;

// The source line: the first of media, overlay, background holding a cue whose clip has a known size.
struct SourceLine {
    std::int64_t width = 0, height = 0;
    std::optional<std::int64_t> fps;
    Tone sizeTone = Tone::white;
    Tone rateTone = Tone::white;
    std::string text() const;  // "SRC 1280x720 · 30p"
};
std::optional<SourceLine> sourceLine(const ProgramState& state, const ItemLookup& item);
// "OUT 1920x1080 · 60p": the resolution text without spaces.
std::string outputLine(const std::string& resolution, std::int64_t fps);
// The first of media, audio, overlay, background holding a cue: whether it plays.
bool transportRolling(const ProgramState& state);
// The media layer's clip name, else "No source".
std::string previewDescription(const ProgramState& state, const ItemLookup& item);

}  // namespace ombry::ui::preview
