#pragma once
// The servers' network thread: one io_context run by one thread, a strand per server, timers that run on a
// strand (the steady clock, or a virtual one for tests), listening sockets and the machine's addresses.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/strand.hpp>

namespace ombry::net {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;
using ErrorCode = boost::system::error_code;
using Strand = asio::strand<asio::io_context::executor_type>;

// One io_context and the one thread that runs it, for the life of the object.
class NetLoop {
public:
    NetLoop();
    // Stops the thread; work still queued is dropped. Servers on this loop are stopped first.
    ~NetLoop();
    NetLoop(const NetLoop&) = delete;
    NetLoop& operator=(const NetLoop&) = delete;

    asio::io_context& context() { return context_; }
    Strand makeStrand() { return asio::make_strand(context_); }
    bool onLoopThread() const { return std::this_thread::get_id() == threadId_; }

private:
    asio::io_context context_;
    asio::executor_work_guard<asio::io_context::executor_type> work_;
    std::thread thread_;
    std::thread::id threadId_;
};

// The process's network loop, started on first use.
NetLoop& netLoop();

// Runs fn on the strand and waits for it; runs it at once when already on the loop's thread.
void runOn(NetLoop& loop, const Strand& strand, const std::function<void()>& fn);

// One re-armable timer owned by one object on a strand. Used on that strand only.
class NetTimer {
public:
    virtual ~NetTimer() = default;
    // Calls fn on the strand `seconds` from now; replaces whatever was armed.
    virtual void arm(double seconds, std::function<void()> fn) = 0;
    virtual void cancel() = 0;
};

// Where the servers' timers and their clock come from.
class NetTimers {
public:
    virtual ~NetTimers() = default;
    // Monotonic seconds.
    virtual double now() const = 0;
    virtual std::unique_ptr<NetTimer> make(const Strand& strand) = 0;
};

// The steady clock: the one the servers use outside tests.
NetTimers& steadyNetTimers();

// Virtual time for tests: nothing fires until advance() says so. Outlives the loops whose strands it runs
// timers on.
class ManualNetTimers final : public NetTimers {
public:
    double now() const override;
    std::unique_ptr<NetTimer> make(const Strand& strand) override;
    // Moves time forward, running each due timer on its strand in due order; returns once they have run.
    // Never call it from the loop's thread.
    void advance(double seconds);
    // Timers armed now.
    std::size_t armed() const;

    struct Entry {
        double due = 0;
        std::uint64_t generation = 0;
        Strand strand;
        std::function<void()> fn;
    };

private:
    friend class ManualNetTimer;
    mutable std::mutex mutex_;
    double now_ = 1000.0;
    std::uint64_t nextGeneration_ = 1;
    std::map<const void*, Entry> entries_;  // keyed by the timer object
    // Taken off the armed list and posted, not yet run: a re-arm or cancel meanwhile wins.
    std::map<const void*, std::uint64_t> firing_;
};

// A listening socket on address:port (dual-stack when the address is "::"), SO_REUSEADDR on, never
// SO_REUSEPORT, so a port held by another process stays taken. Throws boost::system::system_error.
tcp::acceptor openListener(const Strand& strand, const std::string& address, std::uint16_t port);

// Numeric IPv4 addresses of the interfaces that are up and not loopback, in the system's order;
// duplicates kept. Empty when the interface list cannot be read.
std::vector<std::string> lanIPv4Addresses();

}  // namespace ombry::net
