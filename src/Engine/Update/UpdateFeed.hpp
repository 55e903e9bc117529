#pragma once
// The update feed: a JSON document at the address of "feedURL" in app-info.json that lists the released
// versions. Ombry only reads it and tells the operator about a newer version; the package manager installs.
//
//     {"items": [{"version": "1.4.0", "channel": "beta", "notesHTML": "<h2>New</h2><ul><li>…</li></ul>"}]}
//
// An item without "channel" is a regular release; one with a channel is offered only when that channel is
// allowed. Qt-free; fetch() blocks and runs off the main thread.
#include <atomic>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

namespace ombry {

struct UpdateItem {
    std::string version;
    std::optional<std::string> channel;
    std::optional<std::string> notesHTML;
    bool operator==(const UpdateItem&) const = default;
};

struct UpdateFeed {
    static constexpr std::size_t maxBytes = 1 << 20;
    static constexpr double timeLimit = 20;  // seconds for the whole request

    // The channels offered beside the regular releases: exactly {"beta"} when beta updates are wanted.
    static std::set<std::string> allowedChannels(bool receiveBetaUpdates);
    // Dotted numbers compared number by number ("1.10" after "1.9", "1.2" equal to "1.2.0"); a part that is
    // not a number comes before any number and compares with other text as text. Negative, zero or positive.
    static int compareVersions(const std::string& a, const std::string& b);
    // The items of a feed; an error sentence for a document that is not one. Items without a version
    // are skipped.
    static std::variant<std::vector<UpdateItem>, std::string> parse(const std::string& json);
    // The newest item newer than `current` that is a regular release or in an allowed channel.
    static std::optional<UpdateItem> newest(const std::vector<UpdateItem>& items, const std::string& current,
                                            const std::set<std::string>& allowedChannels);
    // GET of the feed (http or https only, at most maxBytes); the body, or an error sentence. Blocking;
    // `stop` turning true ends it as a failure.
    static std::variant<std::string, std::string> fetch(const std::string& url, const std::atomic<bool>* stop = nullptr,
                                                        double timeLimitSeconds = timeLimit);
    // "feedURL" of an app-info.json; empty when absent, not text or unreadable.
    static std::string feedURL(const std::filesystem::path& appInfo);
};

// The release notes kept from a found update, for the version they belong to.
struct UpdateNotes {
    // The style block the notes are shown with (dark text colours of the window).
    static const std::string& styleBlock();
    // The style block and the stored notes, when the notes are stored for exactly this version and are valid
    // UTF-8; nothing otherwise.
    static std::optional<std::string> document(const std::optional<std::string>& storedVersion,
                                               const std::optional<std::string>& storedHTML,
                                               const std::string& version);
};

}  // namespace ombry
