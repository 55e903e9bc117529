#include "Engine/Servers/ControlServer.hpp"

#include <openssl/crypto.h>
#include <unicode/normalizer2.h>
#include <unicode/unistr.h>

#include <cmath>
#include <fstream>
#include <sstream>

#include <boost/asio/post.hpp>

#include "Engine/Control/UriReference.hpp"
#include "Engine/Model/Issues.hpp"
#include "Engine/Model/TextBytes.hpp"
#include "Engine/Model/JsonCoding.hpp"
#include "Engine/Library/Library.hpp"
#include "Engine/Servers/OutputServer.hpp"
#include "Engine/Intake/UploadSink.hpp"
#include "Engine/Library/Store.hpp"
#include "Platform/HostName.hpp"
#include "Platform/Paths.hpp"
#include "Platform/Product.hpp"
#include "Platform/Uuid.hpp"

namespace ombry {

namespace asio = boost::asio;

namespace {


std::optional<std::string> nonEmptyTrimmed(const std::map<std::string, std::string>& query, const char* name) {
    auto it = query.find(name);
    if (it == query.end()) return std::nullopt;
    std::string value = trimWhiteSpace(it->second);
    if (value.empty()) return std::nullopt;
    return value;
}

std::string nfc(const std::string& text) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* normalizer = icu::Normalizer2::getNFCInstance(status);
    if (U_FAILURE(status)) return text;
    const icu::UnicodeString normal = normalizer->normalize(icu::UnicodeString::fromUTF8(text), status);
    if (U_FAILURE(status)) return text;
    std::string out;
    normal.toUTF8String(out);
    return out;
}

// The decoded path of a request target. When the target cannot be read (an escape that is not UTF-8), its
// path as far as it decodes, and never its query, which may carry the token or the password.
std::string decodedPath(const std::string& target) {
    if (const auto reference = UriReference::parse(target)) return reference->path;
    const std::string raw = target.substr(0, target.find_first_of("?#"));
    return percentDecode(raw).value_or(raw);
}

// An upload's file, written, synced and handed on through `work`, one serial thread: a slow disk blocks
// writes for as long as it takes to flush, which would hold up every connection of the network thread. A
// cancel queues behind the write in flight rather than close the file under it.
class FileThreadSink final : public HTTPBodySink {
public:
    FileThreadSink(std::shared_ptr<UploadSink> file, std::function<void(std::function<void()>)> work)
        : file_(std::move(file)), work_(std::move(work)) {}
    void write(std::string_view chunk) override {
        if (file_) file_->write(chunk);
    }
    void writeThen(std::string_view chunk, std::function<void(bool ok)> done) override {
        if (!file_) return done(false);
        work_([file = file_, chunk, done = std::move(done)] {
            bool ok = true;
            try {
                file->write(chunk);
            } catch (...) {
                ok = false;
            }
            done(ok);
        });
    }
    void finish() override {
        if (auto file = std::move(file_)) work_([file] { file->finish(); });
    }
    void cancel() override {
        if (auto file = std::move(file_)) work_([file] { file->cancel(); });
    }

private:
    std::shared_ptr<UploadSink> file_;
    std::function<void(std::function<void()>)> work_;
};

}  // namespace

ControlServer::ControlServer(Options options)
    : loop_(options.loop ? *options.loop : net::netLoop()),
      timers_(options.timers ? *options.timers : net::steadyNetTimers()),
      strand_(loop_.makeStrand()),
      options_(std::move(options)) {
    heartbeat_ = timers_.make(strand_);
    retry_ = timers_.make(strand_);
    if (!options_.fileWork) {
        fileThread_ = std::make_shared<WorkerPool>(1, "ombry-upload");
        // Weak: a sink that outlives the server drops its file's last step rather than keep the thread.
        options_.fileWork = [weak = std::weak_ptr<WorkerPool>(fileThread_)](std::function<void()> job) {
            if (auto pool = weak.lock()) pool->submit(std::move(job));
        };
    }
    if (!options_.fileOps) options_.fileOps = onFileThread;
    reannounce_ = timers_.make(strand_);
    stateHopTimer_ = timers_.make(strand_);
}

std::shared_ptr<ControlServer> ControlServer::create(Options options) {
    return std::shared_ptr<ControlServer>(new ControlServer(std::move(options)));
}

