#include "Engine/Model/Issues.hpp"

#include <fmt/format.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "Platform/Clock.hpp"
#include "Platform/Defaults.hpp"
#include "Platform/Log.hpp"
#include "Platform/MainQueue.hpp"
#include "Platform/Paths.hpp"
#include "Platform/Uuid.hpp"
#include "Platform/Version.hpp"

namespace ombry {
namespace {

struct Entry {
    IssueCode code;
    std::string raw, title, advice;
};

const std::vector<Entry>& catalogue() {
    static const std::vector<Entry> entries = {
        {IssueCode::mediaMissing, "MED-01", "Clip is missing",
         "The file isn't where Ombry left it. Reconnect the drive it came from, or right-click the card and choose "
         "Relink."},
        {IssueCode::mediaFormat, "MED-02", "Clip won't play",
         "Linux can't decode this format. Re-export as H.264 or HEVC in a .mov or .mp4."},
        {IssueCode::mediaTimeout, "MED-03", "Clip took too long to load",
         "The drive may be slow, asleep, or disconnected. Try again, or copy the file to the internal disk."},
        {IssueCode::imageUnreadable, "MED-04", "Image won't open",
         "The file couldn't be read as an image. Re-export it as PNG or JPEG."},
        {IssueCode::mediaStoreFailed, "MED-05", "Couldn't add to the media library",
         "The file couldn't be written to the media library. Check free disk space, then try again."},
        {IssueCode::slidesImportFailed, "MED-06", "Slides won't import",
         "The pages couldn't be rendered. The PDF may be damaged or password-protected \u2014 re-export it and try "
         "again."},
        {IssueCode::sequenceImportFailed, "MED-07", "Image sequence won't import",
         "The frames couldn't be encoded into a clip. Check that every frame is a readable image of the same size, "
         "then drop the folder again."},
        {IssueCode::rendererFailed, "REN-01", "Video engine couldn't start",
         "The renderer failed to start up. Reinstall Ombry; if it keeps happening, send this code to support."},
        {IssueCode::displayOpenFailed, "DSP-01", "Couldn't open display output",
         "The display may have been disconnected. Check the cable, then open the output again."},
        {IssueCode::displayDisconnected, "DSP-02", "Display output stopped",
         "The display was disconnected or went to sleep, so its output closed. Reconnect it, then switch the output "
         "back on in the sidebar."},
        {IssueCode::ndiFailed, "OUT-01", "NDI output couldn't start",
         "The NDI runtime is missing or already in use. Install NDI Tools, then restart Ombry."},
        {IssueCode::syphonFailed, "OUT-02", "Syphon output couldn't start",
         "Another app may be holding the Syphon server. Restart Ombry."},
        {IssueCode::browserSourceCodec, "OUT-03", "OBS browser source can't play this clip",
         "Your other outputs are fine \u2014 display, NDI and Syphon all play it normally. Only the OBS browser "
         "source can't decode this codec, and will show nothing. Either point OBS at the Syphon or NDI source "
         "instead, or re-export the clip as H.264."},
        {IssueCode::outputServerFailed, "NET-01", "Browser output couldn't start",
         "Ombry couldn't open a network port for browser output. Quit any other copy of Ombry, then restart."},
        {IssueCode::controlServerFailed, "NET-02", "Remote control couldn't start",
         "Ombry couldn't open its remote-control port. Change the port in Settings \u203A Remote Control."},
        {IssueCode::projectOpenFailed, "PRJ-01", "Couldn't open project",
         "The file may be damaged, or saved by a newer version of Ombry."},
        {IssueCode::projectSaveFailed, "PRJ-02", "Couldn't save to disk",
         "Check the folder still exists and is writable, and that the disk isn't full."},
    };
    return entries;
}

const Entry& entry(IssueCode code) { return catalogue()[static_cast<size_t>(code)]; }

std::mutex presenterMutex;
std::function<void(const std::string&, const std::string&)> fatalPresenter;

}  // namespace

const std::string& rawValue(IssueCode code) { return entry(code).raw; }
const std::string& title(IssueCode code) { return entry(code).title; }
const std::string& advice(IssueCode code) { return entry(code).advice; }

std::optional<IssueCode> issueCodeFromRaw(const std::string& raw) {
    for (const auto& e : catalogue())
        if (e.raw == raw) return e.code;
    return std::nullopt;
}

std::string Issue::message() const {
    if (!subject) return advice();
    return "\u201C" + *subject + "\u201D \u2014 " + advice();
}

std::string Issue::summary() const {
    std::string s = rawValue(code);
    if (count >= 2) s += " \u00D7" + std::to_string(count);
    return s + " \u00B7 " + title() + " \u00B7 " + message();
}

std::string Issue::supportDetails(const std::optional<std::string>& shortVersion,
                                  const std::optional<std::string>& build, const std::string& osVersion) const {
    const std::string dash = "\u2014";
    return summary() + "\nOmbry " + shortVersion.value_or(dash) + " (" + build.value_or(dash) + ") \u00B7 " +
           osVersion;
}

std::string Issue::supportDetails() const {
    return supportDetails(std::string(version::shortVersion), std::string(version::build), paths::osDescription());
}

void Issue::log(IssueCode code, const std::optional<std::string>& subject, const std::optional<std::string>& error) {
    const std::string& raw = rawValue(code);
    logLine(LogLevel::error, raw.substr(0, 3),
            fmt::format("{} {} subject={} error={}", raw, ombry::title(code), subject.value_or("-"), error.value_or("-")),
            true);
}

void Issue::report(IssueCode code, const std::optional<std::string>& subject,
                   const std::optional<std::string>& error) {
    mainQueue().post([code, subject, error] { IssueLog::shared().report(code, subject, error, true); });
}

std::pair<std::string, std::string> Issue::fatalTexts(IssueCode code) {
    return {rawValue(code) + " \u00B7 " + ombry::title(code), ombry::advice(code)};
}

void Issue::setFatalPresenter(std::function<void(const std::string&, const std::string&)> p) {
    std::lock_guard lock(presenterMutex);
    fatalPresenter = std::move(p);
}

void Issue::fatal(IssueCode code) {
    log(code);
    auto [message, informative] = fatalTexts(code);
    std::function<void(const std::string&, const std::string&)> presenter;
    {
        std::lock_guard lock(presenterMutex);
        presenter = fatalPresenter;
    }
    if (presenter) {
        presenter(message, informative);
    } else {
        std::fprintf(stderr, "%s\n%s\n", message.c_str(), informative.c_str());
        std::fflush(stderr);
    }
    std::exit(1);
}

// IssueLog

IssueLog& IssueLog::shared() {
    static IssueLog log;
    return log;
}

void IssueLog::report(IssueCode code, const std::optional<std::string>& subject,
                      const std::optional<std::string>& error, bool automatic) {
    Issue::log(code, subject, error);
    const double now = appClock().wallMs();
    for (auto it = recent_.begin(); it != recent_.end(); ++it) {
        if (it->code != code || it->subject != subject) continue;
        Issue found = *it;
        if (automatic) found.count += 1;
        found.at = now;
        recent_.erase(it);
        recent_.insert(recent_.begin(), found);
        dismissed_.erase(found.id);
        changed();
        return;
    }
    recent_.insert(recent_.begin(), Issue{makeUuid(), code, subject, 1, now});
    while (recent_.size() > capacity) {
        dismissed_.erase(recent_.back().id);
        recent_.pop_back();
    }
    changed();
}

void IssueLog::resolve(std::optional<IssueCode> code, const std::optional<std::string>& subject) {
    if (!code && !subject) return;
    std::vector<Issue> kept;
    bool removed = false;
    for (auto& issue : recent_) {
        bool matches = (!code || issue.code == *code) && (!subject || (issue.subject && *issue.subject == *subject));
        if (matches) {
            dismissed_.erase(issue.id);
            removed = true;
        } else {
            kept.push_back(std::move(issue));
        }
    }
    recent_ = std::move(kept);
    if (removed) changed();
}

void IssueLog::dismiss(const Issue& issue) {
    dismissed_.insert(issue.id);
    changed();
}

void IssueLog::clear() {
    recent_.clear();
    dismissed_.clear();
    changed();
}

std::string IssueLog::codeDigest() const {
    std::string out;
    for (const auto& issue : recent_) {
        if (!out.empty()) out += ", ";
        out += rawValue(issue.code);
        if (issue.count >= 2) out += " \u00D7" + std::to_string(issue.count);
    }
    return out;
}

void IssueLog::changed() {
    if (onChange) onChange();
}

// Diag

void Diag::note(const std::string& category, const std::string& message) {
    logLine(LogLevel::notice, category, message, true);
}

void Diag::metric(const std::string& category, const std::string& message) {
    logLine(LogLevel::notice, category, message, false);
}

bool Diag::mediaNamesInLog() {
    static const bool value = standardDefaults().boolValue("logMediaNames", false);
    return value;
}

}  // namespace ombry
