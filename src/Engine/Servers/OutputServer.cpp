#include "Engine/Servers/OutputServer.hpp"

#include <algorithm>

#include <boost/asio/post.hpp>

#include "Engine/Control/UriReference.hpp"

namespace ombry {

namespace asio = boost::asio;

namespace {

// True when `path` lies inside `folder`, comparing whole components (so "/a/bundle-x" is not in "/a/bundle").
bool inside(const std::filesystem::path& folder, const std::filesystem::path& path) {
    auto f = folder.begin(), p = path.begin();
    for (; f != folder.end(); ++f, ++p) {
        if (f->empty()) continue;  // a trailing separator
        if (p == path.end() || *f != *p) return false;
    }
    return p != path.end();
}

std::filesystem::path normalFolder(const std::filesystem::path& folder) {
    auto normal = std::filesystem::absolute(folder).lexically_normal();
    if (!normal.has_filename() && normal.has_parent_path() && normal != normal.root_path()) normal = normal.parent_path();
    return normal;
}

}  // namespace

OutputServer::OutputServer(std::filesystem::path bundleDir, Options options)
    : loop_(options.loop ? *options.loop : net::netLoop()),
      timers_(options.timers ? *options.timers : net::steadyNetTimers()),
      strand_(loop_.makeStrand()),
      options_(std::move(options)),
      bundleDir_(normalFolder(bundleDir)) {
    heartbeat_ = timers_.make(strand_);
}

std::shared_ptr<OutputServer> OutputServer::create(std::filesystem::path bundleDir, Options options) {
    return std::shared_ptr<OutputServer>(new OutputServer(std::move(bundleDir), std::move(options)));
}

OutputServer::~OutputServer() {
    runOn(loop_, strand_, [this] {
        onConnections = nullptr;  // the owner is going too
        stopOnStrand();
    });
}

std::vector<std::string> OutputServer::lanAddresses() { return net::lanIPv4Addresses(); }

ServerInfo OutputServer::info() const { return infoFor(port_); }

ServerInfo OutputServer::infoFor(std::uint16_t port) {
    ServerInfo info;
    info.port = port;
    info.outputUrl = "http://localhost:" + std::to_string(port) + "/";
    info.urls.push_back(info.outputUrl);
    for (const auto& address : lanAddresses())
        info.urls.push_back("http://" + address + ":" + std::to_string(port) + "/");
    return info;
}

void OutputServer::start(std::uint16_t preferredPort, std::function<void(StartResult)> done) {
    asio::post(strand_, [weak = weak_from_this(), preferredPort, done = std::move(done)] {
        auto self = weak.lock();
        if (!self) return;
        for (unsigned port = preferredPort; port <= preferredPort + 20u && port <= 65535u; ++port) {
            try {
                self->listener_ = std::make_shared<net::tcp::acceptor>(
                    net::openListener(self->strand_, self->options_.bindAddress, static_cast<std::uint16_t>(port)));
            } catch (const boost::system::system_error&) {
                continue;
            }
            self->port_ = self->listener_->local_endpoint().port();
            acceptLoop(self->listener_, [weak](net::tcp::socket socket) {
                if (auto s = weak.lock()) s->adopt(std::move(socket));
            });
            self->armHeartbeat();
            if (done) done(self->info());
            return;
        }
        if (done) done(ServerError::noPort);
    });
}

void OutputServer::stop() {
    runOn(loop_, strand_, [this] { stopOnStrand(); });
}

void OutputServer::stopOnStrand() {
    stopped_ = true;
    heartbeat_->cancel();
    closeListenerAndConnections(listener_, conns_);
    reportConnections();  // the last report: pages still closing are no longer the server's
}

void OutputServer::adopt(net::tcp::socket socket) {
    adoptConnection(std::move(socket), !stopped_, conns_, weak_from_this(), strand_, timers_);
}

void OutputServer::armHeartbeat() {
    heartbeat_->arm(options_.heartbeatSeconds, [weak = weak_from_this()] {
        auto self = weak.lock();
        if (!self) return;
        heartbeatAll(self->conns_);
        self->armHeartbeat();
    });
}

void OutputServer::reportConnections() {
    if (!onConnections) return;
    const auto count = std::count_if(conns_.begin(), conns_.end(), [](const auto& entry) {
        return entry.second->role == "output";
    });
    onConnections(static_cast<int>(count));
}

void OutputServer::remove(ClientConn& conn) {
    conns_.erase(&conn);
    reportConnections();
}

void OutputServer::broadcastState(ProgramState state) {
    asio::post(strand_, [weak = weak_from_this(), state = std::move(state)]() mutable {
        auto self = weak.lock();
        if (!self || state.rev < self->latestState_.rev) return;
        self->latestState_ = std::move(state);
        self->sendToPages([&] { return toJson(StateMessage{self->latestState_}); }, MessageKind::state);
    });
}

void OutputServer::sendToPages(const std::function<Json()>& message, MessageKind kind) {
    std::shared_ptr<const std::string> text;
    try {
        text = std::make_shared<const std::string>(compactJson(message()));
    } catch (const EncodeError&) {
        return;  // a message that cannot be written is dropped
    }
    // One encoding, the same bytes to every page, whether or not it said hello.
    for (auto& [key, conn] : conns_)
        if (conn->upgraded()) conn->sendText(text, kind);
}

void OutputServer::sendTransport(TransportCommandMessage command) {
    asio::post(strand_, [weak = weak_from_this(), command = std::move(command)] {
        auto self = weak.lock();
        if (self) self->sendToPages([&] { return toJson(command); }, MessageKind::event);
    });
}

void OutputServer::updateMediaIndex(std::map<std::string, std::string> index) {
    asio::post(strand_, [weak = weak_from_this(), index = std::move(index)]() mutable {
        if (auto self = weak.lock()) self->mediaIndex_ = std::move(index);
    });
}

void OutputServer::updateThumbIndex(std::map<std::string, std::string> index) {
    asio::post(strand_, [weak = weak_from_this(), index = std::move(index)]() mutable {
        if (auto self = weak.lock()) self->thumbIndex_ = std::move(index);
    });
}

void OutputServer::route(HTTPRequest request, const std::shared_ptr<ClientConn>& conn) {
    if (request.method == "OPTIONS") {
        conn->reply(ClientConn::httpResponse("204 No Content",
                                             {{"Access-Control-Allow-Origin", "*"},
                                              {"Access-Control-Allow-Methods", "GET, OPTIONS"},
                                              {"Content-Length", "0"}},
                                             {}));
        return;
    }
    const std::string path = request.path.substr(0, request.path.find_first_of("?#"));
    const std::string* range = request.header("range");
    const std::optional<std::string> rangeValue = range ? std::optional<std::string>(*range) : std::nullopt;
    auto idAfter = [&](std::size_t prefix) {
        const std::string raw = path.size() > prefix ? path.substr(prefix) : std::string();
        return percentDecode(raw).value_or(raw);
    };

    if (path == "/media" || path.rfind("/media/", 0) == 0) {
        auto it = mediaIndex_.find(idAfter(7));
        if (it == mediaIndex_.end()) return conn->sendNotFound();
        return conn->serveFile(it->second, rangeValue, request.method);
    }
    if (path.rfind("/thumb/", 0) == 0) {
        auto it = thumbIndex_.find(idAfter(7));
        if (it == thumbIndex_.end()) return conn->sendNotFound();
        return conn->serveFile(it->second, rangeValue, request.method);
    }
    routeBundleFile(path, request, conn);
}

void OutputServer::routeBundleFile(const std::string& path, const HTTPRequest& request,
                                   const std::shared_ptr<ClientConn>& conn) {
    std::string relative = path;
    relative.erase(0, relative.find_first_not_of('/'));
    if (path.empty() || path == "/") relative = "index.html";
    if (relative.empty()) return conn->sendNotFound();
    const auto file = (bundleDir_ / relative).lexically_normal();
    if (!inside(bundleDir_, file)) return conn->sendNotFound();
    const std::string* range = request.header("range");
    conn->serveFile(file.string(), range ? std::optional<std::string>(*range) : std::nullopt, request.method);
}

void OutputServer::handleFrame(std::string message, const std::shared_ptr<ClientConn>& conn) {
    const OutputMessage parsed = parseOutputMessage(message);
    if (const auto* hello = std::get_if<page::Hello>(&parsed)) {
        const std::string role = hello->role == "preview" ? "preview" : "output";
        const bool changed = role != conn->role;
        conn->role = role;
        try {
            // A hello repeated while the last answer still waits replaces it rather than adding one.
            conn->sendText(compactJson(toJson(StateMessage{latestState_})), MessageKind::state);
        } catch (const EncodeError&) {
        }
        if (changed) reportConnections();
    } else if (std::holds_alternative<page::Pong>(parsed)) {
        conn->isAlive = true;
    }
}

}  // namespace ombry
