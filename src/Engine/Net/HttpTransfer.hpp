#pragma once
// One HTTP request over libcurl, run to its end on the calling thread: the set-up every client of a web
// service shares (http and https only, no signals, redirects answered unless asked for, an optional direct
// route to loopback past the environment's proxy), cancellation and the longest silence checked every
// 50 ms, and the answer handed to a sink as it arrives.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace ombry {

struct HttpRequest {
    std::string url;
    std::string method = "GET";
    std::optional<std::string> body;   // sent as the request body (a POST without one sends an empty body)
    std::vector<std::string> headers;  // "Name: value"; "Name:" drops one libcurl would add
    double timeLimit = 0;              // > 0: seconds the whole exchange may take
    double connectLimit = 0;           // > 0: seconds the connection may take
    double silenceLimit = 0;           // > 0: seconds without a byte either way that end it
    long followRedirects = 0;          // how many redirects are followed (to http and https only); 0: answered
    bool directToLoopback = false;     // a loopback host is reached past any proxy of the environment
    long receiveBuffer = 0;            // > 0: libcurl's receive buffer in bytes
    std::function<bool()> cancelled;   // asked every 50 ms at least; true ends the request
};

// What the caller does with the answer, on the request's thread. Either call returning false ends the
// transfer as `stopped`.
class HttpSink {
public:
    virtual ~HttpSink() = default;
    // At the end of the final answer's head; `announced` is the body length it gives, or -1.
    virtual bool head(long status, std::int64_t announced) {
        (void)status;
        (void)announced;
        return true;
    }
    virtual bool body(const char* data, std::size_t n) = 0;
};

// Keeps a body of at most `limit` bytes; a longer one stops the transfer.
class CappedBody final : public HttpSink {
public:
    // successOnly: the body of an answer other than 200 is passed over unread.
    explicit CappedBody(std::size_t limit, bool successOnly = false) : limit_(limit), successOnly_(successOnly) {}
    bool head(long status, std::int64_t) override;
    bool body(const char* data, std::size_t n) override;
    std::string text;
    bool tooLong = false;

private:
    std::size_t limit_;
    bool successOnly_;
    bool skipping_ = false;
};

struct HttpOutcome {
    enum class End {
        answered,   // the exchange ran to its end
        stopped,    // the sink ended it
        cancelled,  // `cancelled` said so
        timedOut,   // the time, connection or silence limit passed
        failed,     // the transport failed (no connection, a broken stream, …)
        unstarted,  // libcurl could not start
    };
    End end = End::failed;
    long status = 0;       // of the final answer; 0 before its head was read
    bool headRead = false;  // the sink's head() was called
    std::string error;     // the reason, for every end but answered (and stopped by the sink)
};

HttpOutcome performHttp(const HttpRequest& request, HttpSink& sink);

// Whether the host is this machine ("localhost", 127.0.0.0/8, ::1).
bool isLoopbackHost(const std::string& host);
// The scheme (in lower case) and host of a URL, or nothing when it does not parse.
struct UrlHost {
    std::string scheme, host;
};
std::optional<UrlHost> urlHostOf(const std::string& url);

}  // namespace ombry