std::shared_ptr<ControlServer> ControlServer::create() { return create(Options{}); }

ControlServer::~ControlServer() {
    runOn(loop_, strand_, [this] {
        // The owner is going too: nothing is reported from here on.
        onClientsChanged = nullptr;
        onAdvertiseStatus = nullptr;
        onInfoChange = nullptr;
        stopOnStrand();
    });
}

ServerInfo ControlServer::info() const { return OutputServer::infoFor(port_); }

// MARK: lifecycle

void ControlServer::start(std::uint16_t preferredPort, std::function<void(StartResult)> done) {
    asio::post(strand_, [weak = weak_from_this(), preferredPort, done = std::move(done)]() mutable {
        auto self = weak.lock();
        if (!self) return;
        self->pendingStart_ = std::move(done);
        self->wantsListening_ = true;
        self->bind(preferredPort, 20, 3);
    });
}

void ControlServer::bind(std::uint16_t port, int triesLeft, int samePortRetries) {
    try {
        listener_ = std::make_shared<net::tcp::acceptor>(net::openListener(strand_, options_.bindAddress, port));
    } catch (const boost::system::system_error&) {
        return retryBind(port, triesLeft, samePortRetries);
    }
    // Ready at once: asio's listener has no later states.
    port_ = listener_->local_endpoint().port();
    acceptLoop(listener_, [weak = weak_from_this()](net::tcp::socket socket) {
        if (auto s = weak.lock()) s->adopt(std::move(socket));
    });
    advertise();
    armHeartbeat();  // before the caller hears of the start, so its first tick counts from here
    if (pendingStart_) {
        finishStart(info());
    } else if (onInfoChange) {
        onInfoChange(info());
    }
}

void ControlServer::retryBind(std::uint16_t port, int triesLeft, int samePortRetries) {
    if (samePortRetries >= 1) {
        retry_->arm(options_.retrySeconds, [weak = weak_from_this(), port, triesLeft, samePortRetries] {
            auto self = weak.lock();
            if (self && self->wantsListening_) self->bind(port, triesLeft, samePortRetries - 1);
        });
    } else if (triesLeft >= 1 && port < 65535) {
        bind(static_cast<std::uint16_t>(port + 1), triesLeft - 1, 3);
    } else {
        finishStart(StartError::noPort);
    }
}

void ControlServer::finishStart(StartResult result) {
    if (auto done = std::move(pendingStart_)) {
        pendingStart_ = nullptr;
        done(std::move(result));
    }
}

void ControlServer::stop() {
    runOn(loop_, strand_, [this] { stopOnStrand(); });
}

void ControlServer::stopOnStrand() {
    wantsListening_ = false;
    retry_->cancel();
    finishStart(StartError::cancelled);
    dnsService_.reset();
    ++registrationGeneration_;
    reannounce_->cancel();
    reannouncing_ = false;
    lastAdvertiseStatus_.reset();
    heartbeat_->cancel();
    ++run_;
    closeListenerAndConnections(listener_, conns_);
    reportClients();
}

void ControlServer::adopt(net::tcp::socket socket) {
    adoptConnection(std::move(socket), wantsListening_, conns_, weak_from_this(), strand_, timers_, options_.limits);
}

void ControlServer::armHeartbeat() {
    heartbeat_->arm(options_.heartbeatSeconds, [weak = weak_from_this()] {
        auto self = weak.lock();
        if (!self) return;
        if (!self->dnsService_ && !self->reannouncing_) self->advertise();
        heartbeatAll(self->conns_);
        self->armHeartbeat();
    });
}

// MARK: clients and pushes

void ControlServer::reportClients() {
    if (!onClientsChanged) return;
    int remotes = 0, companions = 0;
    for (auto& [key, conn] : conns_) {
        if (!conn->upgraded()) continue;
        if (conn->role == "remote") ++remotes;
        if (conn->role == "companion") ++companions;
    }
    onClientsChanged(remotes, companions);
}

void ControlServer::handleFrame(std::string message, const std::shared_ptr<ClientConn>& conn) {
    const Json parsed = Json::parse(message, nullptr, false);
    if (!parsed.is_object()) return;
    auto type = parsed.find("type");
    if (type == parsed.end() || !type->is_string() || *type != "hello") return;
    auto role = parsed.find("role");
    const std::string next =
        (role != parsed.end() && role->is_string() && *role == "companion") ? "companion" : "remote";
    const bool changed = next != conn->role;
    conn->role = next;
    if (changed) reportClients();
    // A hello repeated while the last answer still waits replaces it rather than adding one.
    if (latestSnapshotData_ && conn->upgraded()) conn->sendText(latestSnapshotData_, MessageKind::state);
}

