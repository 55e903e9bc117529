#include "Engine/Library/Settings.hpp"

#include <openssl/rand.h>
#include <sys/random.h>

#include <algorithm>
#include <stdexcept>
#include <string_view>

namespace ombry {
namespace {

// A present key replaces the default; a missing or null one keeps it.
template <class T>
void take(const ObjectReader& r, const char* key, T& field) {
    if (auto v = r.optional<T>(key)) field = std::move(*v);
}
template <class T>
void take(const ObjectReader& r, const char* key, std::optional<T>& field) {
    field = r.optional<T>(key);
}

bool secureBytes(unsigned char* buf, size_t n) {
    if (RAND_bytes(buf, int(n)) == 1) return true;
    size_t done = 0;
    while (done < n) {
        ssize_t got = ::getrandom(buf + done, n - done, 0);
        if (got <= 0) return false;
        done += size_t(got);
    }
    return true;
}

bool digitsOnly(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// "<digits>x<digits>".
bool isSizeText(const std::string& v) {
    const auto x = v.find('x');
    return x != std::string::npos && digitsOnly(std::string_view(v).substr(0, x)) &&
           digitsOnly(std::string_view(v).substr(x + 1));
}

// "<digits>p".
bool isRateText(const std::string& v) {
    return v.size() >= 2 && v.back() == 'p' && digitsOnly(std::string_view(v).substr(0, v.size() - 1));
}

}  // namespace

const AppSettings& AppSettings::defaults() {
    static const AppSettings value;
    return value;
}

std::string AppSettings::makeUploadToken() {
    static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static constexpr unsigned limit = 62 * 4;  // bytes at or above it are redrawn, so no character is favoured
    std::string token;
    unsigned char buf[32];
    while (token.size() < 22) {
        if (!secureBytes(buf, sizeof buf)) throw std::runtime_error("the secure random generator failed");
        for (unsigned char b : buf)
            if (b < limit && token.size() < 22) token += alphabet[b % 62];
    }
    return token;
}

Json toJson(const AppSettings& s) {
    return ObjectWriter()
        .put("allowOutputOnPrimaryDisplay", s.allowOutputOnPrimaryDisplay)
        .put("allowOutputOnControllerDisplay", s.allowOutputOnControllerDisplay)
        .put("audioMonitorEnabled", s.audioMonitorEnabled)
        .put("syphonOutputEnabled", s.syphonOutputEnabled)
        .put("ndiOutputEnabled", s.ndiOutputEnabled)
        .put("ndiAudioDelayMs", s.ndiAudioDelayMs)
        .put("monitorDeviceUID", s.monitorDeviceUID)
        .put("autoRelinkFolderPath", s.autoRelinkFolderPath)
        .put("remoteControlEnabled", s.remoteControlEnabled)
        .put("remoteControlPort", s.remoteControlPort)
        .put("bleRemoteEnabled", s.bleRemoteEnabled)
        .put("remoteControlPassword", s.remoteControlPassword)
        .put("mediaUploadEnabled", s.mediaUploadEnabled)
        .put("mediaUploadToken", s.mediaUploadToken)
        .put("cloudUploadEnabled", s.cloudUploadEnabled)
        .put("cloudServiceURL", s.cloudServiceURL)
        .put("cloudInboxId", s.cloudInboxId)
        .put("cloudAppSecret", s.cloudAppSecret)
        .put("cloudUploadPassword", s.cloudUploadPassword)
        .put("customResolutions", s.customResolutions)
        .put("customFrameRates", s.customFrameRates)
        .put("serviceBaseURL", s.serviceBaseURL)
        .done();
}

void fromJson(const Json& j, AppSettings& out) {
    ObjectReader r(j);
    AppSettings s;
    take(r, "allowOutputOnPrimaryDisplay", s.allowOutputOnPrimaryDisplay);
    take(r, "allowOutputOnControllerDisplay", s.allowOutputOnControllerDisplay);
    take(r, "audioMonitorEnabled", s.audioMonitorEnabled);
    take(r, "syphonOutputEnabled", s.syphonOutputEnabled);
    take(r, "ndiOutputEnabled", s.ndiOutputEnabled);
    take(r, "ndiAudioDelayMs", s.ndiAudioDelayMs);
    take(r, "monitorDeviceUID", s.monitorDeviceUID);
    take(r, "autoRelinkFolderPath", s.autoRelinkFolderPath);
    take(r, "remoteControlEnabled", s.remoteControlEnabled);
    take(r, "remoteControlPort", s.remoteControlPort);
    take(r, "bleRemoteEnabled", s.bleRemoteEnabled);
    take(r, "remoteControlPassword", s.remoteControlPassword);
    take(r, "mediaUploadEnabled", s.mediaUploadEnabled);
    take(r, "mediaUploadToken", s.mediaUploadToken);
    take(r, "cloudUploadEnabled", s.cloudUploadEnabled);
    take(r, "cloudServiceURL", s.cloudServiceURL);
    for (const char* outdated : AppSettings::outdatedCloudServiceURLs)
        if (s.cloudServiceURL == outdated) s.cloudServiceURL = AppSettings::defaultCloudServiceURL;
    take(r, "cloudInboxId", s.cloudInboxId);
    take(r, "cloudAppSecret", s.cloudAppSecret);
    take(r, "cloudUploadPassword", s.cloudUploadPassword);
    take(r, "customResolutions", s.customResolutions);
    take(r, "customFrameRates", s.customFrameRates);
    // Remembered values edited by hand into another form would be offered but set something else.
    std::erase_if(s.customResolutions, [](const std::string& v) { return !isSizeText(v); });
    std::erase_if(s.customFrameRates, [](const std::string& v) { return !isRateText(v); });
    take(r, "serviceBaseURL", s.serviceBaseURL);
    out = std::move(s);
}

}  // namespace ombry
