#include "Engine/Settings.hpp"

#include <openssl/rand.h>
#include <sys/random.h>

#include <stdexcept>

namespace ombry {
namespace {

using nlohmann::json;

void fail(const char* key, const char* expected) {
    throw std::invalid_argument(std::string("settings key \"") + key + "\" is not " + expected);
}

// The stored value when the key is present and not null, else the field keeps its default.
const json* present(const json& j, const char* key) {
    auto it = j.find(key);
    return it == j.end() || it->is_null() ? nullptr : &*it;
}

void read(const json& j, const char* key, bool& out) {
    if (const json* v = present(j, key)) {
        if (!v->is_boolean()) fail(key, "a Boolean");
        out = v->get<bool>();
    }
}
void read(const json& j, const char* key, int64_t& out) {
    if (const json* v = present(j, key)) {
        if (!v->is_number_integer()) fail(key, "an integer");
        out = v->get<int64_t>();
    }
}
void read(const json& j, const char* key, std::string& out) {
    if (const json* v = present(j, key)) {
        if (!v->is_string()) fail(key, "a string");
        out = v->get<std::string>();
    }
}
void read(const json& j, const char* key, std::optional<std::string>& out) {
    if (present(j, key)) {
        std::string s;
        read(j, key, s);
        out = std::move(s);
    }
}
void read(const json& j, const char* key, std::vector<std::string>& out) {
    if (const json* v = present(j, key)) {
        if (!v->is_array()) fail(key, "a list");
        std::vector<std::string> list;
        for (const auto& e : *v) {
            if (!e.is_string()) fail(key, "a list of strings");
            list.push_back(e.get<std::string>());
        }
        out = std::move(list);
    }
}

void put(json& j, const char* key, const std::optional<std::string>& v) {
    if (v) j[key] = *v;
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

void to_json(json& j, const AppSettings& s) {
    j = json::object();
    j["allowOutputOnPrimaryDisplay"] = s.allowOutputOnPrimaryDisplay;
    j["allowOutputOnControllerDisplay"] = s.allowOutputOnControllerDisplay;
    j["audioMonitorEnabled"] = s.audioMonitorEnabled;
    j["syphonOutputEnabled"] = s.syphonOutputEnabled;
    j["ndiOutputEnabled"] = s.ndiOutputEnabled;
    j["ndiAudioDelayMs"] = s.ndiAudioDelayMs;
    put(j, "monitorDeviceUID", s.monitorDeviceUID);
    put(j, "autoRelinkFolderPath", s.autoRelinkFolderPath);
    j["remoteControlEnabled"] = s.remoteControlEnabled;
    j["remoteControlPort"] = s.remoteControlPort;
    j["bleRemoteEnabled"] = s.bleRemoteEnabled;
    j["remoteControlPassword"] = s.remoteControlPassword;
    j["mediaUploadEnabled"] = s.mediaUploadEnabled;
    put(j, "mediaUploadToken", s.mediaUploadToken);
    j["cloudUploadEnabled"] = s.cloudUploadEnabled;
    j["cloudServiceURL"] = s.cloudServiceURL;
    put(j, "cloudInboxId", s.cloudInboxId);
    put(j, "cloudAppSecret", s.cloudAppSecret);
    put(j, "cloudUploadPassword", s.cloudUploadPassword);
    j["customResolutions"] = s.customResolutions;
    j["customFrameRates"] = s.customFrameRates;
    j["serviceBaseURL"] = s.serviceBaseURL;
}

void from_json(const json& j, AppSettings& out) {
    if (!j.is_object()) throw std::invalid_argument("settings are not a JSON object");
    AppSettings s;
    read(j, "allowOutputOnPrimaryDisplay", s.allowOutputOnPrimaryDisplay);
    read(j, "allowOutputOnControllerDisplay", s.allowOutputOnControllerDisplay);
    read(j, "audioMonitorEnabled", s.audioMonitorEnabled);
    read(j, "syphonOutputEnabled", s.syphonOutputEnabled);
    read(j, "ndiOutputEnabled", s.ndiOutputEnabled);
    read(j, "ndiAudioDelayMs", s.ndiAudioDelayMs);
    read(j, "monitorDeviceUID", s.monitorDeviceUID);
    read(j, "autoRelinkFolderPath", s.autoRelinkFolderPath);
    read(j, "remoteControlEnabled", s.remoteControlEnabled);
    read(j, "remoteControlPort", s.remoteControlPort);
    read(j, "bleRemoteEnabled", s.bleRemoteEnabled);
    read(j, "remoteControlPassword", s.remoteControlPassword);
    read(j, "mediaUploadEnabled", s.mediaUploadEnabled);
    read(j, "mediaUploadToken", s.mediaUploadToken);
    read(j, "cloudUploadEnabled", s.cloudUploadEnabled);
    read(j, "cloudServiceURL", s.cloudServiceURL);
    for (const char* outdated : AppSettings::outdatedCloudServiceURLs)
        if (s.cloudServiceURL == outdated) s.cloudServiceURL = AppSettings::defaultCloudServiceURL;
    read(j, "cloudInboxId", s.cloudInboxId);
    read(j, "cloudAppSecret", s.cloudAppSecret);
    read(j, "cloudUploadPassword", s.cloudUploadPassword);
    read(j, "customResolutions", s.customResolutions);
    read(j, "customFrameRates", s.customFrameRates);
    read(j, "serviceBaseURL", s.serviceBaseURL);
    out = std::move(s);
}

}  // namespace ombry
