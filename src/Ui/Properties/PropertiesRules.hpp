#pragma once
// What the clip properties window shows and offers, without a widget.
#include <QLocale>
#include <QString>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "App/ViewModels.hpp"

namespace ombry::ui::properties {

inline constexpr const char* emptyHint = "Right-click a clip and choose Properties.";

struct Fact {
    std::string label, value;
    bool operator==(const Fact&) const = default;
};
// Type, then Duration, Resolution, Frame rate, Sample rate, Bit depth, Channels as far as they are known.
std::vector<Fact> facts(const MediaItem& item);
// The whole part of the rate, then " fps" (29.97 shows "29 fps"); "—" for a rate that is not a finite
// number an integer can hold.
std::string frameRateText(double fps);
// "Mono", "Stereo", else the count.
std::string channelsText(std::int64_t channels);

// A pop-up's options in menu order and the one shown. A stored value that is not among the options (an
// audio clip's slide, a visual clip's audio layer) is shown as one more entry at the end.
template <class T>
struct Picker {
    std::vector<std::pair<std::string, T>> options;
    int selected = 0;
};
Picker<std::optional<AppTransition>> transitionPicker(const MediaItem& item);
// Not offered for audio clips.
Picker<std::optional<LayerId>> layerPicker(const MediaItem& item);
Picker<EndAction> endActionPicker(const MediaItem& item);
// Not offered for audio clips.
Picker<FillMode> scalingPicker(const MediaItem& item);
bool showsLayerAndScaling(const MediaItem& item);
// Not for images; only once the duration is known and above 0.
bool showsTrim(const MediaItem& item);

// The trim fields: the stored trim, else 0 and the duration.
double trimInShown(const MediaItem& item);
double trimOutShown(const MediaItem& item);
// One digit after the decimal separator of the locale.
QString formatSeconds(double seconds, const QLocale& locale);
// A finite number in the locale's format; none for anything else.
std::optional<double> parseSeconds(const QString& text, const QLocale& locale);

}  // namespace ombry::ui::properties
