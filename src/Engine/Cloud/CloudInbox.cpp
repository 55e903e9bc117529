#include "Engine/Model/TextBytes.hpp"
#include "Engine/Cloud/CloudInbox.hpp"

#include <curl/curl.h>
#include <fcntl.h>
#include <openssl/rand.h>
#include <unicode/uchar.h>
#include <unicode/utf8.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "Engine/Library/Library.hpp"
#include "Engine/Library/Store.hpp"
#include "Platform/Uuid.hpp"

namespace ombry {

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

void initCurl() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool unreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == '~';
}

std::string percentEncoded(const std::string& s, const char* alsoAllowed) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : s) {
        if (unreserved(c) || (c != 0 && std::strchr(alsoAllowed, c))) {
            out.push_back(char(c));
        } else {
            out.push_back('%');
            out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 15]);
        }
    }
    return out;
}

struct CurlUrl {
    CURLU* h = curl_url();
    ~CurlUrl() { curl_url_cleanup(h); }
    std::optional<std::string> get(CURLUPart part) const {
        char* v = nullptr;
        if (curl_url_get(h, part, &v, 0) != CURLUE_OK || !v) return std::nullopt;
        std::string out = v;
        curl_free(v);
        return out;
    }
};

struct Silence {
    double seconds = 0;
};

// One request's state, shared with libcurl's callbacks on the calling thread.
struct Transfer {
    enum class Body { discard, json, file };

    CURL* curl = nullptr;
    Body body = Body::discard;
    const CloudInbox::Cancelled* cancelled = nullptr;
    double silence = 30;
    Clock::time_point lastActivity = Clock::now();
    curl_off_t lastDown = -1, lastUp = -1;
    bool headersDone = false;
    long status = 0;
    std::optional<CloudFailure> failure;  // why we ended the transfer ourselves

    // json
    std::string text;
    // file
    std::int64_t maxBytes = 0;
    fs::path path;
    int fd = -1;
    bool created = false;
    std::vector<char> buffer;
    std::int64_t received = 0;
    Clock::time_point lastReport;
    const CloudInbox::Progress* progress = nullptr;

    std::optional<CloudFailure> writeBlock() {
        const char* p = buffer.data();
        size_t left = buffer.size();
        while (left > 0) {
            const ssize_t n = ::write(fd, p, left);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return CloudFailure::transport(std::string("couldn't write the download: ") + std::strerror(errno));
            p += n;
            left -= size_t(n);
        }
        received += std::int64_t(buffer.size());
        buffer.clear();
        if (received > maxBytes) return CloudFailure::of(InboxError::of(InboxError::Kind::tooLarge));
        return std::nullopt;
    }
    void report() {
        if (progress && *progress) (*progress)(received);
    }
};

