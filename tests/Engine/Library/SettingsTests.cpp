#include <gtest/gtest.h>

#include <map>
#include <set>

#include "Engine/Library/Settings.hpp"

using namespace ombry;
using nlohmann::json;

TEST(AppSettings, MissingKeysTakeDefaultsAndWrongTypesFail) {
    EXPECT_EQ(decodeJson<AppSettings>(json::object()), AppSettings::defaults());
    EXPECT_EQ(decodeJson<AppSettings>(json::parse(R"({"remoteControlPort": null, "monitorDeviceUID": null})")),
              AppSettings::defaults());

    AppSettings port = decodeJson<AppSettings>(json::parse(R"({"remoteControlPort": 8000, "someFutureKey": 1})"));
    AppSettings expected = AppSettings::defaults();
    expected.remoteControlPort = 8000;
    EXPECT_EQ(port, expected);

    for (const char* bad : {R"({"remoteControlEnabled": "yes"})", R"({"remoteControlPort": 7341.5})",
                            R"({"customFrameRates": [25, 50]})", R"({"mediaUploadToken": 5})", "[]"})
        EXPECT_THROW(decodeJson<AppSettings>(json::parse(bad)), std::exception) << bad;
}

TEST(AppSettings, RoundTripsAndLeavesOutAbsentOptionals) {
    json plain = toJson(AppSettings::defaults());
    EXPECT_FALSE(plain.contains("mediaUploadToken"));
    EXPECT_EQ(plain.size(), 16u);  // 22 fields, 6 optional ones absent
    EXPECT_EQ(plain["remoteControlEnabled"], true);

    AppSettings s;
    s.mediaUploadToken = "tok";
    s.autoRelinkFolderPath = "/media/show";
    s.customResolutions = {"1280x720"};
    s.ndiAudioDelayMs = 120;
    EXPECT_EQ(decodeJson<AppSettings>(toJson(s)), s);

    AppSettings other = s;
    other.customFrameRates = {"48"};
    EXPECT_NE(other, s);
}

TEST(AppSettings, OutdatedCloudAddressesReadAsTheDefault) {
    for (const char* old : AppSettings::outdatedCloudServiceURLs)
        EXPECT_EQ(decodeJson<AppSettings>(json{{"cloudServiceURL", old}}).cloudServiceURL,
                  AppSettings::defaultCloudServiceURL);
    EXPECT_EQ(decodeJson<AppSettings>(json{{"cloudServiceURL", "http://127.0.0.1:9"}}).cloudServiceURL,
              "http://127.0.0.1:9");
}

TEST(AppSettings, UploadTokensUseTheWholeAlphabetEvenly) {
    const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::map<char, int> seen;
    std::set<std::string> tokens;
    const int n = 2000;
    for (int i = 0; i < n; ++i) {
        std::string t = AppSettings::makeUploadToken();
        ASSERT_EQ(t.size(), 22u);
        for (char c : t) {
            ASSERT_NE(alphabet.find(c), std::string::npos) << t;
            ++seen[c];
        }
        tokens.insert(t);
    }
    EXPECT_EQ(tokens.size(), size_t(n));
    ASSERT_EQ(seen.size(), 62u);
    // Expected 709.7 draws each; a modulo bias over one byte would give the first 8 about 3% more,
    // which this bound does not catch, but a broken alphabet or a stuck generator would stand out.
    for (auto [c, count] : seen) EXPECT_NEAR(count, 22.0 * n / 62, 150) << c;
}