void ControlServer::upgraded(const std::shared_ptr<ClientConn>& conn) {
    if (latestSnapshotData_) conn->sendText(latestSnapshotData_, MessageKind::state);
    reportClients();
}

void ControlServer::remove(ClientConn& conn) {
    conns_.erase(&conn);
    reportClients();
}

void ControlServer::sendToUpgraded(const std::shared_ptr<const std::string>& text, MessageKind kind) {
    for (auto& [key, conn] : conns_)
        if (conn->upgraded()) conn->sendText(text, kind);
}

void ControlServer::push(std::shared_ptr<const LiveSnapshot> snapshot) {
    if (!snapshot) return;
    asio::post(strand_, [weak = weak_from_this(), snapshot = std::move(snapshot)]() mutable {
        auto self = weak.lock();
        if (!self) return;
        self->latestSnapshot_ = std::move(snapshot);
        self->stateReply_.reset();
        self->clipsReply_.reset();
        self->latestSnapshotData_ = std::make_shared<const std::string>(self->latestSnapshot_->text(transportNow()));
        self->sendToUpgraded(self->latestSnapshotData_, MessageKind::state);
    });
}

void ControlServer::push(ControlSnapshot snapshot) {
    std::shared_ptr<const LiveSnapshot> fixed;
    try {
        fixed = LiveSnapshot::fixed(std::move(snapshot));
    } catch (const EncodeError&) {
        return;  // the last good JSON stays
    }
    push(std::move(fixed));
}

void ControlServer::updatePlayheads(std::shared_ptr<const LiveSnapshot> snapshot) {
    if (!snapshot) return;
    asio::post(strand_, [weak = weak_from_this(), snapshot = std::move(snapshot)]() mutable {
        auto self = weak.lock();
        if (!self) return;
        self->latestSnapshot_ = std::move(snapshot);
        self->stateReply_.reset();
    });
}

void ControlServer::pushTransport(ControlTransportMessage message) {
    asio::post(strand_, [weak = weak_from_this(), message] {
        auto self = weak.lock();
        if (!self) return;
        const double now = self->timers_.now();
        const auto& last = self->lastTransportMsg_;
        const bool repeat = last && last->playing == message.playing && last->duration == message.duration &&
                            last->layer == message.layer && std::abs(message.currentTime - last->currentTime) <= 1.5;
        if (repeat && now - self->lastTransportSent_ < 1.0) return;
        std::shared_ptr<const std::string> text;
        try {
            text = std::make_shared<const std::string>(wireText(message));
        } catch (const EncodeError&) {
            return;
        }
        self->lastTransportSent_ = now;
        self->lastTransportMsg_ = message;
        self->sendToUpgraded(text, MessageKind::transport);
    });
}

// MARK: configuration

void ControlServer::configureControl(std::optional<std::string> password) {
    asio::post(strand_, [weak = weak_from_this(), password = std::move(password)] {
        auto self = weak.lock();
        if (!self) return;
        std::optional<std::string> next;
        if (password) {
            std::string t = trimWhiteSpace(*password);
            if (!t.empty()) next = std::move(t);
        }
        const bool presenceChanged = next.has_value() != self->controlPassword_.has_value();
        const bool changed = next != self->controlPassword_;
        self->controlPassword_ = std::move(next);
        if (changed) {
            // Clients admitted under the old password must not keep following the show.
            std::vector<std::shared_ptr<ClientConn>> admitted;
            for (auto& [key, conn] : self->conns_)
                if (conn->upgraded()) admitted.push_back(conn);
            for (auto& conn : admitted) conn->close();
        }
        if (presenceChanged && (self->dnsService_ || self->reannouncing_)) self->reannounce();
    });
}

void ControlServer::configureUpload(bool enabled, std::optional<std::string> token) {
    asio::post(strand_, [weak = weak_from_this(), enabled, token = std::move(token)] {
        if (auto self = weak.lock()) {
            self->uploadEnabled_ = enabled;
            self->uploadToken_ = token;
        }
    });
}