// At the end of each header block: the final answer's status and announced length decide whether the body
// is wanted at all.
std::optional<CloudFailure> headersEnded(Transfer& t) {
    curl_easy_getinfo(t.curl, CURLINFO_RESPONSE_CODE, &t.status);
    if (t.status >= 100 && t.status < 200) return std::nullopt;  // an interim answer; the real one follows
    t.headersDone = true;
    if (t.status != 200) return CloudFailure::of(InboxError::http(int(t.status)));
    if (t.body != Transfer::Body::file) return std::nullopt;
    curl_off_t announced = -1;
    curl_easy_getinfo(t.curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
    if (announced >= 1 && announced > t.maxBytes) return CloudFailure::of(InboxError::of(InboxError::Kind::tooLarge));
    t.fd = ::open(t.path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (t.fd < 0) return CloudFailure::of(InboxError::of(InboxError::Kind::badResponse));
    t.created = true;
    t.buffer.reserve(CloudInbox::downloadBlock);
    t.lastReport = Clock::now();
    return std::nullopt;
}

size_t onHeader(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const size_t n = size * count;
    t->lastActivity = Clock::now();
    if (n == 2 && data[0] == '\r' && data[1] == '\n') {
        if ((t->failure = headersEnded(*t))) return 0;
    } else if (n == 1 && data[0] == '\n') {
        if ((t->failure = headersEnded(*t))) return 0;
    }
    return n;
}

size_t onBody(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const size_t n = size * count;
    t->lastActivity = Clock::now();
    if (!t->headersDone) {
        t->failure = CloudFailure::of(InboxError::of(InboxError::Kind::badResponse));
        return 0;
    }
    switch (t->body) {
    case Transfer::Body::discard: return n;
    case Transfer::Body::json:
        if (t->text.size() + n > CloudInbox::maxAnswerBytes) {
            t->failure = CloudFailure::of(InboxError::of(InboxError::Kind::badResponse));
            return 0;
        }
        t->text.append(data, n);
        return n;
    case Transfer::Body::file:
        for (size_t at = 0; at < n;) {
            const size_t take = std::min(n - at, CloudInbox::downloadBlock - t->buffer.size());
            t->buffer.insert(t->buffer.end(), data + at, data + at + take);
            at += take;
            if (t->buffer.size() == CloudInbox::downloadBlock) {
                if ((t->failure = t->writeBlock())) return 0;
                if (secondsSince(t->lastReport) > CloudInbox::progressInterval) {
                    t->lastReport = Clock::now();
                    t->report();
                }
            }
        }
        return n;
    }
    return n;
}

// Called often while the request runs: ends it when it is cancelled or has been silent too long.
int onProgress(void* user, curl_off_t, curl_off_t down, curl_off_t, curl_off_t up) {
    auto* t = static_cast<Transfer*>(user);
    if (t->cancelled && *t->cancelled && (*t->cancelled)()) {
        t->failure = CloudFailure::transport("the request was cancelled", true);
        return 1;
    }
    if (down != t->lastDown || up != t->lastUp) {
        t->lastDown = down;
        t->lastUp = up;
        t->lastActivity = Clock::now();
    } else if (secondsSince(t->lastActivity) > t->silence) {
        t->failure = CloudFailure::transport("the inbox service did not answer in time");
        return 1;
    }
    return 0;
}

struct Request {
    const char* method = "GET";
    std::string url;
    std::optional<std::string> body;  // JSON
    std::optional<std::string> secret;
    double silence = 30;
    double totalLimit = 0;  // 0: none
};

// Runs the request to its end on this thread. The multi interface is polled in short steps so that the
// progress callback sees cancellation and silence promptly, whatever the transfer is doing.
std::optional<CloudFailure> perform(const Request& r, Transfer& t, const CloudInbox::Cancelled& cancelled) {
    initCurl();
    t.curl = curl_easy_init();
    if (!t.curl) return CloudFailure::transport("the network library could not start");
    t.cancelled = &cancelled;
    t.silence = r.silence;
    char error[CURL_ERROR_SIZE] = {};
    curl_slist* headers = nullptr;
    if (r.secret) headers = curl_slist_append(headers, ("X-App-Secret: " + *r.secret).c_str());
    // Without a body, no type either (libcurl would name a form for an empty POST).
    headers = curl_slist_append(headers, r.body ? "Content-Type: application/json" : "Content-Type:");
    headers = curl_slist_append(headers, "Expect:");
    curl_easy_setopt(t.curl, CURLOPT_URL, r.url.c_str());
    curl_easy_setopt(t.curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(t.curl, CURLOPT_CUSTOMREQUEST, r.method);
    if (std::strcmp(r.method, "GET") == 0) curl_easy_setopt(t.curl, CURLOPT_HTTPGET, 1L);
    if (r.body) {
        curl_easy_setopt(t.curl, CURLOPT_POSTFIELDS, r.body->c_str());
        curl_easy_setopt(t.curl, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(r.body->size()));
    } else if (std::strcmp(r.method, "POST") == 0) {
        curl_easy_setopt(t.curl, CURLOPT_POSTFIELDS, "");
        curl_easy_setopt(t.curl, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(0));
    }
    curl_easy_setopt(t.curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(t.curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(t.curl, CURLOPT_ERRORBUFFER, error);
    curl_easy_setopt(t.curl, CURLOPT_CONNECTTIMEOUT_MS, long(std::max(1.0, r.silence * 1000)));
    if (r.totalLimit > 0) curl_easy_setopt(t.curl, CURLOPT_TIMEOUT_MS, long(std::max(1.0, r.totalLimit * 1000)));
    curl_easy_setopt(t.curl, CURLOPT_BUFFERSIZE, long(CloudInbox::downloadBlock));
    curl_easy_setopt(t.curl, CURLOPT_HEADERFUNCTION, onHeader);
    curl_easy_setopt(t.curl, CURLOPT_HEADERDATA, &t);
    curl_easy_setopt(t.curl, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(t.curl, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(t.curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(t.curl, CURLOPT_XFERINFOFUNCTION, onProgress);
    curl_easy_setopt(t.curl, CURLOPT_XFERINFODATA, &t);

    CURLM* multi = curl_multi_init();
    curl_multi_add_handle(multi, t.curl);
    CURLcode rc = CURLE_OK;
    for (int running = 1; running;) {
        if (curl_multi_perform(multi, &running) != CURLM_OK) {
            rc = CURLE_FAILED_INIT;
            break;
        }
        if (running) curl_multi_poll(multi, nullptr, 0, 50, nullptr);
    }
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi, &left))
        if (msg->msg == CURLMSG_DONE) rc = msg->data.result;
    curl_multi_remove_handle(multi, t.curl);
    curl_multi_cleanup(multi);
    curl_slist_free_all(headers);

    std::optional<CloudFailure> failure = t.failure;
    if (!failure && rc != CURLE_OK) {
        if (rc == CURLE_OPERATION_TIMEDOUT)
            failure = CloudFailure::transport("the inbox service did not answer in time");
        else
            failure = CloudFailure::transport(std::string("couldn't reach the inbox service: ") +
                                              (error[0] ? error : curl_easy_strerror(rc)));
    }
    if (!failure && !t.headersDone) failure = CloudFailure::of(InboxError::of(InboxError::Kind::badResponse));
    if (!failure && t.status != 200) failure = CloudFailure::of(InboxError::http(int(t.status)));
    curl_easy_cleanup(t.curl);
    t.curl = nullptr;
    return failure;
}

template <class T>
CloudResult<T> decodeAnswer(const std::string& text) {
    try {
        return decodeJsonText<T>(text);
    } catch (const DecodeError& e) {
        return CloudFailure::decoding(e.what());
    }
}

}  // namespace

CloudInbox::Timeouts& CloudInbox::timeouts() {
    static Timeouts t;
    return t;
}

std::string InboxError::description() const {
    switch (kind) {
    case Kind::http:
        if (status == 401) return "the service no longer recognizes this app's inbox credentials";
        if (status == 404) return "this app's inbox no longer exists on the service";
        return "inbox service returned HTTP " + std::to_string(status);
    case Kind::badResponse: return "unexpected response from the inbox service";
    case Kind::tooLarge: return "file is larger than this app accepts";
    case Kind::unsupportedType: return "unsupported file type";
    }
    return {};
}

std::string CloudFailure::description() const {
    switch (kind) {
    case Kind::inbox: return inbox.description();
    case Kind::transport: return text;
    case Kind::decoding: return "unreadable answer from the inbox service (" + text + ")";
    }
    return text;
}

Json toJson(const CloudLedger& l) {
    Json keys = Json::array();
    for (const auto& k : l.ingested) keys.push_back(k);
    return Json{{"ingested", keys}};
}

void fromJson(const Json& j, CloudLedger& l) {
    ObjectReader r(j);
    const auto keys = r.required<std::vector<std::string>>("ingested");
    l.ingested = std::set<std::string>(keys.begin(), keys.end());
}

Json toJson(const CloudInbox::PendingItem& i) {
    return ObjectWriter()
        .put("key", i.key)
        .put("size", i.size)
        .put("filename", i.filename)
        .put("title", i.title)
        .put("playlist", i.playlist)
        .put("uploaded", i.uploaded)
        .done();
}

void fromJson(const Json& j, CloudInbox::PendingItem& i) {
    ObjectReader r(j);
    r.required("key", i.key);
    r.required("size", i.size);
    r.required("filename", i.filename);
    r.required("title", i.title);
    r.required("playlist", i.playlist);
    r.required("uploaded", i.uploaded);
}

namespace {
struct ItemList {
    std::vector<CloudInbox::PendingItem> items;
};
void fromJson(const Json& j, ItemList& l) { l.items = ObjectReader(j).required<std::vector<CloudInbox::PendingItem>>("items"); }
}  // namespace

void fromJson(const Json& j, CloudInbox::Registration& r) {
    ObjectReader o(j);
    o.required("inboxId", r.inboxId);
    o.required("appSecret", r.appSecret);
}

std::optional<std::string> CloudInbox::serviceURL(const std::string& typed) {
    std::string text = trimWhiteSpace(typed);
    while (!text.empty() && text.back() == '/') text.pop_back();
    if (text.empty()) return std::nullopt;
    CurlUrl u;
    if (!u.h || curl_url_set(u.h, CURLUPART_URL, text.c_str(), 0) != CURLUE_OK) return std::nullopt;
    auto scheme = u.get(CURLUPART_SCHEME);
    if (!scheme) return std::nullopt;
    std::transform(scheme->begin(), scheme->end(), scheme->begin(), [](unsigned char c) { return char(std::tolower(c)); });
    if (*scheme != "http" && *scheme != "https") return std::nullopt;
    if (!u.get(CURLUPART_HOST)) return std::nullopt;
    return text;
}

std::string CloudInbox::appendPath(const std::string& base, const std::string& path) {
    CurlUrl u;
    if (!u.h || curl_url_set(u.h, CURLUPART_URL, base.c_str(), 0) != CURLUE_OK) return base + path;
    std::string own = u.get(CURLUPART_PATH).value_or("");
    while (!own.empty() && own.back() == '/') own.pop_back();
    std::string tail = percentEncoded(path, "!$&'()*+,;=:@/");
    if (tail.empty() || tail.front() != '/') tail.insert(0, "/");
    curl_url_set(u.h, CURLUPART_PATH, (own + tail).c_str(), 0);
    curl_url_set(u.h, CURLUPART_FRAGMENT, nullptr, 0);
    return u.get(CURLUPART_URL).value_or(base + path);
}

std::string CloudInbox::requestURL(const std::string& tail,
                                   const std::vector<std::pair<std::string, std::string>>& query) const {
    std::string url = appendPath(baseURL, "/u/" + inboxId + "/" + tail);
    if (query.empty()) return url;
    std::string q;
    for (const auto& [k, v] : query) q += (q.empty() ? "" : "&") + percentEncoded(k, "") + "=" + percentEncoded(v, "");
    CurlUrl u;
    if (!u.h || curl_url_set(u.h, CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) return url + "?" + q;
    curl_url_set(u.h, CURLUPART_QUERY, q.c_str(), 0);
    return u.get(CURLUPART_URL).value_or(url + "?" + q);
}

CloudResult<CloudInbox::Registration> CloudInbox::registerInbox(const std::string& service, const Cancelled& cancelled) {
    const auto base = serviceURL(service);
    if (!base) return CloudFailure::of(InboxError::of(InboxError::Kind::badResponse));
    Request r{"POST", appendPath(*base, "/api/register"), compactJson(Json{{"app", "ombry"}}), std::nullopt,
              timeouts().registerInbox};
    Transfer t;
    t.body = Transfer::Body::json;
    if (auto failure = perform(r, t, cancelled)) return *failure;
    return decodeAnswer<Registration>(t.text);
}

CloudResult<std::monostate> CloudInbox::configure(const std::optional<std::string>& password,
                                                  const std::optional<std::vector<std::string>>& playlists,
                                                  const Cancelled& cancelled) const {
    Json body = Json::object();
    if (password) body["password"] = *password;
    if (playlists) body["playlists"] = *playlists;
    if (body.empty()) return std::monostate{};
    Request r{"POST", requestURL("app/config"), compactJson(body), appSecret, timeouts().configure};
    Transfer t;
    if (auto failure = perform(r, t, cancelled)) return *failure;
    return std::monostate{};
}

CloudResult<std::vector<CloudInbox::PendingItem>> CloudInbox::wait(const Cancelled& cancelled) const {
    Request r{"GET", requestURL("app/wait", {{"timeout", waitSeconds}}), std::nullopt, appSecret, timeouts().wait};
    Transfer t;
    t.body = Transfer::Body::json;
    if (auto failure = perform(r, t, cancelled)) return *failure;
    auto list = decodeAnswer<ItemList>(t.text);
    if (auto* f = std::get_if<CloudFailure>(&list)) return *f;
    return std::move(std::get<ItemList>(list).items);
}

std::string CloudInbox::extensionOf(const std::string& filename) {
    const std::string last = filename.substr(filename.find_last_of('/') == std::string::npos ? 0 : filename.find_last_of('/') + 1);
    std::string ext = fs::path(last).extension().string();
    return ext.empty() ? ext : ext.substr(1);
}

CloudResult<std::string> CloudInbox::download(const PendingItem& item, std::int64_t maxBytes, const Progress& progress,
                                              const Cancelled& cancelled) const {
    if (!Library::kind(item.filename)) return CloudFailure::of(InboxError::of(InboxError::Kind::unsupportedType));
    if (item.size > maxBytes) return CloudFailure::of(InboxError::of(InboxError::Kind::tooLarge));
    Request r{"GET", requestURL("app/file", {{"key", item.key}}), std::nullopt, appSecret, timeouts().download};
    Transfer t;
    t.body = Transfer::Body::file;
    t.maxBytes = maxBytes;
    t.progress = &progress;
    const std::string ext = extensionOf(item.filename);
    std::error_code ec;
    fs::create_directories(Store::mediaIncomingDir(), ec);
    t.path = Store::mediaIncomingDir() / (makeUuid() + (ext.empty() ? "" : "." + ext));
    std::optional<CloudFailure> failure = perform(r, t, cancelled);
    if (!failure && t.fd < 0) failure = CloudFailure::of(InboxError::of(InboxError::Kind::badResponse));
    if (!failure && !t.buffer.empty()) failure = t.writeBlock();
    if (!failure) {
        t.report();
        const int fd = std::exchange(t.fd, -1);
        if (::close(fd) != 0) failure = CloudFailure::transport(std::string("couldn't write the download: ") + std::strerror(errno));
    }
    if (failure) {
        if (t.fd >= 0) ::close(t.fd);
        if (t.created) fs::remove(t.path, ec);
        return *failure;
    }
    return t.path.string();
}

CloudResult<std::monostate> CloudInbox::deleteItem(const std::string& key, const Cancelled& cancelled) const {
    Request r{"DELETE", requestURL("app/file", {{"key", key}}), std::nullopt, appSecret, timeouts().deleteItem};
    Transfer t;
    if (auto failure = perform(r, t, cancelled)) return *failure;
    return std::monostate{};
}

void CloudInbox::goOffline(const Cancelled& cancelled) const {
    Request r{"POST", requestURL("app/offline"), std::nullopt, appSecret, timeouts().offline, timeouts().offline};
    Transfer t;
    perform(r, t, cancelled);
}

const std::vector<std::string>& CloudInbox::adjectives() {
    static const std::vector<std::string> words{
        "amber", "aqua",  "ashen", "azure", "blond", "brave", "brisk", "cedar", "coral",  "crisp",  "dusty", "early",
        "ember", "faded", "fiery", "frost", "gilt",  "glassy", "golden", "hazel", "icy",   "ivory",  "jade",  "keen",
        "lively", "lunar", "milky", "misty", "mossy", "neon",  "night", "olive", "onyx",  "opal",   "pale",  "pearl",
        "plaid", "quiet", "rosy",  "rusty", "sable", "sandy", "solar", "stony", "tidal", "umber", "vivid", "wispy"};
    return words;
}

const std::vector<std::string>& CloudInbox::animals() {
    static const std::vector<std::string> words{
        "badger", "bison",  "cobra", "condor", "crane", "dingo", "eagle",  "egret",  "falcon", "fennec", "ferret",
        "finch",  "gecko",  "goose", "hawk",   "heron", "hyena", "ibis",   "iguana", "jackal", "jaguar", "koala",
        "lemur",  "linnet", "lizard", "llama", "lynx",  "macaw", "marmot", "marten", "moose",  "newt",   "ocelot",
        "osprey", "otter",  "owl",   "panda",  "pelican", "puffin", "puma", "quail",  "raven",  "robin",  "serval",
        "stork",  "tapir",  "toucan", "weasel"};
    return words;
}

namespace {
// A uniform draw from 0..<n; values of the top partial range are drawn again.
std::uint32_t uniform(std::uint32_t n) {
    const std::uint32_t limit = std::uint32_t((std::uint64_t(1) << 32) - ((std::uint64_t(1) << 32) % n));
    for (;;) {
        std::uint32_t v = 0;
        if (RAND_bytes(reinterpret_cast<unsigned char*>(&v), sizeof v) != 1)
            throw std::runtime_error("the secure random generator failed");
        if (limit == 0 || v < limit) return v % n;
    }
}
}  // namespace

std::string CloudInbox::makeUploadPassword() {
    const auto& a = adjectives();
    const auto& b = animals();
    return a[uniform(std::uint32_t(a.size()))] + "-" + b[uniform(std::uint32_t(b.size()))] + "-" +
           std::to_string(1000 + uniform(9000));
}

}  // namespace ombry
