#pragma once
// A loopback stand-in for the internet upload inbox service: an HTTP/1.1 server on 127.0.0.1, one thread
// per connection, that records every request and plays what the test scripts (statuses, bodies of any
// length, announced lengths, delays and silence). Without a script it behaves like the service: register,
// config, a long poll that lists the pending items, file download and delete, offline.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

namespace ombry::test {

class FakeInbox {
public:
    struct Request {
        std::string method;
        std::string target;  // path and query as sent
        std::string path;    // without the query
        std::map<std::string, std::string> query;
        std::map<std::string, std::string> headers;  // names in lower case
        std::string body;
    };
    struct Answer {
        int status = 200;
        std::string body{};
        std::int64_t generated = -1;              // >= 0: that many pattern bytes instead of `body`
        bool announce = true;                     // send Content-Length (else the body ends with the connection)
        std::optional<std::int64_t> announced{};  // a Content-Length other than the body's
        double delay = 0;                         // real seconds before the answer
        bool silent = false;                      // answer nothing; hold the connection until it is closed
        bool stallAfterHeaders = false;           // send the head, then nothing more
        std::int64_t stallAfter = -1;             // >= 0: stop sending after that many body bytes, hold open
        bool closeEarly = false;                  // with stallAfter: close the connection there instead
        double bytesPerSecond = 0;                // > 0: the body is sent at about that rate
        std::string headers{};                    // more header lines, each ending in CRLF
    };
    // A test's own answer for a request, or nothing for the service's behaviour.
    using Script = std::function<std::optional<Answer>(const Request&)>;

    struct Item {
        std::string key{};
        std::int64_t size = 0;
        std::string filename{}, title{}, playlist{};
        std::string content{};        // the file's bytes
        std::int64_t generated = -1;  // >= 0: that many pattern bytes instead
    };

    std::string inboxId = "inbox-1";
    std::string appSecret = "secret-1";

    FakeInbox() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(fd_, 64);
        socklen_t len = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        (void)::pipe(wake_);
        acceptor_ = std::thread([this] { acceptLoop(); });
    }
    ~FakeInbox() {
        stopping_ = true;
        (void)::write(wake_[1], "x", 1);
        acceptor_.join();
        std::vector<std::thread> threads;
        {
            std::lock_guard lock(mutex_);
            threads.swap(threads_);
        }
        for (auto& t : threads) t.join();
        for (int fd : {fd_, wake_[0], wake_[1]}) ::close(fd);
    }
    FakeInbox(const FakeInbox&) = delete;
    FakeInbox& operator=(const FakeInbox&) = delete;

    int port() const { return port_; }
    std::string origin() const { return "http://127.0.0.1:" + std::to_string(port_); }

    void setScript(Script s) {
        std::lock_guard lock(mutex_);
        script_ = std::move(s);
    }
    void addItem(Item item) {
        std::lock_guard lock(mutex_);
        items_.push_back(std::move(item));
    }
    std::vector<std::string> itemKeys() const {
        std::lock_guard lock(mutex_);
        std::vector<std::string> keys;
        for (const auto& i : items_) keys.push_back(i.key);
        return keys;
    }
    std::vector<Request> requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    // Requests whose method is `method` and whose path ends with `tail`.
    std::vector<Request> requests(const std::string& method, const std::string& tail) const {
        std::vector<Request> out;
        for (auto& r : requests())
            if (r.method == method && r.path.size() >= tail.size() &&
                r.path.compare(r.path.size() - tail.size(), tail.size(), tail) == 0)
                out.push_back(r);
        return out;
    }
    std::size_t count(const std::string& method, const std::string& tail) const { return requests(method, tail).size(); }
    // Waits in real time until the recorded requests satisfy pred.
    bool waitFor(const std::function<bool()>& pred, double seconds = 10) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (!pred()) {
            if (std::chrono::steady_clock::now() > end) return false;
            std::unique_lock lock(mutex_);
            arrived_.wait_for(lock, std::chrono::milliseconds(20));
        }
        return true;
    }
    // Connections whose handling has not finished.
    int open() const { return open_.load(); }

    static char patternByte(std::int64_t at) { return char('a' + at % 23); }

