#pragma once
// Helper processes of a test (a private dbus-daemon, a D-Bus stand-in, a probe), started and ended by pid.
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>

#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

extern char** environ;

namespace ombry::test {

// Starts args[0] from PATH with the test's environment, its standard output into the file `out` when one is
// given; -1 when it cannot be started.
inline pid_t spawnProcess(std::vector<std::string> args, const std::string& out = {}) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    if (!out.empty()) posix_spawn_file_actions_addopen(&files, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &files, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&files);
    return pid;
}

// Runs it to its end: its exit status, or -1 when it could not be started or did not exit normally.
inline int runProcess(std::vector<std::string> args, const std::string& out = {}) {
    const pid_t pid = spawnProcess(std::move(args), out);
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

// Runs `child` in a new time namespace whose clocks are moved by `offsets` (as /proc/self/timens_offsets
// takes them) and returns what it returns, or 77 when no time namespace can be made here. A namespace
// applies to the children made after it, so `child` runs in a grandchild; plain system calls only until
// then, as the test process may have other threads.
inline int runInTimeNamespace(const char* offsets, const std::function<int()>& child) {
    const pid_t outer = ::fork();
    if (outer < 0) return -1;
    if (outer == 0) {
        if (::unshare(CLONE_NEWTIME) != 0) ::_exit(77);
        const ssize_t size = ssize_t(std::strlen(offsets));
        const int fd = ::open("/proc/self/timens_offsets", O_WRONLY | O_CLOEXEC);
        if (fd < 0 || ::write(fd, offsets, size_t(size)) != size) ::_exit(77);
        ::close(fd);
        const pid_t inner = ::fork();
        if (inner < 0) ::_exit(2);
        if (inner == 0) ::_exit(child());
        int status = 0;
        ::waitpid(inner, &status, 0);
        ::_exit(WIFEXITED(status) ? WEXITSTATUS(status) : 3);
    }
    int status = 0;
    ::waitpid(outer, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace ombry::test
