#pragma once
// A private D-Bus daemon for one test, and child processes that talk on it.
#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

namespace ombry::test {

// A child process whose standard output the test reads line by line. Ended (SIGTERM) when destroyed.
class Child {
public:
    explicit Child(const std::vector<std::string>& argv);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    // The next line of its output without the line break; "" when it ended or `seconds` passed first.
    std::string readLine(double seconds = 20.0);
    bool running() const { return pid_ > 0; }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string buffered_;
};

// dbus-daemon with its own configuration and socket under a temporary folder.
class PrivateBus {
public:
    PrivateBus();
    const std::string& address() const { return address_; }

private:
    std::string address_;
    std::unique_ptr<Child> daemon_;
};

}  // namespace ombry::test
