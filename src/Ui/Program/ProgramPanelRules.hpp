#pragma once
// What the program panel shows and sends, without a widget: counts, button texts, the fader and meter
// mapping, the track geometry and the transport's seeks.
#include <cstddef>
#include <optional>
#include <string>

#include "Engine/Model/Protocol.hpp"

namespace ombry::ui::panel {

// "2 of 4 live".
std::string liveCount(std::size_t live, std::size_t layers);
// "Restore Output" while cut to black, else "Cut to Black".
std::string blackButtonText(bool black);

// The master fader spans -60...+6 dB: fraction (dB + 60) / 66 and back.
double faderFraction(double db);
double faderDB(double fraction);
// "+0.0 dB", "-60.0 dB".
std::string levelLabel(double db);
// The fader position under the pointer: 1 - (y - cap/2) / travel, clamped; travel = max(1, height - cap).
double faderFractionAt(double y, double height, double capHeight);
double faderTravel(double height, double capHeight);

// The darkened top part of a meter bar: height × (1 - level clamped to 0...1); none from 1 up.
double unlitHeight(double level, double height);

// The scrub track's position: current / duration capped at 1 for a usable duration, else 0.
double progressFraction(double current, double duration);
// Where a scrub at this fraction seeks: fraction × duration. None while the duration is not known (not
// finite or not above 0): a stray click then leaves a live clip where it is.
std::optional<double> scrubSeekTime(double fraction, double duration);
// The time the transport row shows: the dragged position while scrubbing, else the playhead.
double shownTime(std::optional<double> scrubbing, double current, double duration);

// The layer whose playhead the program timecode shows: the first of media, audio, overlay, background
// holding a cue; none when nothing is live.
std::optional<LayerId> primaryLayer(const ProgramState& state);
// Whether that layer's cue plays.
bool rolling(const ProgramState& state);

}  // namespace ombry::ui::panel
