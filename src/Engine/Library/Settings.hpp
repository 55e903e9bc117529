#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Engine/Model/JsonCoding.hpp"

namespace ombry {

// The application's persistent settings, stored as "settings.json" in the support folder.
struct AppSettings {
    bool allowOutputOnPrimaryDisplay = false;
    bool allowOutputOnControllerDisplay = false;
    bool audioMonitorEnabled = false;
    bool syphonOutputEnabled = false;
    bool ndiOutputEnabled = false;
    std::int64_t ndiAudioDelayMs = 0;
    std::optional<std::string> monitorDeviceUID;
    std::optional<std::string> autoRelinkFolderPath;
    bool remoteControlEnabled = true;
    std::int64_t remoteControlPort = 7341;
    bool bleRemoteEnabled = false;
    std::string remoteControlPassword;
    bool mediaUploadEnabled = false;
    std::optional<std::string> mediaUploadToken;
    bool cloudUploadEnabled = false;
    std::string cloudServiceURL = defaultCloudServiceURL;
    std::optional<std::string> cloudInboxId;
    std::optional<std::string> cloudAppSecret;
    std::optional<std::string> cloudUploadPassword;
    std::vector<std::string> customResolutions;
    std::vector<std::string> customFrameRates;
    std::string serviceBaseURL = defaultServiceBaseURL;

    // No address until the operator gives one: nothing is sent anywhere before that.
    static constexpr const char* defaultCloudServiceURL = "";
    static constexpr const char* defaultServiceBaseURL = "https://api.ombry.app";
    // Base addresses of the inbox service that earlier versions stored (the last one their default, which
    // served no inbox); read as the default.
    static constexpr const char* outdatedCloudServiceURLs[3] = {"https://ombry-inbox.dovel.app",
                                                                "https://inbox.dovel.app/ombry",
                                                                "https://inbox.ombry.app"};

    static const AppSettings& defaults();

    // 22 characters drawn uniformly from A-Z, a-z and 0-9 with the system's secure random generator.
    static std::string makeUploadToken();

    bool operator==(const AppSettings&) const = default;
};

// Every key is optional (missing or null takes the default); a value of the wrong type throws DecodeError.
Json toJson(const AppSettings& s);
void fromJson(const Json& j, AppSettings& s);

}  // namespace ombry
