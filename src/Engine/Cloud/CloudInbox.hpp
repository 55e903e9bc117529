#pragma once
// The client of the internet upload inbox service, and the records the pull loop and the views share.
// Every request is blocking and runs on the caller's thread (the application state runs them on its cloud
// workers); the client keeps no state beyond its three fields.
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "Engine/Model/JsonCoding.hpp"
#include "Engine/Model/Protocol.hpp"

namespace ombry {

// The client's own failures, each with the sentence the operator reads.
struct InboxError {
    enum class Kind { http, badResponse, tooLarge, unsupportedType };
    Kind kind = Kind::badResponse;
    int status = 0;  // http only

    static InboxError http(int status) { return {Kind::http, status}; }
    static InboxError of(Kind kind) { return {kind, 0}; }
    std::string description() const;
    bool operator==(const InboxError& o) const { return kind == o.kind && (kind != Kind::http || status == o.status); }
};

// Why a request failed: one of the client's own errors, the transport's (no connection, silence past the
// time-out, cancelled), or an answer that did not decode.
struct CloudFailure {
    enum class Kind { inbox, transport, decoding };
    Kind kind = Kind::transport;
    InboxError inbox;
    std::string text;  // transport and decoding: the reason
    bool cancelled = false;

    static CloudFailure of(InboxError e) { return {Kind::inbox, e, {}, false}; }
    static CloudFailure transport(std::string why, bool cancelled = false) {
        return {Kind::transport, {}, std::move(why), cancelled};
    }
    static CloudFailure decoding(std::string why) { return {Kind::decoding, {}, std::move(why), false}; }
    bool is(InboxError::Kind k) const { return kind == Kind::inbox && inbox.kind == k; }
    std::string description() const;
};

template <class T>
using CloudResult = std::variant<T, CloudFailure>;

// One progress row of a running download (kept in memory only).
struct CloudDownload {
    std::string id;
    std::string name;
    std::optional<MediaKind> kind;
    std::int64_t received = 0;
    std::int64_t total = 0;
    bool operator==(const CloudDownload&) const = default;
};

// The latest outcome of the pull loop (kept in memory only).
struct CloudSyncStatus {
    double lastSync = 0;  // ms since 1970
    int pulled = 0;
    std::optional<std::string> error;
    bool operator==(const CloudSyncStatus&) const = default;
};

// The inbox keys handled (taken in or refused) whose deletion on the service is still owed.
struct CloudLedger {
    std::set<std::string> ingested;
    bool operator==(const CloudLedger&) const = default;
};
Json toJson(const CloudLedger&);
void fromJson(const Json&, CloudLedger&);

struct CloudInbox {
    // One upload waiting in the inbox; every key is required.
    struct PendingItem {
        std::string key;
        std::int64_t size = 0;
        std::string filename;
        std::string title;
        std::string playlist;
        std::string uploaded;
        bool operator==(const PendingItem&) const = default;
    };
    struct Registration {
        std::string inboxId;
        std::string appSecret;
        bool operator==(const Registration&) const = default;
    };
    // True when the request should end as cancelled; asked often while a request runs, on its thread.
    using Cancelled = std::function<bool()>;
    // The cumulative bytes written; called on the request's thread.
    using Progress = std::function<void(std::int64_t)>;

    // Time-outs: the longest silence each request tolerates, in seconds (goOffline: its whole length).
    struct Timeouts {
        double registerInbox = 60, configure = 30, wait = 65, download = 3600, deleteItem = 30, offline = 2;
    };
    // Tests shorten them before any request runs.
    static Timeouts& timeouts();
    // What the long poll asks the service to hold it for.
    static constexpr const char* waitSeconds = "55";
    static constexpr std::size_t downloadBlock = 262144;
    static constexpr double progressInterval = 0.2;
    // The largest JSON answer read; a longer one is refused as a bad response.
    static constexpr std::size_t maxAnswerBytes = 8u << 20;

    std::string baseURL;  // normalised by serviceURL
    std::string inboxId;
    std::string appSecret;

    // The typed address without surrounding blanks and trailing "/", when it is an http or https URL.
    static std::optional<std::string> serviceURL(const std::string& typed);

    static CloudResult<Registration> registerInbox(const std::string& service, const Cancelled& cancelled = {});
    // Sends nothing when both are absent.
    CloudResult<std::monostate> configure(const std::optional<std::string>& password,
                                          const std::optional<std::vector<std::string>>& playlists,
                                          const Cancelled& cancelled = {}) const;
    CloudResult<std::vector<PendingItem>> wait(const Cancelled& cancelled = {}) const;
    // Streams the upload into a new file in the incoming folder; on failure no file is left.
    CloudResult<std::string> download(const PendingItem& item, std::int64_t maxBytes, const Progress& progress = {},
                                      const Cancelled& cancelled = {}) const;
    CloudResult<std::monostate> deleteItem(const std::string& key, const Cancelled& cancelled = {}) const;
    // Never fails and never takes longer than the offline time-out.
    void goOffline(const Cancelled& cancelled = {}) const;

    // "<adjective>-<animal>-<1000..9999>" from the secure random generator.
    static std::string makeUploadPassword();
    static const std::vector<std::string>& adjectives();
    static const std::vector<std::string>& animals();

    // The destination extension: the text after the last "." of the name's last component, case kept.
    static std::string extensionOf(const std::string& filename);
    // The request URL of an inbox operation ("app/wait", …) with its query items, each value encoded.
    std::string requestURL(const std::string& tail, const std::vector<std::pair<std::string, std::string>>& query = {}) const;
    // The base address with the path appended after its own path.
    static std::string appendPath(const std::string& base, const std::string& path);

    bool operator==(const CloudInbox&) const = default;
};

Json toJson(const CloudInbox::PendingItem&);
void fromJson(const Json&, CloudInbox::PendingItem&);
void fromJson(const Json&, CloudInbox::Registration&);

}  // namespace ombry