void ControlServer::updateThumbIndex(std::map<std::string, std::string> index) {
    asio::post(strand_, [weak = weak_from_this(), index = std::move(index)]() mutable {
        if (auto self = weak.lock()) self->thumbIndex_ = std::move(index);
    });
}

// MARK: authentication and replies

std::map<std::string, std::string> ControlServer::queryDict(const std::string& target) {
    std::map<std::string, std::string> table;
    const auto reference = UriReference::parse(target);
    if (!reference) return table;
    for (const auto& item : reference->queryItems) {
        if (item.value)
            table[item.name] = *item.value;
        else
            table.erase(item.name);
    }
    return table;
}

bool ControlServer::secretsMatch(const std::string& given, const std::string& expected) {
    const std::string a = nfc(given), b = nfc(expected);
    // Every byte of the longer text is looked at, so the time says nothing about where they differ.
    const std::size_t n = std::max(a.size(), b.size());
    unsigned char diff = a.size() == b.size() ? 0 : 1;
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char x = i < a.size() ? static_cast<unsigned char>(a[i]) : 0;
        const unsigned char y = i < b.size() ? static_cast<unsigned char>(b[i]) : 0;
        diff |= static_cast<unsigned char>(x ^ y);
    }
    return diff == 0;
}

bool ControlServer::controlAuthorized(const std::map<std::string, std::string>& query,
                                      const HTTPHeaders& headers) const {
    if (!controlPassword_ || controlPassword_->empty()) return true;
    if (auto k = query.find("k"); k != query.end() && secretsMatch(k->second, *controlPassword_)) return true;
    if (auto h = headers.find("x-control-password"); h != headers.end() && secretsMatch(h->second, *controlPassword_))
        return true;
    return false;
}

bool ControlServer::uploadAuthorized(const std::map<std::string, std::string>& query,
                                     const HTTPHeaders& headers) const {
    if (!uploadEnabled_ || !uploadToken_ || uploadToken_->empty()) return false;
    if (auto k = query.find("k"); k != query.end() && secretsMatch(k->second, *uploadToken_)) return true;
    if (auto h = headers.find("x-upload-token"); h != headers.end() && secretsMatch(h->second, *uploadToken_))
        return true;
    return false;
}

bool ControlServer::authorizeUpgrade(const std::string& path, const HTTPHeaders& headers) {
    return controlAuthorized(queryDict(path), headers);
}

std::string ControlServer::errorBody(const std::string& message) {
    try {
        return R"({"ok":false,"error":)" + compactJson(Json(message)) + "}";
    } catch (const std::exception&) {
        return R"({"ok":false})";
    }
}

std::string ControlServer::jsonResponse(const std::string& status, std::string_view body) {
    return ClientConn::httpResponse(status,
                                    {{"Content-Type", "application/json; charset=utf-8"},
                                     {"Content-Length", std::to_string(body.size())},
                                     {"Access-Control-Allow-Origin", "*"},
                                     {"Cache-Control", "no-cache"}},
                                    body);
}

void ControlServer::sendJSON(ClientConn& conn, const std::string& status, const std::string& body) {
    conn.reply(jsonResponse(status, body));
}

template <class T, class Ask, class Answer>
void ControlServer::leaveQueue(const std::shared_ptr<ClientConn>& conn, Ask ask, Answer answer) {
    // The hook runs whether or not the connection is still there; its reply needs both.
    ask([weakSelf = weak_from_this(), weakConn = std::weak_ptr<ClientConn>(conn),
         answer = std::move(answer)](T result) mutable {
        auto self = weakSelf.lock();
        if (!self) return;
        asio::post(self->strand_, [weakSelf, weakConn, answer = std::move(answer), result = std::move(result)]() mutable {
            auto s = weakSelf.lock();
            auto c = weakConn.lock();
            if (s && c) answer(*s, *c, std::move(result));
        });
    });
}

// MARK: routes

