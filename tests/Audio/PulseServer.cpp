#include "PulseServer.hpp"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include "support/TestEnv.hpp"

extern char** environ;

namespace ombry::test {

PulseServer::PulseServer(const Options& options) : dir_(tempDir("pulse")) {
    namespace fs = std::filesystem;
    fs::create_directories(dir_ / "runtime");
    fs::create_directories(dir_ / "home");
    fs::permissions(dir_ / "runtime", fs::perms::owner_all, fs::perm_options::replace);

    const std::string sink = std::string("module-null-sink rate=48000 sink_name=") + sinkName +
                             " sink_properties=\"device.description='" + sinkDescription + "'\"";
    const std::string native = "module-native-protocol-unix auth-anonymous=1 socket=" + (dir_ / "native").string();
    const std::string log = "--log-target=file:" + (dir_ / "pulse.log").string();
    std::vector<std::string> args = {options.program, "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
                                     "--disallow-exit", log, "-L", sink, "-L", native};
    for (const auto& extra : options.extraSinks) {
        args.push_back("-L");
        args.push_back("module-null-sink rate=48000 sink_name=" + extra);
    }
    std::vector<std::string> env = {"XDG_RUNTIME_DIR=" + (dir_ / "runtime").string(),
                                    "HOME=" + (dir_ / "home").string(), "PATH=/usr/bin:/bin"};
    std::vector<char*> argv, envp;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);

    if (posix_spawnp(&pid_, options.program.c_str(), nullptr, nullptr, argv.data(), envp.data()) != 0) {
        pid_ = -1;
        why_ = options.program + " could not be started";
        return;
    }
    // Wait for its socket: the daemon takes a moment to load its modules.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            why_ = "pulseaudio exited at start-up";
            return;
        }
        if (fs::exists(dir_ / "native")) {
            ok_ = true;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    why_ = "pulseaudio did not open its socket in time";
}

PulseServer::~PulseServer() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    kill(pid_, SIGCONT);  // a test may have left it stopped
    int status = 0;
    waitpid(pid_, &status, 0);
}

PulseVerdict pulseVerdict(const PulseServer& server) {
    if (server.ok()) return PulseVerdict::run;
    const char* ci = std::getenv("CI");
    return ci && *ci ? PulseVerdict::fail : PulseVerdict::skip;
}

}  // namespace ombry::test
