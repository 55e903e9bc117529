#include "Engine/Service/ServiceClient.hpp"

#include <curl/curl.h>

#include "Engine/Cloud/CloudInbox.hpp"
#include "Engine/Net/HttpTransfer.hpp"

namespace ombry {

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

bool ServiceClient::isLoopbackHost(const std::string& host) { return ombry::isLoopbackHost(host); }

std::optional<ServiceClient> ServiceClient::make(const std::string& service) {
    const auto base = CloudInbox::serviceURL(service);
    if (!base) return std::nullopt;
    const auto parts = urlHostOf(*base);
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
    HttpRequest r;
    r.url = urlFor(path);
    r.method = "POST";
    try {
        r.body = compactJson(body);
    } catch (const std::exception&) {
        // Not serialisable: the request goes out without a body.
    }
    r.headers = {"Content-Type: application/json", "Expect:"};
    r.timeLimit = transferLimit;
    r.directToLoopback = true;
    r.cancelled = cancelled;
    CappedBody reply(maxReplyBytes, true);
    const HttpOutcome o = performHttp(r, reply);

    if (reply.tooLong) return ServiceError::of(ServiceError::Kind::badResponse);
    switch (o.end) {
    case HttpOutcome::End::answered:
    case HttpOutcome::End::stopped: break;
    case HttpOutcome::End::cancelled: return TransportError{"the request was cancelled"};
    case HttpOutcome::End::timedOut: return TransportError{"the feedback service did not answer in time", true};
    case HttpOutcome::End::unstarted: return TransportError{o.error};
    case HttpOutcome::End::failed: return TransportError{"couldn't reach the feedback service: " + o.error};
    }
    if (o.status < 100) return ServiceError::of(ServiceError::Kind::badResponse);
    if (o.status == 429) return ServiceError::of(ServiceError::Kind::rateLimited);
    if (o.status != 200) return ServiceError::http(int(o.status));
    try {
        return decodeJsonText<Envelope>(reply.text);
    } catch (const DecodeError&) {
        return ServiceError::of(ServiceError::Kind::badResponse);
    }
}

}  // namespace ombry
