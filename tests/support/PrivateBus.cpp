#include "support/PrivateBus.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

#include "support/TestEnv.hpp"

extern char** environ;

namespace ombry::test {

Child::Child(const std::vector<std::string>& argv) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const int rc = ::posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    out_ = pipeFds[0];
    if (rc != 0) {
        pid_ = -1;
        throw std::runtime_error("cannot start " + argv[0]);
    }
}

Child::~Child() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    if (out_ >= 0) ::close(out_);
}

std::string Child::readLine(double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        if (const size_t nl = buffered_.find('\n'); nl != std::string::npos) {
            std::string line = buffered_.substr(0, nl);
            buffered_.erase(0, nl + 1);
            return line;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return {};
        pollfd p{out_, POLLIN, 0};
        if (::poll(&p, 1, int(left.count())) <= 0) continue;
        char buf[256];
        const ssize_t n = ::read(out_, buf, sizeof buf);
        if (n <= 0) return {};
        buffered_.append(buf, size_t(n));
    }
}

PrivateBus::PrivateBus() {
    const auto dir = tempDir("dbus");
    const auto config = dir / "bus.conf";
    writeFile(config, "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                      " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                      "<busconfig><type>session</type><listen>unix:path=" +
                          (dir / "bus").string() +
                          "</listen><auth>EXTERNAL</auth>"
                          "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                          "<allow eavesdrop=\"true\"/><allow own=\"*\"/><allow user=\"*\"/></policy></busconfig>\n");
    daemon_ = std::make_unique<Child>(std::vector<std::string>{"/usr/bin/dbus-daemon", "--config-file=" + config.string(),
                                                               "--print-address", "--nofork"});
    address_ = daemon_->readLine();
    if (address_.empty()) throw std::runtime_error("dbus-daemon gave no address");
}

}  // namespace ombry::test
