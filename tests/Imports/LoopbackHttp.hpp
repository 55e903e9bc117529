#pragma once
// A small HTTP/1.1 server on 127.0.0.1 for the deck download tests.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ombry::test {

// A one-connection-at-a-time HTTP/1.1 server on 127.0.0.1 that answers every request from a table.
class LoopbackServer {
public:
    struct Answer {
        std::string head;  // status line and headers, without the blank line
        std::string body;
        bool stall = false;  // after the body, keep the connection open without sending more
    };

    explicit LoopbackServer(std::function<Answer(const std::string& path)> answer) : answer_(std::move(answer)) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        EXPECT_EQ(::listen(fd_, 8), 0);
        socklen_t len = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        EXPECT_EQ(::pipe(wake_), 0);
        thread_ = std::thread([this] { serve(); });
    }
    ~LoopbackServer() {
        ::write(wake_[1], "x", 1);
        thread_.join();
        for (int fd : {fd_, wake_[0], wake_[1]}) ::close(fd);
    }
    std::string origin() const { return "http://127.0.0.1:" + std::to_string(port_); }
    std::vector<std::string> paths() const {
        std::lock_guard lock(mutex_);
        return paths_;
    }

private:
    // Waits for `fd` to be readable; false when the server is stopping.
    bool readable(int fd) {
        pollfd p[2] = {{fd, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        return ::poll(p, 2, -1) > 0 && !(p[1].revents & POLLIN);
    }
    void serve() {
        while (readable(fd_)) {
            const int c = ::accept(fd_, nullptr, nullptr);
            if (c < 0) continue;
            std::string request;
            char buf[4096];
            while (request.find("\r\n\r\n") == std::string::npos && readable(c)) {
                const ssize_t n = ::read(c, buf, sizeof buf);
                if (n <= 0) break;
                request.append(buf, size_t(n));
            }
            const auto sp = request.find(' ');
            const std::string path = request.substr(sp + 1, request.find(' ', sp + 1) - sp - 1);
            {
                std::lock_guard lock(mutex_);
                paths_.push_back(path);
            }
            const Answer a = answer_(path);
            std::string out = a.head + "\r\n";
            if (!a.stall) out += "Content-Length: " + std::to_string(a.body.size()) + "\r\n";
            out += "Connection: close\r\n\r\n" + a.body;
            for (size_t sent = 0; sent < out.size();) {
                const ssize_t n = ::send(c, out.data() + sent, out.size() - sent, MSG_NOSIGNAL);
                if (n <= 0) break;
                sent += size_t(n);
            }
            if (a.stall) readable(c);  // until the client hangs up or the server stops
            ::close(c);
        }
    }

    std::function<Answer(const std::string&)> answer_;
    int fd_ = -1;
    int wake_[2] = {-1, -1};
    int port_ = 0;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::vector<std::string> paths_;
};

}  // namespace ombry::test
