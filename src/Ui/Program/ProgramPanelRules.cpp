#include "Ui/Program/ProgramPanelRules.hpp"

#include <algorithm>
#include <cmath>

#include <fmt/format.h>

namespace ombry::ui::panel {

namespace {
double clamp01(double v) { return v >= 0 ? std::min(v, 1.0) : 0.0; }  // not-a-number counts as 0
bool usableDuration(double d) { return std::isfinite(d) && d > 0; }
}  // namespace

std::string liveCount(std::size_t live, std::size_t layers) { return fmt::format("{} of {} live", live, layers); }

std::string blackButtonText(bool black) { return black ? "Restore Output" : "Cut to Black"; }

double faderFraction(double db) { return (db + 60.0) / 66.0; }
double faderDB(double fraction) { return fraction * 66.0 - 60.0; }

std::string levelLabel(double db) {
    if (!std::isfinite(db)) db = -60;
    std::string s = fmt::format("{:+.1f} dB", db);
    // A level that rounds to zero from below reads +0.0, as the format of the level never shows "-0.0".
    if (s == "-0.0 dB") s = "+0.0 dB";
    return s;
}

double faderTravel(double height, double capHeight) { return std::max(1.0, height - capHeight); }

double faderFractionAt(double y, double height, double capHeight) {
    return clamp01(1.0 - (y - capHeight / 2) / faderTravel(height, capHeight));
}

double unlitHeight(double level, double height) {
    if (level >= 1) return 0;
    return height * (1.0 - clamp01(level));
}

double progressFraction(double current, double duration) {
    if (!usableDuration(duration) || !std::isfinite(current)) return 0;
    return clamp01(current / duration);
}

std::optional<double> scrubSeekTime(double fraction, double duration) {
    if (!usableDuration(duration)) return std::nullopt;
    return clamp01(fraction) * duration;
}

double shownTime(std::optional<double> scrubbing, double current, double duration) {
    if (scrubbing) return usableDuration(duration) ? clamp01(*scrubbing) * duration : 0;
    return std::isfinite(current) ? current : 0;
}

std::optional<LayerId> primaryLayer(const ProgramState& state) {
    for (LayerId l : {LayerId::media, LayerId::audio, LayerId::overlay, LayerId::background})
        if (state.layers[l].active) return l;
    return std::nullopt;
}

bool rolling(const ProgramState& state) {
    const auto l = primaryLayer(state);
    return l && state.layers[*l].active->playing;
}

}  // namespace ombry::ui::panel