void ControlServer::route(HTTPRequest request, const std::shared_ptr<ClientConn>& conn) {
    if (request.method == "OPTIONS") {
        conn->reply(ClientConn::httpResponse("204 No Content",
                                             {{"Access-Control-Allow-Origin", "*"},
                                              {"Access-Control-Allow-Methods", "GET, POST, OPTIONS"},
                                              {"Content-Length", "0"}},
                                             {}));
        return;
    }
    const std::string path = decodedPath(request.path);
    const bool open = path.empty() || path == "/" || path == "/upload" || path.rfind("/api/upload/", 0) == 0;
    if (!open && !controlAuthorized(queryDict(request.path), request.headers))
        return sendJSON(*conn, "401 Unauthorized", errorBody("control password required"));

    if (path.empty() || path == "/") {
        const std::string body = "Ombry control API \u2014 see /api/state\n";
        conn->reply(ClientConn::httpResponse("200 OK",
                                             {{"Content-Type", "text/plain; charset=utf-8"},
                                              {"Content-Length", std::to_string(body.size())},
                                              {"Access-Control-Allow-Origin", "*"}},
                                             body));
        return;
    }
    if (path == "/api/state") return routeState(conn);
    if (path == "/api/clips") {
        if (!clipsReply_) {
            std::string body = "{}";
            try {
                Json clips = Json::array();
                if (latestSnapshot_) clips = toJson(latestSnapshot_->built()).at("clips");
                body = compactJson(Json{{"clips", clips}});
            } catch (const std::exception&) {
            }
            clipsReply_ = std::make_shared<const std::string>(jsonResponse("200 OK", body));
        }
        return conn->reply(clipsReply_);
    }
    if (path == "/upload") return routeUploadPage(request, conn);
    if (path == "/api/upload/meta") return routeUploadMeta(request, conn);
    static const std::string thumbPrefix = "/api/thumb/";
    if (path.rfind(thumbPrefix, 0) == 0) {
        const std::string rest = path.substr(thumbPrefix.size());
        const std::string id = percentDecode(rest).value_or(rest);
        const std::string body = errorBody("no thumbnail for " + id);
        const std::string missing = ClientConn::httpResponse("404 Not Found",
                                                             {{"Content-Type", "application/json; charset=utf-8"},
                                                              {"Content-Length", std::to_string(body.size())},
                                                              {"Access-Control-Allow-Origin", "*"},
                                                              {"Cache-Control", "no-cache"}},
                                                             body);
        auto it = thumbIndex_.find(id);
        if (it == thumbIndex_.end()) return conn->reply(missing);
        // Whether the file is there is found out off the network thread, where it is opened.
        const std::string* range = request.header("range");
        return conn->serveFile(it->second, range ? std::optional<std::string>(*range) : std::nullopt, request.method,
                               missing);
    }
    if (auto command = ControlCommand::parse(request.path)) return routeCommand(*command, conn);
    sendJSON(*conn, "404 Not Found", errorBody("unknown route " + path));
}

// The state never waits for the main thread once a live snapshot is here: its encoded text with the time
// fields of this moment, one rendering shared by the requests of the same millisecond.
void ControlServer::routeState(const std::shared_ptr<ClientConn>& conn) {
    if (latestSnapshot_ && latestSnapshot_->followsPlayheads()) {
        const double now = transportNow();
        const bool current = stateReply_ && (!latestSnapshot_->moving() ||
                                             (now >= stateReplyAt_ && now - stateReplyAt_ < options_.stateReuseSeconds));
        if (!current) {
            stateReply_ = std::make_shared<const std::string>(jsonResponse("200 OK", latestSnapshot_->text(now)));
            stateReplyAt_ = now;
        }
        return conn->reply(stateReply_);
    }
    if (!snapshot) return sendJSON(*conn, "200 OK", latestSnapshotData_ ? *latestSnapshotData_ : "{}");
    stateWaiters_.push_back(conn);
    if (stateHopPending_) return;  // the hook's coming answer serves this request too
    stateHopPending_ = true;
    const double wait = lastStateHop_ + options_.stateHopSeconds - timers_.now();
    if (wait > 0) {
        stateHopTimer_->arm(wait, [weak = weak_from_this()] {
            auto self = weak.lock();
            if (!self) return;
            if (self->wantsListening_) return self->askForState();
            self->stateHopPending_ = false;  // stopped meanwhile: its connections are gone
            self->stateWaiters_.clear();
        });
    } else {
        askForState();
    }
}

void ControlServer::askForState() {
    lastStateHop_ = timers_.now();
    snapshot([weak = weak_from_this(), strand = strand_](std::optional<ControlSnapshot> fresh) {
        asio::post(strand, [weak, fresh = std::move(fresh)]() mutable {
            if (auto self = weak.lock()) self->answerStateWaiters(std::move(fresh));
        });
    });
}

