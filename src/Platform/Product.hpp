#pragma once
// Every product string in one place.
namespace ombry::product {
inline constexpr const char* name = "Ombry";
inline constexpr const char* bundleId = "com.dovel.Ombry";
inline constexpr const char* logSubsystem = "app.ombry";
inline constexpr const char* projectExtension = "ombry";
inline constexpr const char* projectType = "com.dovel.Ombry.project";
inline constexpr const char* playlistClipboardType = "com.dovel.Ombry.playlist";
inline constexpr int outputServerPort = 7340;
inline constexpr int controlServerPort = 7341;
}
