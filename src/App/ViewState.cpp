// What the main window's views show, computed from the program, the library and the settings on every read.
#include <unicode/listformatter.h>
#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <limits>
#include <memory>
#include <span>

#include <fmt/format.h>

#include "App/AppState.hpp"
#include "Platform/Product.hpp"

namespace ombry {

namespace {

// The text's runs of characters that are numeric in any script, split at every other character, with the
// byte range of each.
struct NumericRun {
    std::string digits;
    std::size_t begin = 0, end = 0;
};

std::vector<NumericRun> numericRuns(const std::string& text) {
    std::vector<NumericRun> runs;
    const auto* s = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto length = std::int32_t(std::min<std::size_t>(text.size(), std::numeric_limits<std::int32_t>::max()));
    for (std::int32_t i = 0; i < length;) {
        const std::int32_t start = i;
        UChar32 c;
        U8_NEXT(s, i, length, c);
        const std::int8_t type = c < 0 ? std::int8_t(U_UNASSIGNED) : u_charType(c);
        if (type != U_DECIMAL_DIGIT_NUMBER && type != U_LETTER_NUMBER && type != U_OTHER_NUMBER) continue;
        if (runs.empty() || runs.back().end != std::size_t(start)) runs.push_back({{}, std::size_t(start), 0});
        runs.back().digits.append(text, std::size_t(start), std::size_t(i - start));
        runs.back().end = std::size_t(i);
    }
    return runs;
}

bool asciiDigits(const std::string& s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A decimal integer of the digits 0 to 9 alone that fits; numerals of other scripts do not parse.
std::optional<std::int64_t> parseInteger(const std::string& digits) {
    if (!asciiDigits(digits)) return std::nullopt;
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (ec != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
    return value;
}

// Exactly two numbers, or none.
std::optional<std::pair<std::int64_t, std::int64_t>> parseResolution(const std::string& text) {
    std::vector<std::int64_t> values;
    for (const auto& run : numericRuns(text))
        if (auto v = parseInteger(run.digits)) values.push_back(*v);
    if (values.size() != 2) return std::nullopt;
    return std::pair{values[0], values[1]};
}

// The text's leading number; a decimal point or comma right between its digits and the next makes it a
// decimal, rounded half up: "29.97p" is 30 fps, and "30p 1080" is 30, not every digit run together.
std::optional<std::int64_t> parseFrameRate(const std::string& text) {
    const auto runs = numericRuns(text);
    if (runs.empty()) return std::nullopt;
    auto whole = parseInteger(runs[0].digits);
    if (!whole) return std::nullopt;
    const bool decimal = runs.size() >= 2 && runs[1].begin == runs[0].end + 1 &&
                         (text[runs[0].end] == '.' || text[runs[0].end] == ',');
    if (!decimal) return whole;
    if (!asciiDigits(runs[1].digits)) return std::nullopt;
    if (runs[1].digits[0] >= '5') {
        if (*whole == std::numeric_limits<std::int64_t>::max()) return std::nullopt;
        ++*whole;
    }
    return whole;
}

// Phrases joined as the user's language joins a list: "a and b", "a, b, and c" in English.
std::string joinAsList(const std::vector<std::string>& phrases) {
    if (phrases.size() < 2) return phrases.empty() ? std::string() : phrases[0];
    std::vector<icu::UnicodeString> items;
    for (const auto& p : phrases) items.push_back(icu::UnicodeString::fromUTF8(p));
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::ListFormatter> formatter(
        icu::ListFormatter::createInstance(icu::Locale::getDefault(), ULISTFMT_TYPE_AND, ULISTFMT_WIDTH_WIDE, status));
    icu::UnicodeString joined;
    if (formatter && U_SUCCESS(status)) formatter->format(items.data(), std::int32_t(items.size()), joined, status);
    std::string out;
    if (formatter && U_SUCCESS(status)) return joined.toUTF8String(out);
    // Without locale data: the plain comma list.
    for (const auto& p : phrases) out += (out.empty() ? "" : ", ") + p;
    return out;
}

struct LayerRow {
    LayerId id;
    const char* tag;
    const char* name;
};
constexpr LayerRow layerRows[] = {
    {LayerId::overlay, "OVL", "Overlay"},
    {LayerId::media, "MED", "Media"},
    {LayerId::background, "BG", "Background"},
    {LayerId::audio, "AUD", "Audio"},
};

}  // namespace

OutputStatus AppState::outputStatus() const {
    const ProgramState& s = program.state();
    if (s.black) return OutputStatus::black;
    for (LayerId l : {LayerId::background, LayerId::media, LayerId::overlay, LayerId::audio})
        if (s.layers[l].active) return OutputStatus::live;
    return OutputStatus::offline;
}

std::string AppState::timecode(double seconds) const {
    const std::int64_t fps = std::max<std::int64_t>(stageFps(), 1);
    // Negative and not-finite times (an unknown playhead) show zero.
    const double t = std::isfinite(seconds) && seconds > 0 ? seconds : 0;
    // Beyond what a frame count can hold the clock stops at its largest value rather than wrapping.
    const double frames = std::floor(t * double(fps));
    const std::int64_t totalFrames =
        frames < 9.2e18 ? std::int64_t(frames) : std::numeric_limits<std::int64_t>::max();
    const std::int64_t totalSeconds = totalFrames / fps;
    return fmt::format("{:02}:{:02}:{:02}:{:02}", totalSeconds / 3600, totalSeconds / 60 % 60, totalSeconds % 60,
                       totalFrames - totalSeconds * fps);
}

std::string AppState::resolution() const { return fmt::format("{}x{}", stageWidth(), stageHeight()); }

void AppState::setResolution(const std::string& text) {
    const auto size = parseResolution(text);
    if (!size) return;
    program.setStage([&](StageConfig& stage) {
        stage.width = size->first;
        stage.height = size->second;
    });
}

void AppState::setStageWidth(std::int64_t width) {
    if (width < 1) return;
    program.setStage([&](StageConfig& stage) { stage.width = width; });
}

void AppState::setStageHeight(std::int64_t height) {
    if (height < 1) return;
    program.setStage([&](StageConfig& stage) { stage.height = height; });
}

void AppState::setStageFps(std::int64_t fps) {
    if (fps < 1) return;
    program.setStage([&](StageConfig& stage) { stage.fps = fps; });
}

void AppState::setSettingsSection(SettingsSection section) {
    if (section == settingsSection_) return;
    settingsSection_ = section;
    notify(Aspect::settingsSection);
}

std::string AppState::frameRate() const { return fmt::format("{}p", stageFps()); }

void AppState::setFrameRate(const std::string& text) {
    const auto fps = parseFrameRate(text);
    if (!fps) return;
    program.setStage([&](StageConfig& stage) { stage.fps = *fps; });
}

namespace {

std::vector<std::string> withCustom(std::span<const std::string_view> presets, const std::vector<std::string>& custom) {
    std::vector<std::string> out(presets.begin(), presets.end());
    for (const auto& c : custom)
        if (std::find(presets.begin(), presets.end(), c) == presets.end()) out.push_back(c);
    return out;
}

}  // namespace

std::vector<std::string> AppState::resolutionOptions() const {
    return withCustom(presetResolutions, settings_.customResolutions);
}

std::vector<std::string> AppState::frameRateOptions() const {
    return withCustom(presetFrameRates, settings_.customFrameRates);
}

void AppState::rememberCustomResolution(const std::string& text) {
    const auto size = parseResolution(text);
    if (!size || size->first < 1 || size->second < 1) return;
    const std::string value = fmt::format("{}x{}", size->first, size->second);
    if (std::find(presetResolutions.begin(), presetResolutions.end(), value) != presetResolutions.end()) return;
    rememberCustom(value, &AppSettings::customResolutions);
}

void AppState::rememberCustomFrameRate(const std::string& text) {
    const auto fps = parseFrameRate(text);
    if (!fps || *fps < 1) return;
    const std::string value = fmt::format("{}p", *fps);
    if (std::find(presetFrameRates.begin(), presetFrameRates.end(), value) != presetFrameRates.end()) return;
    rememberCustom(value, &AppSettings::customFrameRates);
}

void AppState::rememberCustom(const std::string& value, std::vector<std::string> AppSettings::*list) {
    constexpr std::size_t kept = 8;
    std::vector<std::string> next = settings_.*list;
    std::erase(next, value);
    next.push_back(value);
    if (next.size() > kept) next.erase(next.begin(), next.end() - kept);
    if (next == settings_.*list) return;
    AppSettings changed = settings_;
    changed.*list = std::move(next);
    setSettings(std::move(changed));
}

std::vector<LayerVM> AppState::layerVMs() const {
    std::vector<LayerVM> rows;
    for (const LayerRow& row : layerRows) {
        LayerVM vm{row.id, row.tag, row.name, false, std::nullopt, std::nullopt};
        if (const auto& cue = program.state().layers[row.id].active) {
            vm.isLive = true;
            vm.kind = cue->kind;
            if (const MediaItem* item = library.item(cue->mediaId)) vm.mediaName = item->name;
        }
        rows.push_back(std::move(vm));
    }
    return rows;
}

std::optional<DisplayId> AppState::controllerDisplayID() const {
    return mainWindowDisplay ? mainWindowDisplay() : std::nullopt;
}

std::optional<DisplayBlockReason> AppState::outputBlockReason(const DisplayOutputManager::DisplayInfo& info) const {
    if (info.isPrimary && !settings_.allowOutputOnPrimaryDisplay) return DisplayBlockReason::primary;
    const auto controller = controllerDisplayID();
    if (!controller || *controller != info.id) return std::nullopt;
    if (settings_.allowOutputOnControllerDisplay) return std::nullopt;
    return DisplayBlockReason::controller;
}

std::string AppState::unusableFileMessage(const std::vector<std::string>& paths) {
    constexpr std::size_t named = 5;
    std::string text;
    bool folder = false;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        std::string path = paths[i];
        while (path.size() > 1 && path.back() == '/') path.pop_back();
        std::error_code ec;
        if (std::filesystem::is_directory(path, ec)) folder = true;
        if (i >= named) continue;
        if (i) text += ", ";
        text += "\u201C" + std::filesystem::path(path).filename().string() + "\u201D";
    }
    if (paths.size() > named) text += fmt::format(", and {} more couldn't be added.", paths.size() - named);
    else text += " couldn't be added.";
    if (folder)
        text += fmt::format(" {} couldn't read inside that folder. Check that you are allowed to open it, or drop "
                            "the files themselves in instead of the folder.",
                            product::name);
    else
        text += fmt::format(" {} plays video, images, and audio. To put a document or a slide deck on screen, "
                            "export it as a PDF and drop that in.",
                            product::name);
    return text;
}

std::string AppState::boardTitle() const {
    const auto ids = selectedPlaylistIds();
    if (ids.size() >= 2) return fmt::format("{} Playlists", ids.size());
    if (ids.size() == 1)
        for (const Group& g : library.groups())
            if (g.id == ids[0]) return g.name;
    return "All Playlists";
}

std::string AppState::boardSubtitle() const {
    if (selectedPlaylistIds().empty())
        return fmt::format("{} playlists \u00B7 {} media", library.groups().size(), library.media().size());
    std::size_t shown = 0;
    for (const auto& section : boardSections()) shown += section.items.size();
    return fmt::format("{} media", shown);
}

std::string AppState::showActivitySummary(const ShowActivity& a) {
    std::vector<std::string> phrases;
    const auto counted = [&](auto n, const char* one, const char* many) {
        phrases.push_back(fmt::format("{}{}", n, n == 1 ? one : many));
    };
    if (a.liveLayers) counted(a.liveLayers, " layer is live", " layers are live");
    if (a.openDisplays) counted(a.openDisplays, " display output is open", " display outputs are open");
    if (a.outputPages >= 1) counted(a.outputPages, " browser output connected", " browser outputs connected");
    if (a.ndi) phrases.emplace_back("NDI is on");
    if (a.syphon) phrases.emplace_back("Syphon is on");
    if (a.controllers >= 1) counted(a.controllers, " controller is connected", " controllers are connected");
    return joinAsList(phrases);
}

}  // namespace ombry
