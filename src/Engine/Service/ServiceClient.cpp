#include "Engine/Service/ServiceClient.hpp"

#include <arpa/inet.h>
#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <mutex>

#include "Engine/Cloud/CloudInbox.hpp"

namespace ombry {

namespace {

void initCurl() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct Transfer {
    CURL* curl = nullptr;
    std::string reply;
    bool tooLong = false;
    const ServiceClient::Cancelled* cancelled = nullptr;
    bool wasCancelled = false;
};

size_t onBody(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const size_t n = size * count;
    long status = 0;
    curl_easy_getinfo(t->curl, CURLINFO_RESPONSE_CODE, &status);
    if (status != 200) return n;  // only a success's body is read
    if (t->reply.size() + n > ServiceClient::maxReplyBytes) {
        t->tooLong = true;
        return 0;
    }
    t->reply.append(data, n);
    return n;
}

int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* t = static_cast<Transfer*>(user);
    if (t->cancelled && *t->cancelled && (*t->cancelled)()) {
        t->wasCancelled = true;
        return 1;
    }
    return 0;
}

struct UrlParts {
    std::string scheme, host;
};

std::optional<UrlParts> partsOf(const std::string& url) {
    CURLU* h = curl_url();
    if (!h) return std::nullopt;
    std::optional<UrlParts> out;
    char* scheme = nullptr;
    char* host = nullptr;
    if (curl_url_set(h, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK &&
        curl_url_get(h, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
        curl_url_get(h, CURLUPART_HOST, &host, 0) == CURLUE_OK && scheme && host) {
        out = UrlParts{scheme, host};
        std::transform(out->scheme.begin(), out->scheme.end(), out->scheme.begin(),
                       [](unsigned char c) { return char(std::tolower(c)); });
    }
    curl_free(scheme);
    curl_free(host);
    curl_url_cleanup(h);
    return out;
}

}  // namespace

void fromJson(const Json& j, Envelope& e) {
    ObjectReader r(j);
    r.required("ok", e.ok);
    e.error = r.optional<std::string>("error");
}

std::string ServiceError::description() const {
    switch (kind) {
    case Kind::http: return "the feedback service answered with HTTP " + std::to_string(status);
    case Kind::rateLimited: return "too many attempts \u2014 wait a minute and try again";
    case Kind::badResponse: return "the feedback service's response was unreadable";
    }
    return {};
}

bool ServiceClient::isLoopbackHost(const std::string& hostText) {
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

std::optional<ServiceClient> ServiceClient::make(const std::string& service) {
    const auto base = CloudInbox::serviceURL(service);
    if (!base) return std::nullopt;
    const auto parts = partsOf(*base);
    if (!parts) return std::nullopt;
    // Reports carry the machine's name and the user's address: never in the clear to another machine.
    if (parts->scheme != "https" && !isLoopbackHost(parts->host)) return std::nullopt;
    return ServiceClient{*base};
}

std::string ServiceClient::urlFor(const std::string& path) const {
    // The base's own query and fragment are not sent.
    const std::string url = CloudInbox::appendPath(baseURL, path);
    CURLU* h = curl_url();
    if (!h) return url;
    std::string out = url;
    char* text = nullptr;
    if (curl_url_set(h, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK && curl_url_set(h, CURLUPART_QUERY, nullptr, 0) == CURLUE_OK &&
        curl_url_get(h, CURLUPART_URL, &text, 0) == CURLUE_OK && text)
        out = text;
    curl_free(text);
    curl_url_cleanup(h);
    return out;
}

ServiceResult ServiceClient::post(const std::string& path, const Json& body, const Cancelled& cancelled) const {
    initCurl();
    const std::string url = urlFor(path);
    std::optional<std::string> text;
    try {
        text = compactJson(body);
    } catch (const std::exception&) {
        // Not serialisable: the request goes out without a body.
    }
    CURL* c = curl_easy_init();
    if (!c) return TransportError{"the network library could not start"};
    Transfer t;
    t.curl = c;
    t.cancelled = &cancelled;
    char error[CURL_ERROR_SIZE] = {};
    curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/json");
    headers = curl_slist_append(headers, "Expect:");
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(c, CURLOPT_POST, 1L);
    curl_easy_setopt(c, CURLOPT_POSTFIELDS, text ? text->c_str() : "");
    curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(text ? text->size() : 0));
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, error);
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, long(std::max(1.0, transferLimit * 1000)));
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, onProgress);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, &t);
    // A proxy from the environment is for other machines; this one is reached directly.
    if (const auto parts = partsOf(url); parts && isLoopbackHost(parts->host)) curl_easy_setopt(c, CURLOPT_PROXY, "");

    const CURLcode rc = curl_easy_perform(c);
    long status = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    curl_slist_free_all(headers);
    curl_easy_cleanup(c);

    if (t.tooLong) return ServiceError::of(ServiceError::Kind::badResponse);
    if (rc != CURLE_OK) {
        if (t.wasCancelled) return TransportError{"the request was cancelled"};
        if (rc == CURLE_OPERATION_TIMEDOUT) return TransportError{"the feedback service did not answer in time", true};
        return TransportError{std::string("couldn't reach the feedback service: ") + (error[0] ? error : curl_easy_strerror(rc))};
    }
    if (status < 100) return ServiceError::of(ServiceError::Kind::badResponse);
    if (status == 429) return ServiceError::of(ServiceError::Kind::rateLimited);
    if (status != 200) return ServiceError::http(int(status));
    try {
        return decodeJsonText<Envelope>(t.reply);
    } catch (const DecodeError&) {
        return ServiceError::of(ServiceError::Kind::badResponse);
    }
}

}  // namespace ombry
