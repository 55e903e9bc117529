#pragma once
#include <sys/types.h>

#include <filesystem>
#include <string>

namespace ombry::test {

// A private user-mode PulseAudio server with one null sink, for the life of the object.
// Its socket lives in a fresh temporary folder, so tests running side by side never share one.
class PulseServer {
public:
    static constexpr const char* sinkName = "ombry_null";
    static constexpr const char* sinkDescription = "Ombry Null Output";

    PulseServer();
    ~PulseServer();
    PulseServer(const PulseServer&) = delete;
    PulseServer& operator=(const PulseServer&) = delete;

    // False when pulseaudio is missing or did not come up; `why` says what happened.
    bool ok() const { return ok_; }
    const std::string& why() const { return why_; }
    // The address for PULSE_SERVER: "unix:<folder>/native".
    std::string address() const { return "unix:" + (dir_ / "native").string(); }

private:
    std::filesystem::path dir_;
    pid_t pid_ = -1;
    bool ok_ = false;
    std::string why_;
};

}  // namespace ombry::test