void ControlServer::answerStateWaiters(std::optional<ControlSnapshot> fresh) {
    stateHopPending_ = false;
    std::optional<std::string> body;
    if (fresh) {
        try {
            body = wireText(*fresh);
        } catch (const EncodeError&) {
        }
    }
    if (!body) body = latestSnapshotData_ ? *latestSnapshotData_ : "{}";
    const auto response = std::make_shared<const std::string>(jsonResponse("200 OK", *body));
    for (const auto& waiter : std::exchange(stateWaiters_, {}))
        if (auto conn = waiter.lock()) conn->reply(response);
}

void ControlServer::routeCommand(const ControlCommand& command, const std::shared_ptr<ClientConn>& conn) {
    if (!perform) return sendJSON(*conn, "400 Bad Request", errorBody("control not wired"));
    leaveQueue<ControlResult>(
        conn, [hook = perform, command](auto reply) { hook(command, std::move(reply)); },
        [](ControlServer&, ClientConn& c, ControlResult result) {
            switch (result.kind) {
                case ControlResult::Kind::ok: return sendJSON(c, "200 OK", R"({"ok":true})");
                case ControlResult::Kind::notFound: return sendJSON(c, "404 Not Found", errorBody(result.message));
                case ControlResult::Kind::badRequest: return sendJSON(c, "400 Bad Request", errorBody(result.message));
                case ControlResult::Kind::refused: return sendJSON(c, "409 Conflict", errorBody(result.message));
            }
        });
}

// MARK: uploads

void ControlServer::routeUploadPage(const HTTPRequest& request, const std::shared_ptr<ClientConn>& conn) {
    if (!uploadAuthorized(queryDict(request.path), request.headers)) {
        const std::string body = "Upload link invalid, or uploads are disabled in Ombry's settings.\n";
        conn->reply(ClientConn::httpResponse(
            "401 Unauthorized",
            {{"Content-Type", "text/plain; charset=utf-8"}, {"Content-Length", std::to_string(body.size())}}, body));
        return;
    }
    pageWaiters_.push_back(conn);
    if (uploadPageCache_) return uploadPageRead({});
    if (pageWaiters_.size() > 1) return;  // the read under way answers this one too
    // Read once, on a file thread: a slow disk would hold every connection of the network thread.
    const auto file = options_.uploadPage.empty() ? paths::resource("UploadPage/upload.html") : options_.uploadPage;
    options_.fileOps([weak = weak_from_this(), strand = strand_, file] {
        std::ifstream in(file, std::ios::binary);
        std::ostringstream text;
        if (in) text << in.rdbuf();
        std::string page = in && !text.str().empty() ? text.str()
                                                     : "<!doctype html><p>Upload page missing from app bundle.</p>";
        asio::post(strand, [weak, page = std::move(page)]() mutable {
            if (auto self = weak.lock()) self->uploadPageRead(std::move(page));
        });
    });
}

void ControlServer::uploadPageRead(std::string page) {
    if (!uploadPageCache_) uploadPageCache_ = std::move(page);
    const auto reply = std::make_shared<const std::string>(
        ClientConn::httpResponse("200 OK",
                                 {{"Content-Type", "text/html; charset=utf-8"},
                                  {"Content-Length", std::to_string(uploadPageCache_->size())},
                                  {"Cache-Control", "no-cache"}},
                                 *uploadPageCache_));
    for (const auto& waiter : std::exchange(pageWaiters_, {}))
        if (auto conn = waiter.lock()) conn->reply(reply);
}

void ControlServer::routeUploadMeta(const HTTPRequest& request, const std::shared_ptr<ClientConn>& conn) {
    if (!uploadAuthorized(queryDict(request.path), request.headers))
        return sendJSON(*conn, "401 Unauthorized", errorBody("bad or missing token"));
    auto ask = [hook = uploadPlaylists](std::function<void(std::vector<UploadPlaylistInfo>)> reply) {
        if (hook)
            hook(std::move(reply));
        else
            reply({});
    };
    leaveQueue<std::vector<UploadPlaylistInfo>>(
        conn, ask, [](ControlServer&, ClientConn& c, std::vector<UploadPlaylistInfo> playlists) {
            std::string body = "{}";
            try {
                Json list = Json::array();
                for (const auto& p : playlists) list.push_back(Json{{"id", p.id}, {"name", p.name}});
                // Sets are ordered: each list comes out sorted.
                Json meta = Json::object();
                meta["playlists"] = list;
                meta["maxBytes"] = maxUploadBytes;
                meta["extensions"] = Json{{"video", Library::videoExt}, {"image", Library::imageExt},
                                          {"audio", Library::audioExt}};
                body = compactJson(meta);
            } catch (const std::exception&) {
            }
            sendJSON(c, "200 OK", body);
        });
}

