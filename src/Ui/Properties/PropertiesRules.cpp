#include "Ui/Properties/PropertiesRules.hpp"

#include <cmath>

#include <fmt/format.h>

namespace ombry::ui::properties {

namespace {
bool knownPositive(const std::optional<double>& d) { return d && std::isfinite(*d) && *d > 0; }

std::string capitalised(std::string s) {
    if (!s.empty() && s[0] >= 'a' && s[0] <= 'z') s[0] = char(s[0] - 'a' + 'A');
    return s;
}

template <class T>
void select(Picker<T>& picker, const T& stored, const std::string& extraLabel) {
    for (std::size_t i = 0; i < picker.options.size(); ++i)
        if (picker.options[i].second == stored) {
            picker.selected = int(i);
            return;
        }
    picker.options.emplace_back(extraLabel, stored);
    picker.selected = int(picker.options.size() - 1);
}
}  // namespace

std::string frameRateText(double fps) {
    // Whole part, truncated toward zero; only for values an integer holds.
    if (!std::isfinite(fps) || std::fabs(fps) >= 9.2e18) return "\u2014";
    return fmt::format("{} fps", std::int64_t(std::trunc(fps)));
}

std::string channelsText(std::int64_t channels) {
    if (channels == 1) return "Mono";
    if (channels == 2) return "Stereo";
    return std::to_string(channels);
}

std::vector<Fact> facts(const MediaItem& item) {
    std::vector<Fact> out{{"Type", capitalised(std::string(rawValue(item.kind)))}};
    if (const std::string d = displayDuration(item); !d.empty()) out.push_back({"Duration", d});
    if (item.width && item.height) out.push_back({"Resolution", fmt::format("{}x{}", *item.width, *item.height)});
    if (item.fps) out.push_back({"Frame rate", frameRateText(*item.fps)});
    if (item.sampleRate) out.push_back({"Sample rate", fmt::format("{} Hz", *item.sampleRate)});
    if (item.bitDepth) out.push_back({"Bit depth", fmt::format("{}-bit", *item.bitDepth)});
    if (item.channels) out.push_back({"Channels", channelsText(*item.channels)});
    return out;
}

Picker<std::optional<AppTransition>> transitionPicker(const MediaItem& item) {
    Picker<std::optional<AppTransition>> p;
    p.options = {{"Default", std::nullopt}, {"Cut", AppTransition::cut}, {"Fade", AppTransition::fade}};
    if (item.kind != MediaKind::audio) {
        p.options.emplace_back("Slide", AppTransition::slide);
        p.options.emplace_back("Zoom", AppTransition::zoom);
    }
    std::optional<AppTransition> stored;
    if (item.transitionType) switch (*item.transitionType) {
            case TransitionType::cut: stored = AppTransition::cut; break;
            case TransitionType::fade:
            case TransitionType::crossfade: stored = AppTransition::fade; break;
            case TransitionType::slide: stored = AppTransition::slide; break;
            case TransitionType::zoom: stored = AppTransition::zoom; break;
        }
    select(p, stored, stored ? std::string(rawValue(*stored)) : std::string("Default"));
    return p;
}

Picker<std::optional<LayerId>> layerPicker(const MediaItem& item) {
    Picker<std::optional<LayerId>> p;
    p.options = {{"Auto", std::nullopt},
                 {"Background", LayerId::background},
                 {"Media", LayerId::media},
                 {"Overlay", LayerId::overlay}};
    select(p, item.layer, item.layer ? capitalised(std::string(rawValue(*item.layer))) : std::string("Auto"));
    return p;
}

Picker<EndAction> endActionPicker(const MediaItem& item) {
    Picker<EndAction> p;
    p.options = {{"Hold", EndAction::hold}, {"Clear", EndAction::clear}, {"Loop", EndAction::loop}};
    const EndAction stored = item.endAction ? *item.endAction : (item.loop == true ? EndAction::loop : EndAction::hold);
    select(p, stored, capitalised(std::string(rawValue(stored))));
    return p;
}

Picker<FillMode> scalingPicker(const MediaItem& item) {
    Picker<FillMode> p;
    p.options = {{"Fit", FillMode::fit}, {"Fill", FillMode::fill}};
    const FillMode stored = item.fillMode.value_or(FillMode::fit);
    select(p, stored, capitalised(std::string(rawValue(stored))));
    return p;
}

bool showsLayerAndScaling(const MediaItem& item) { return item.kind != MediaKind::audio; }

bool showsTrim(const MediaItem& item) { return item.kind != MediaKind::image && knownPositive(item.duration); }

double trimInShown(const MediaItem& item) {
    return item.trimStart && std::isfinite(*item.trimStart) ? *item.trimStart : 0.0;
}

double trimOutShown(const MediaItem& item) {
    if (item.trimEnd && std::isfinite(*item.trimEnd)) return *item.trimEnd;
    return knownPositive(item.duration) ? *item.duration : 0.0;
}

QString formatSeconds(double seconds, const QLocale& locale) {
    return locale.toString(std::isfinite(seconds) ? seconds : 0.0, 'f', 1);
}

std::optional<double> parseSeconds(const QString& text, const QLocale& locale) {
    bool ok = false;
    const double v = locale.toDouble(text.trimmed(), &ok);
    if (!ok || !std::isfinite(v)) return std::nullopt;
    return v;
}

}  // namespace ombry::ui::properties
