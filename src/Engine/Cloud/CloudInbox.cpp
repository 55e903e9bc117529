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
#include <cstring>
#include <filesystem>

#include "Engine/Library/Library.hpp"
#include "Engine/Library/Store.hpp"
#include "Engine/Net/HttpTransfer.hpp"
#include "Platform/Clock.hpp"
#include "Platform/Uuid.hpp"

namespace ombry {

namespace fs = std::filesystem;

namespace {

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

CloudFailure writeFailure() {
    return CloudFailure::transport(std::string("couldn't write the download: ") + std::strerror(errno));
}

// What a request does with the answer: every status but 200 ends it; a JSON body is kept up to its cap; a
// file body is written in whole blocks, the limit checked at each.
class InboxAnswer final : public HttpSink {
public:
    enum class Body { discard, json, file };
    explicit InboxAnswer(Body body) : body_(body) {}

    std::optional<CloudFailure> failure;  // why the answer was refused
    CappedBody json{CloudInbox::maxAnswerBytes};
    // file
    std::int64_t maxBytes = 0;
    fs::path path;
    const CloudInbox::Progress* progress = nullptr;
    std::int64_t received = 0;

    ~InboxAnswer() override { discardFile(); }

    bool head(long status, std::int64_t announced) override {
        if (status != 200) return refuse(CloudFailure::of(InboxError::http(int(status))));
        if (body_ != Body::file) return true;
        if (announced >= 1 && announced > maxBytes) return refuse(CloudFailure::of(InboxError::of(InboxError::Kind::tooLarge)));
        fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd_ < 0) return refuse(CloudFailure::of(InboxError::of(InboxError::Kind::badResponse)));
        ownsFile_ = true;
        buffer_.reserve(CloudInbox::downloadBlock);
        lastReport_ = appClock().monotonic();
        return true;
    }

    bool body(const char* data, std::size_t n) override {
        switch (body_) {
        case Body::discard: return true;
        case Body::json:
            if (json.body(data, n)) return true;
            return refuse(CloudFailure::of(InboxError::of(InboxError::Kind::badResponse)));
        case Body::file: return fileBody(data, n);
        }
        return true;
    }

    // At the end of the body: the last short block, one progress call whatever the time, the close.
    std::optional<CloudFailure> finishFile() {
        if (fd_ < 0) return CloudFailure::of(InboxError::of(InboxError::Kind::badResponse));
        if (!buffer_.empty()) {
            if (auto f = writeBlock(buffer_.data(), buffer_.size())) return f;
            buffer_.clear();
        }
        report();
        if (::close(std::exchange(fd_, -1)) != 0) return writeFailure();
        ownsFile_ = false;  // finished: the caller's now
        return std::nullopt;
    }

    // Closes and deletes a file not finished, ignoring errors.
    void discardFile() {
        if (fd_ >= 0) ::close(std::exchange(fd_, -1));
        std::error_code ec;
        if (std::exchange(ownsFile_, false)) fs::remove(path, ec);
    }

private:
    bool refuse(CloudFailure f) {
        failure = std::move(f);
        return false;
    }

    bool fileBody(const char* data, std::size_t n) {
        const std::size_t block = CloudInbox::downloadBlock;
        while (n > 0) {
            // Whole blocks straight from libcurl's buffer when none is part-filled: the same writes without
            // the copy.
            const bool direct = buffer_.empty() && n >= block;
            const std::size_t take = direct ? block : std::min(n, block - buffer_.size());
            if (!direct) buffer_.insert(buffer_.end(), data, data + take);
            data += take;
            n -= take;
            if (!direct && buffer_.size() < block) break;
            if (auto f = writeBlock(direct ? data - take : buffer_.data(), block)) return refuse(std::move(*f));
            buffer_.clear();
            const double now = appClock().monotonic();
            if (now - lastReport_ > CloudInbox::progressInterval) {
                lastReport_ = now;
                report();
            }
        }
        return true;
    }

    std::optional<CloudFailure> writeBlock(const char* p, std::size_t size) {
        for (std::size_t left = size; left > 0;) {
            const ssize_t n = ::write(fd_, p, left);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return writeFailure();
            p += n;
            left -= std::size_t(n);
        }
        received += std::int64_t(size);
        if (received > maxBytes) return CloudFailure::of(InboxError::of(InboxError::Kind::tooLarge));
        return std::nullopt;
    }

    void report() {
        if (progress && *progress) (*progress)(received);
    }