BodyDisposition ControlServer::rejectUpload(ClientConn& conn, const std::string& status, const std::string& message) {
    const std::string body = errorBody(message);
    conn.sendHTTPClosing(status,
                         {{"Content-Type", "application/json; charset=utf-8"},
                          {"Content-Length", std::to_string(body.size())},
                          {"Access-Control-Allow-Origin", "*"}},
                         body);
    return BodyDisposition::handled();
}

BodyDisposition ControlServer::disposition(const HTTPRequest& request, std::int64_t contentLength,
                                           const std::shared_ptr<ClientConn>& conn) {
    if (request.method != "POST") return BodyDisposition::buffer();
    const auto reference = UriReference::parse(request.path);
    if (!reference) {
        // Buffered, a large body would close the connection unanswered.
        if (decodedPath(request.path) == "/api/upload/file")
            return rejectUpload(*conn, "400 Bad Request", "upload address not valid: its escapes must be UTF-8 text");
        return BodyDisposition::buffer();
    }
    if (reference->path != "/api/upload/file") return BodyDisposition::buffer();
    const auto query = queryDict(request.path);
    if (!uploadAuthorized(query, request.headers)) return rejectUpload(*conn, "401 Unauthorized", "bad or missing token");
    if (contentLength <= 0) return rejectUpload(*conn, "411 Length Required", "Content-Length required");
    if (contentLength > maxUploadBytes)
        return rejectUpload(*conn, "413 Payload Too Large",
                            "file exceeds " + std::to_string(maxUploadBytes >> 30) + " GB limit");
    auto filename = query.find("filename");
    const std::string name = MediaIngest::sanitizedFilename(filename == query.end() ? std::string() : filename->second);
    if (!Library::kind(name)) return rejectUpload(*conn, "415 Unsupported Media Type", "unsupported file type: " + name);

    const auto folder = options_.incomingDir.empty() ? Store::mediaIncomingDir() : options_.incomingDir;
    UploadIngestRequest ingest;
    ingest.tempPath = (folder / (makeUuid() + std::filesystem::path(name).extension().string())).string();
    ingest.originalFilename = name;
    ingest.displayName = nonEmptyTrimmed(query, "title");
    ingest.playlistId = nonEmptyTrimmed(query, "playlist");
    ingest.newPlaylistName = nonEmptyTrimmed(query, "newPlaylist");
    ingest.origin = MediaOrigin::upload;
    // The file is made on a file thread (a slow disk would hold every connection of the network thread);
    // nothing more is read from the connection until then. The completion runs where the file was synced. It
    // goes back to the strand without locking the server there: a last release on the file thread would have
    // the server's pool wait for itself.
    options_.fileOps([weakSelf = weak_from_this(), weakConn = std::weak_ptr<ClientConn>(conn), strand = strand_,
                      folder, ingest, run = run_, ops = options_.fileOps] {
        std::error_code ec;
        std::filesystem::create_directories(folder, ec);
        std::shared_ptr<UploadSink> file =
            UploadSink::create(ingest.tempPath, [weakSelf, weakConn, strand, ingest, run](const std::filesystem::path&) {
                asio::post(strand, [weakSelf, weakConn, ingest, run] {
                    if (auto self = weakSelf.lock()) self->completeUpload(ingest, weakConn, run);
                });
            });
        asio::post(strand, [weakSelf, weakConn, file, run, ops] {
            auto self = weakSelf.lock();
            auto conn = weakConn.lock();
            if (!self || !conn || run != self->run_) {
                // The sender has gone, or the server stopped and closed it.
                if (conn) conn->close();
                if (file) ops([file] { file->cancel(); });
                return;
            }
            if (!file) {
                self->rejectUpload(*conn, "500 Internal Server Error", "cannot write to disk");
                return;
            }
            conn->streamBody(std::make_shared<FileThreadSink>(file, self->options_.fileWork));
        });
    });
    return BodyDisposition::handled();
}

