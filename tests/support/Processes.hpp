#pragma once
// Helper processes of a test (a private dbus-daemon, a D-Bus stand-in, a probe), started and ended by pid.
#include <signal.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>

#include <string>
#include <vector>

extern char** environ;

namespace ombry::test {

// Starts args[0] from PATH with the test's environment; -1 when it cannot be started.
inline pid_t spawnProcess(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
    return pid;
}

// Runs it to its end: its exit status, or -1 when it could not be started or did not exit normally.
inline int runProcess(std::vector<std::string> args) {
    const pid_t pid = spawnProcess(std::move(args));
    if (pid <= 0) return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

// SIGTERM, then waits for it to end.
inline void stopProcess(pid_t pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
}

}  // namespace ombry::test