    Body body_;
    int fd_ = -1;
    bool ownsFile_ = false;  // made by this answer and not finished
    std::vector<char> buffer_;
    double lastReport_ = 0;
};

struct Request {
    const char* method = "GET";
    std::string url;
    std::optional<std::string> body;  // JSON
    std::optional<std::string> secret;
    double silence = 30;
    double totalLimit = 0;  // 0: none
};

// Runs the request to its end on this thread; the sink's own refusal comes first, then the transport's.
std::optional<CloudFailure> perform(const Request& r, InboxAnswer& answer, const CloudInbox::Cancelled& cancelled) {
    HttpRequest h;
    h.url = r.url;
    h.method = r.method;
    h.body = r.body;
    if (r.secret) h.headers.push_back("X-App-Secret: " + *r.secret);
    // Without a body, no type either (libcurl would name a form for an empty POST).
    h.headers.push_back(r.body ? "Content-Type: application/json" : "Content-Type:");
    h.headers.push_back("Expect:");
    h.connectLimit = r.silence;
    h.silenceLimit = r.silence;
    h.timeLimit = r.totalLimit;
    h.receiveBuffer = long(CloudInbox::downloadBlock);
    h.cancelled = cancelled;
    const HttpOutcome o = performHttp(h, answer);
    if (answer.failure) return answer.failure;
    switch (o.end) {
    case HttpOutcome::End::answered:
    case HttpOutcome::End::stopped: break;
    case HttpOutcome::End::cancelled: return CloudFailure::transport("the request was cancelled", true);
    case HttpOutcome::End::timedOut: return CloudFailure::transport("the inbox service did not answer in time");
    case HttpOutcome::End::unstarted: return CloudFailure::transport(o.error);
    case HttpOutcome::End::failed: return CloudFailure::transport("couldn't reach the inbox service: " + o.error);
    }
    if (!o.headRead) return CloudFailure::of(InboxError::of(InboxError::Kind::badResponse));
    return std::nullopt;
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
    InboxAnswer a(InboxAnswer::Body::json);
    if (auto failure = perform(r, a, cancelled)) return *failure;
    return decodeAnswer<Registration>(a.json.text);
}

CloudResult<std::monostate> CloudInbox::configure(const std::optional<std::string>& password,
                                                  const std::optional<std::vector<std::string>>& playlists,
                                                  const Cancelled& cancelled) const {
    Json body = Json::object();
    if (password) body["password"] = *password;
    if (playlists) body["playlists"] = *playlists;
    if (body.empty()) return std::monostate{};
    Request r{"POST", requestURL("app/config"), compactJson(body), appSecret, timeouts().configure};
    InboxAnswer a(InboxAnswer::Body::discard);
    if (auto failure = perform(r, a, cancelled)) return *failure;
    return std::monostate{};
}

CloudResult<std::vector<CloudInbox::PendingItem>> CloudInbox::wait(const Cancelled& cancelled) const {
    Request r{"GET", requestURL("app/wait", {{"timeout", waitSeconds}}), std::nullopt, appSecret, timeouts().wait};
    InboxAnswer a(InboxAnswer::Body::json);
    if (auto failure = perform(r, a, cancelled)) return *failure;
    auto list = decodeAnswer<ItemList>(a.json.text);
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
    InboxAnswer a(InboxAnswer::Body::file);
    a.maxBytes = maxBytes;
    a.progress = &progress;
    const std::string ext = extensionOf(item.filename);
    std::error_code ec;
    fs::create_directories(Store::mediaIncomingDir(), ec);
    a.path = Store::mediaIncomingDir() / (makeUuid() + (ext.empty() ? "" : "." + ext));
    std::optional<CloudFailure> failure = perform(r, a, cancelled);
    if (!failure) failure = a.finishFile();
    if (failure) {
        a.discardFile();
        return *failure;
    }
    return a.path.string();
}

CloudResult<std::monostate> CloudInbox::deleteItem(const std::string& key, const Cancelled& cancelled) const {
    Request r{"DELETE", requestURL("app/file", {{"key", key}}), std::nullopt, appSecret, timeouts().deleteItem};
    InboxAnswer a(InboxAnswer::Body::discard);
    if (auto failure = perform(r, a, cancelled)) return *failure;
    return std::monostate{};
}

void CloudInbox::goOffline(const Cancelled& cancelled) const {
    Request r{"POST", requestURL("app/offline"), std::nullopt, appSecret, timeouts().offline, timeouts().offline};
    InboxAnswer a(InboxAnswer::Body::discard);
    perform(r, a, cancelled);
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