void ControlServer::dropUpload(const UploadIngestRequest& request) {
    options_.fileOps([path = request.tempPath] {
        std::error_code ec;
        std::filesystem::remove(path, ec);
    });
}

void ControlServer::completeUpload(UploadIngestRequest request, const std::weak_ptr<ClientConn>& weakConn,
                                   std::uint64_t run) {
    // Its connection was closed by a stop: the sender saw the upload fail, and the owner hears nothing more.
    if (run != run_) return dropUpload(request);
    if (!ingestUpload) {
        std::error_code ec;
        std::filesystem::remove(request.tempPath, ec);
        if (auto conn = weakConn.lock()) sendJSON(*conn, "500 Internal Server Error", errorBody("upload not wired"));
        return;
    }
    auto conn = weakConn.lock();
    auto answer = [](ControlServer&, ClientConn& c, UploadIngestResult result) {
        if (!result.ok) return sendJSON(c, "500 Internal Server Error", errorBody(result.message));
        std::string body = R"({"ok":true})";
        try {
            body = compactJson(Json{{"ok", true}, {"id", result.id}, {"name", result.name}});
        } catch (const std::exception&) {
        }
        sendJSON(c, "200 OK", body);
    };
    auto ask = [hook = ingestUpload, request = std::move(request)](std::function<void(UploadIngestResult)> reply) {
        hook(request, std::move(reply));
    };
    if (conn) return leaveQueue<UploadIngestResult>(conn, ask, answer);
    ask([](UploadIngestResult) {});  // the sender has gone; the intake still takes the file
}

// MARK: advertising

void ControlServer::advertise() {
    if (!options_.advertiser) return;
    dnsService_.reset();
    const std::uint64_t generation = ++registrationGeneration_;
    std::string name = options_.serviceName;
    if (name.empty()) name = queryHostName().value_or(product::name);
    if (!lastAdvertiseStatus_ || lastAdvertiseStatus_->kind == AdvertiseStatus::Kind::registered)
        setAdvertiseStatus({AdvertiseStatus::Kind::starting, {}, 0});
    dnssd::ServiceSpec service{name, serviceType, port_, {}};
    if (controlPassword_ && !controlPassword_->empty()) service.txt.push_back("auth=1");
    auto result = options_.advertiser->registerService(
        service, [weak = weak_from_this(), strand = strand_, generation](int error, std::string confirmed) {
            asio::post(strand, [weak, generation, error, confirmed = std::move(confirmed)] {
                auto self = weak.lock();
                // A reply for a registration withdrawn since is not this one's.
                if (self && generation == self->registrationGeneration_) self->handleRegisterReply(error, confirmed);
            });
        });
    if (result.registration && result.error == 0)
        dnsService_ = std::move(result.registration);
    else
        handleRegisterReply(result.error ? result.error : -1, name);
}

void ControlServer::reannounce() {
    dnsService_.reset();
    ++registrationGeneration_;
    if (lastAdvertiseStatus_ && lastAdvertiseStatus_->kind == AdvertiseStatus::Kind::registered)
        setAdvertiseStatus({AdvertiseStatus::Kind::starting, {}, 0});
    reannouncing_ = true;
    reannounce_->arm(options_.reannounceSeconds, [weak = weak_from_this()] {
        auto self = weak.lock();
        if (!self || !self->wantsListening_) return;
        self->reannouncing_ = false;
        self->advertise();
    });
}

void ControlServer::handleRegisterReply(int error, const std::string& name) {
    if (error == 0) {
        setAdvertiseStatus({AdvertiseStatus::Kind::registered, name, 0});
    } else {
        dnsService_.reset();  // registered again by the next heartbeat
        ++registrationGeneration_;
        if (error != lastAdvertiseErr_) Diag::note("NET", "Bonjour registration failed (" + std::to_string(error) + ")");
        setAdvertiseStatus({AdvertiseStatus::Kind::failed, {}, error});
    }
    lastAdvertiseErr_ = error;
}

void ControlServer::setAdvertiseStatus(AdvertiseStatus status) {
    if (lastAdvertiseStatus_ == status) return;
    lastAdvertiseStatus_ = status;
    if (onAdvertiseStatus) onAdvertiseStatus(status);
}

}  // namespace ombry