private:
    std::optional<Answer> serviceAnswer(const Request& r) {
        using Json = nlohmann::json;
        std::lock_guard lock(mutex_);
        const std::string prefix = "/u/" + inboxId + "/app/";
        if (r.method == "POST" && r.path.size() >= 13 && r.path.compare(r.path.size() - 13, 13, "/api/register") == 0)
            return Answer{.body = Json{{"inboxId", inboxId}, {"appSecret", appSecret}}.dump()};
        const auto at = r.path.find(prefix);
        if (at == std::string::npos) return Answer{.status = 404};
        auto secret = r.headers.find("x-app-secret");
        if (secret == r.headers.end() || secret->second != appSecret) return Answer{.status = 401};
        const std::string op = r.path.substr(at + prefix.size());
        if (op == "config" || op == "offline") return Answer{};
        if (op == "wait") {
            Json items = Json::array();
            for (const auto& i : items_)
                items.push_back({{"key", i.key}, {"size", i.size}, {"filename", i.filename}, {"title", i.title},
                                 {"playlist", i.playlist}, {"uploaded", "2026-12-10T18:00:00Z"}});
            return Answer{.body = Json{{"items", items}}.dump()};
        }
        if (op == "file") {
            const auto key = r.query.count("key") ? r.query.at("key") : "";
            auto it = std::find_if(items_.begin(), items_.end(), [&](const Item& i) { return i.key == key; });
            if (it == items_.end()) return Answer{.status = 404};
            if (r.method == "DELETE") {
                items_.erase(it);
                return Answer{};
            }
            return Answer{.body = it->content, .generated = it->generated};
        }
        return Answer{.status = 404};
    }

    static std::string decode(const std::string& s) {
        std::string out;
        for (size_t i = 0; i < s.size(); ++i) {
            if (s[i] == '%' && i + 2 < s.size()) {
                out.push_back(char(std::stoi(s.substr(i + 1, 2), nullptr, 16)));
                i += 2;
            } else {
                out.push_back(s[i] == '+' ? ' ' : s[i]);
            }
        }
        return out;
    }

    // Waits until fd is readable or hung up; false when the server stops.
    bool readable(int fd, int timeoutMs = -1) {
        pollfd p[2] = {{fd, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        const int n = ::poll(p, 2, timeoutMs);
        return n > 0 && !(p[1].revents & POLLIN);
    }
    bool sendAll(int c, const char* data, size_t n) {
        while (n > 0) {
            if (stopping_) return false;
            const ssize_t k = ::send(c, data, n, MSG_NOSIGNAL);
            if (k <= 0) return false;
            data += k;
            n -= size_t(k);
        }
        return true;
    }
    void hold(int c) {
        // Until the client hangs up or the server stops.
        char buf[256];
        while (readable(c))
            if (::read(c, buf, sizeof buf) <= 0) return;
    }

    void acceptLoop() {
        while (readable(fd_)) {
            const int c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (c < 0) continue;
            ++open_;
            std::lock_guard lock(mutex_);
            threads_.emplace_back([this, c] {
                serve(c);
                ::close(c);
                --open_;
                arrived_.notify_all();
            });
        }
    }

    void serve(int c) {
        std::string in;
        char buf[65536];
        while (in.find("\r\n\r\n") == std::string::npos) {
            if (!readable(c)) return;
            const ssize_t n = ::read(c, buf, sizeof buf);
            if (n <= 0) return;
            in.append(buf, size_t(n));
        }
        const auto headEnd = in.find("\r\n\r\n");
        Request r;
        const std::string head = in.substr(0, headEnd);
        std::string body = in.substr(headEnd + 4);
        const auto lineEnd = head.find("\r\n");
        const std::string line = head.substr(0, lineEnd);
        const auto sp1 = line.find(' '), sp2 = line.find(' ', sp1 + 1);
        r.method = line.substr(0, sp1);
        r.target = line.substr(sp1 + 1, sp2 - sp1 - 1);
        const auto qm = r.target.find('?');
        r.path = r.target.substr(0, qm);
        if (qm != std::string::npos) {
            const std::string q = r.target.substr(qm + 1);
            for (size_t at = 0; at <= q.size();) {
                const auto amp = std::min(q.find('&', at), q.size());
                const std::string kv = q.substr(at, amp - at);
                const auto eq = kv.find('=');
                if (!kv.empty()) r.query[decode(kv.substr(0, eq))] = eq == std::string::npos ? "" : decode(kv.substr(eq + 1));
                at = amp + 1;
            }
        }
        for (size_t at = lineEnd == std::string::npos ? head.size() : lineEnd + 2; at < head.size();) {
            auto end = head.find("\r\n", at);
            if (end == std::string::npos) end = head.size();
            const std::string h = head.substr(at, end - at);
            const auto colon = h.find(':');
            if (colon != std::string::npos) {
                std::string name = h.substr(0, colon);
                std::transform(name.begin(), name.end(), name.begin(), [](unsigned char ch) { return char(std::tolower(ch)); });
                std::string value = h.substr(colon + 1);
                value.erase(0, value.find_first_not_of(' '));
                r.headers[name] = value;
            }
            at = end + 2;
        }
        if (auto cl = r.headers.find("content-length"); cl != r.headers.end()) {
            const size_t want = std::stoul(cl->second);
            while (body.size() < want) {
                if (!readable(c)) return;
                const ssize_t n = ::read(c, buf, sizeof buf);
                if (n <= 0) return;
                body.append(buf, size_t(n));
            }
        }
        r.body = body;
        Script script;
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(r);
            script = script_;
        }
        arrived_.notify_all();
        std::optional<Answer> a = script ? script(r) : std::nullopt;
        if (!a) a = serviceAnswer(r);
        if (a->delay > 0 && readable(c, int(a->delay * 1000))) {
            // The client spoke or hung up during the delay; a hang-up ends it.
            char probe;
            if (::recv(c, &probe, 1, MSG_PEEK) <= 0) return;
        }
        if (stopping_) return;
        if (a->silent) return hold(c);
        const std::int64_t length = a->generated >= 0 ? a->generated : std::int64_t(a->body.size());
        std::string out = "HTTP/1.1 " + std::to_string(a->status) + " Scripted\r\nConnection: close\r\n";
        if (a->announce) out += "Content-Length: " + std::to_string(a->announced.value_or(length)) + "\r\n";
        out += a->headers + "\r\n";
        if (!sendAll(c, out.data(), out.size())) return;
        if (a->stallAfterHeaders) return hold(c);
        const std::int64_t limit = a->stallAfter >= 0 ? std::min(a->stallAfter, length) : length;
        if (a->generated >= 0) {
            static const std::string pattern = [] {
                std::string p(1 << 20, 0);
                for (size_t i = 0; i < p.size(); ++i) p[i] = patternByte(std::int64_t(i));
                return p;
            }();
            // 1 MiB is a multiple of 23 away from nothing in particular: send from the right offset.
            const std::int64_t piece = a->bytesPerSecond > 0 ? 65536 : std::int64_t(pattern.size()) - 23;
            for (std::int64_t sent = 0; sent < limit;) {
                const std::int64_t off = sent % 23;
                const size_t n = size_t(std::min<std::int64_t>(limit - sent, piece));
                if (!sendAll(c, pattern.data() + off, n)) return;
                sent += std::int64_t(n);
                if (a->bytesPerSecond > 0)
                    std::this_thread::sleep_for(std::chrono::duration<double>(double(n) / a->bytesPerSecond));
            }
        } else if (!sendAll(c, a->body.data(), size_t(limit))) {
            return;
        }
        if (a->stallAfter >= 0 && a->closeEarly) return;
        if (a->stallAfter >= 0) return hold(c);
        ::shutdown(c, SHUT_WR);
        hold(c);
    }

    int fd_ = -1;
    int wake_[2] = {-1, -1};
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> open_{0};
    std::thread acceptor_;
    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<std::thread> threads_;
    std::vector<Request> requests_;
    std::vector<Item> items_;
    Script script_;
};

}  // namespace ombry::test
