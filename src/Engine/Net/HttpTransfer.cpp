#include "Engine/Net/HttpTransfer.hpp"

#include <arpa/inet.h>
#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <mutex>

namespace ombry {

namespace {

using Steady = std::chrono::steady_clock;

void initCurl() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// One request's state, shared with libcurl's callbacks on the calling thread.
struct Run {
    const HttpRequest& request;
    HttpSink& sink;
    CURL* curl = nullptr;
    Steady::time_point lastActivity = Steady::now();
    curl_off_t lastDown = -1, lastUp = -1;
    bool headRead = false;
    bool stopped = false, cancelled = false, silent = false;
};

// At the end of each head: interim answers and the heads of redirects libcurl follows are not the answer.
bool headEnded(Run& r) {
    long status = 0;
    curl_easy_getinfo(r.curl, CURLINFO_RESPONSE_CODE, &status);
    if (status >= 100 && status < 200) return true;
    if (r.request.followRedirects > 0 && status >= 300 && status < 400) {
        char* next = nullptr;
        curl_easy_getinfo(r.curl, CURLINFO_REDIRECT_URL, &next);
        if (next) return true;
    }
    r.headRead = true;
    curl_off_t announced = -1;
    curl_easy_getinfo(r.curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
    return r.sink.head(status, std::int64_t(announced));
}

size_t onHeader(char* data, size_t size, size_t count, void* user) {
    auto* r = static_cast<Run*>(user);
    const size_t n = size * count;
    r->lastActivity = Steady::now();
    const bool blank = (n == 2 && data[0] == '\r' && data[1] == '\n') || (n == 1 && data[0] == '\n');
    if (blank && !headEnded(*r)) {
        r->stopped = true;
        return 0;
    }
    return n;
}

size_t onBody(char* data, size_t size, size_t count, void* user) {
    auto* r = static_cast<Run*>(user);
    const size_t n = size * count;
    r->lastActivity = Steady::now();
    // A body with no head before it is no HTTP answer.
    if (!r->headRead || !r->sink.body(data, n)) {
        r->stopped = true;
        return 0;
    }
    return n;
}

int onProgress(void* user, curl_off_t, curl_off_t down, curl_off_t, curl_off_t up) {
    auto* r = static_cast<Run*>(user);
    if (r->request.cancelled && r->request.cancelled()) {
        r->cancelled = true;
        return 1;
    }
    if (down != r->lastDown || up != r->lastUp) {
        r->lastDown = down;
        r->lastUp = up;
        r->lastActivity = Steady::now();
    } else if (r->request.silenceLimit > 0 &&
               std::chrono::duration<double>(Steady::now() - r->lastActivity).count() > r->request.silenceLimit) {
        r->silent = true;
        return 1;
    }
    return 0;
}

long milliseconds(double seconds) { return long(std::max(1.0, seconds * 1000)); }

}  // namespace

bool CappedBody::head(long status, std::int64_t) {
    skipping_ = successOnly_ && status != 200;
    return true;
}

bool CappedBody::body(const char* data, std::size_t n) {
    if (skipping_) return true;
    if (text.size() + n > limit_) {
        tooLong = true;
        return false;
    }
    text.append(data, n);
    return true;
}

bool isLoopbackHost(const std::string& hostText) {
    std::string host = hostText;
    std::transform(host.begin(), host.end(), host.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    if (!host.empty() && host.back() == '.') host.pop_back();
    if (host == "localhost") return true;
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    in_addr v4{};
    if (inet_pton(AF_INET, host.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    if (inet_pton(AF_INET6, host.c_str(), &v6) == 1) return IN6_IS_ADDR_LOOPBACK(&v6);
    return false;
}

std::optional<UrlHost> urlHostOf(const std::string& url) {
    CURLU* h = curl_url();
    if (!h) return std::nullopt;
    std::optional<UrlHost> out;
    char* scheme = nullptr;
    char* host = nullptr;
    if (curl_url_set(h, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK &&
        curl_url_get(h, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
        curl_url_get(h, CURLUPART_HOST, &host, 0) == CURLUE_OK && scheme && host) {
        out = UrlHost{scheme, host};
        std::transform(out->scheme.begin(), out->scheme.end(), out->scheme.begin(),
                       [](unsigned char c) { return char(std::tolower(c)); });
    }
    curl_free(scheme);
    curl_free(host);
    curl_url_cleanup(h);
    return out;
}

HttpOutcome performHttp(const HttpRequest& request, HttpSink& sink) {
    initCurl();
    HttpOutcome out;
    Run run{request, sink};
    run.curl = curl_easy_init();
    if (!run.curl) {
        out.end = HttpOutcome::End::unstarted;
        out.error = "the network library could not start";
        return out;
    }
    CURL* c = run.curl;
    char error[CURL_ERROR_SIZE] = {};
    curl_slist* headers = nullptr;
    for (const auto& h : request.headers) headers = curl_slist_append(headers, h.c_str());
    curl_easy_setopt(c, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    if (request.followRedirects > 0) {
        curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(c, CURLOPT_MAXREDIRS, request.followRedirects);
        curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    } else {
        curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
    }
    if (request.body) {
        curl_easy_setopt(c, CURLOPT_POSTFIELDS, request.body->c_str());
        curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(request.body->size()));
    } else if (request.method == "POST") {
        curl_easy_setopt(c, CURLOPT_POSTFIELDS, "");
        curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(0));
    }
    if (request.method != "GET" && request.method != "POST")
        curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    if (headers) curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, error);
    if (request.connectLimit > 0) curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, milliseconds(request.connectLimit));
    if (request.timeLimit > 0) curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, milliseconds(request.timeLimit));
    if (request.receiveBuffer > 0) curl_easy_setopt(c, CURLOPT_BUFFERSIZE, request.receiveBuffer);
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, onHeader);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, &run);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &run);
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, onProgress);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, &run);
    // A proxy from the environment is for other machines; this one is reached directly.
    if (request.directToLoopback)
        if (const auto parts = urlHostOf(request.url); parts && isLoopbackHost(parts->host))
            curl_easy_setopt(c, CURLOPT_PROXY, "");

    // The multi interface polled in short steps, so the progress callback sees cancellation and silence
    // promptly whatever the transfer is doing.
    CURLM* multi = curl_multi_init();
    curl_multi_add_handle(multi, c);
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
    curl_multi_remove_handle(multi, c);
    curl_multi_cleanup(multi);
    curl_slist_free_all(headers);
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &out.status);
    curl_easy_cleanup(c);

    out.headRead = run.headRead;
    if (run.stopped) {
        out.end = HttpOutcome::End::stopped;
        if (!run.headRead) out.error = "the answer is not HTTP";
    } else if (run.cancelled) {
        out.end = HttpOutcome::End::cancelled;
        out.error = "the request was cancelled";
    } else if (run.silent) {
        out.end = HttpOutcome::End::timedOut;
        out.error = "nothing was received for " + std::to_string(request.silenceLimit) + " s";
    } else if (rc == CURLE_OK) {
        out.end = HttpOutcome::End::answered;
    } else {
        out.end = rc == CURLE_OPERATION_TIMEDOUT ? HttpOutcome::End::timedOut : HttpOutcome::End::failed;
        out.error = error[0] ? error : curl_easy_strerror(rc);
    }
    return out;
}

}  // namespace ombry
