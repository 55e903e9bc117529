#include "Platform/NetLoop.hpp"

#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <sys/socket.h>

#include <chrono>
#include <future>

#include <boost/asio/post.hpp>
#include <boost/asio/ip/v6_only.hpp>
#include <boost/asio/steady_timer.hpp>

#include "Platform/Ipc/ThreadName.hpp"

namespace ombry::net {

NetLoop::NetLoop() : work_(asio::make_work_guard(context_)) {
    std::promise<std::thread::id> started;
    auto id = started.get_future();
    thread_ = std::thread([this, &started] {
        setCurrentThreadName("ombry-net");
        started.set_value(std::this_thread::get_id());
        context_.run();
    });
    threadId_ = id.get();
}

NetLoop::~NetLoop() {
    work_.reset();
    context_.stop();
    if (thread_.joinable()) thread_.join();
}

NetLoop& netLoop() {
    static NetLoop loop;
    return loop;
}

void runOn(NetLoop& loop, const Strand& strand, const std::function<void()>& fn) {
    if (loop.onLoopThread()) {
        fn();
        return;
    }
    std::promise<void> done;
    asio::post(strand, [&] {
        fn();
        done.set_value();
    });
    done.get_future().wait();
}

namespace {

class SteadyNetTimer final : public NetTimer {
public:
    explicit SteadyNetTimer(const Strand& strand) : timer_(strand) {}

    void arm(double seconds, std::function<void()> fn) override {
        const std::uint64_t generation = ++state_->generation;
        timer_.expires_after(std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::duration<double>(seconds)));
        // A handler already queued when the timer is re-armed still runs: the generation tells it apart.
        timer_.async_wait([weak = std::weak_ptr<State>(state_), generation, fn = std::move(fn)](ErrorCode ec) {
            auto state = weak.lock();
            if (ec || !state || state->generation != generation) return;
            fn();
        });
    }

    void cancel() override {
        ++state_->generation;
        timer_.cancel();
    }

private:
    struct State {
        std::uint64_t generation = 0;
    };
    asio::steady_timer timer_;
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

class SteadyNetTimers final : public NetTimers {
public:
    double now() const override {
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    }
    std::unique_ptr<NetTimer> make(const Strand& strand) override { return std::make_unique<SteadyNetTimer>(strand); }
};

}  // namespace

NetTimers& steadyNetTimers() {
    static SteadyNetTimers timers;
    return timers;
}

class ManualNetTimer final : public NetTimer {
public:
    ManualNetTimer(ManualNetTimers& owner, const Strand& strand) : owner_(owner), strand_(strand) {}
    ~ManualNetTimer() override { cancel(); }

    void arm(double seconds, std::function<void()> fn) override {
        std::lock_guard lock(owner_.mutex_);
        owner_.firing_.erase(this);
        owner_.entries_.insert_or_assign(
            this, ManualNetTimers::Entry{owner_.now_ + seconds, owner_.nextGeneration_++, strand_, std::move(fn)});
    }
    void cancel() override {
        std::lock_guard lock(owner_.mutex_);
        owner_.entries_.erase(this);
        owner_.firing_.erase(this);
    }

private:
    ManualNetTimers& owner_;
    Strand strand_;
};

double ManualNetTimers::now() const {
    std::lock_guard lock(mutex_);
    return now_;
}

std::unique_ptr<NetTimer> ManualNetTimers::make(const Strand& strand) {
    return std::make_unique<ManualNetTimer>(*this, strand);
}

std::size_t ManualNetTimers::armed() const {
    std::lock_guard lock(mutex_);
    return entries_.size();
}

void ManualNetTimers::advance(double seconds) {
    double target;
    {
        std::lock_guard lock(mutex_);
        target = now_ + seconds;
    }
    for (;;) {
        std::unique_lock lock(mutex_);
        auto next = entries_.end();
        for (auto it = entries_.begin(); it != entries_.end(); ++it) {
            if (it->second.due > target) continue;
            if (next == entries_.end() || it->second.due < next->second.due ||
                (it->second.due == next->second.due && it->second.generation < next->second.generation))
                next = it;
        }
        if (next == entries_.end()) {
            now_ = target;
            return;
        }
        if (next->second.due > now_) now_ = next->second.due;
        const void* key = next->first;
        Entry entry = std::move(next->second);
        entries_.erase(next);
        firing_[key] = entry.generation;
        lock.unlock();

        std::promise<void> ran;
        asio::post(entry.strand, [this, key, generation = entry.generation, fn = std::move(entry.fn), &ran] {
            bool live;
            {
                std::lock_guard inner(mutex_);
                auto it = firing_.find(key);
                live = it != firing_.end() && it->second == generation;
                if (live) firing_.erase(it);
            }
            if (live) fn();
            ran.set_value();
        });
        ran.get_future().wait();
    }
}

tcp::acceptor openListener(const Strand& strand, const std::string& address, std::uint16_t port) {
    const auto ip = asio::ip::make_address(address);
    tcp::acceptor acceptor(strand);
    tcp::endpoint endpoint(ip, port);
    ErrorCode ec;
    acceptor.open(endpoint.protocol(), ec);
    if (ec && ip.is_v6() && ip.is_unspecified()) {
        // No IPv6 on this machine: all IPv4 addresses instead.
        endpoint = tcp::endpoint(tcp::v4(), port);
        acceptor.open(endpoint.protocol());
    } else if (ec) {
        throw boost::system::system_error(ec);
    }
    acceptor.set_option(tcp::acceptor::reuse_address(true));
    if (endpoint.address().is_v6() && endpoint.address().is_unspecified())
        acceptor.set_option(asio::ip::v6_only(false));
    acceptor.bind(endpoint);
    acceptor.listen(asio::socket_base::max_listen_connections);
    return acceptor;
}

std::vector<std::string> lanIPv4Addresses() {
    std::vector<std::string> out;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return out;
    for (ifaddrs* i = list; i; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET) continue;
        if (!(i->ifa_flags & IFF_UP) || (i->ifa_flags & IFF_LOOPBACK)) continue;
        char host[NI_MAXHOST] = {};
        if (getnameinfo(i->ifa_addr, sizeof(sockaddr_in), host, sizeof host, nullptr, 0, NI_NUMERICHOST) != 0)
            continue;
        std::string name = host;
        if (name.empty() || name == "127.0.0.1") continue;
        out.push_back(std::move(name));
    }
    freeifaddrs(list);
    return out;
}

}  // namespace ombry::net
