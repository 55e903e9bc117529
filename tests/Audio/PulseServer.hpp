#pragma once
#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace ombry::test {

// A private user-mode PulseAudio server with null sinks at 48 kHz, for the life of the object.
// Its socket lives in a fresh temporary folder, so tests running side by side never share one.
class PulseServer {
public:
    static constexpr const char* sinkName = "ombry_null";
    static constexpr const char* sinkDescription = "Ombry Null Output";

    struct Options {
        // Further null sinks besides sinkName, by name.
        std::vector<std::string> extraSinks;
        // The daemon to start; a test of the start-up failure names one that does not exist.
        std::string program = "pulseaudio";
    };

    PulseServer() : PulseServer(Options{}) {}
    explicit PulseServer(const Options& options);
    ~PulseServer();
    PulseServer(const PulseServer&) = delete;
    PulseServer& operator=(const PulseServer&) = delete;

    // False when pulseaudio is missing or did not come up; `why` says what happened.
    bool ok() const { return ok_; }
    const std::string& why() const { return why_; }
    // The address for PULSE_SERVER: "unix:<folder>/native".
    std::string address() const { return "unix:" + (dir_ / "native").string(); }
    pid_t pid() const { return pid_; }

private:
    std::filesystem::path dir_;
    pid_t pid_ = -1;
    bool ok_ = false;
    std::string why_;
};

// What a test that needs the server does when it is not there: skip on a developer's machine, but fail
// in continuous integration (CI set), where a missing server would otherwise hide every sound test.
enum class PulseVerdict { run, skip, fail };
PulseVerdict pulseVerdict(const PulseServer& server);

#define OMBRY_REQUIRE_PULSE(server)                                                                      \
    do {                                                                                                 \
        const auto verdict_ = ::ombry::test::pulseVerdict(server);                                       \
        if (verdict_ == ::ombry::test::PulseVerdict::fail) FAIL() << "no sound server: " << (server).why(); \
        if (verdict_ == ::ombry::test::PulseVerdict::skip) GTEST_SKIP() << (server).why();             \
    } while (false)

}  // namespace ombry::test
