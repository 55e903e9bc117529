// The Avahi advertiser, and the control server advertising through it, against a real avahi-daemon. The
// daemon runs in a network namespace of its own whose only link is a veth pair, so no multicast leaves the
// machine, and talks on a private bus that stands in for the system bus; avahi-browse on that bus reports
// what it publishes. Every wait is for a report, bounded only as a guard against a hang.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Engine/Servers/ControlServer.hpp"
#include "NetTestSupport.hpp"
#include "Platform/Dnssd/Advertiser.hpp"
#include "support/PrivateBus.hpp"
#include "support/Processes.hpp"
#include "support/TestEnv.hpp"

namespace ombry {
namespace {

using Status = ControlServer::AdvertiseStatus;

// Probing, announcing and resolving on a fresh daemon take a few seconds; this only guards against a hang.
constexpr double avahiWait = 30.0;

// avahi-daemon in its namespace, on its bus.
class AvahiDaemon {
public:
    // Why the daemon cannot run here, or empty.
    static std::string unavailable() {
        if (::access("/usr/sbin/avahi-daemon", X_OK) != 0) return "avahi-daemon is not installed";
        if (::access("/usr/bin/avahi-browse", X_OK) != 0) return "avahi-browse is not installed";
        if (::access("/usr/bin/unshare", X_OK) != 0) return "unshare is not installed";
        if (test::runProcess({"/usr/bin/unshare", "--net", "--mount", "true"}) != 0)
            return "cannot create a network namespace here (needs root or CAP_SYS_ADMIN)";
        return {};
    }

    AvahiDaemon() {
        const auto dir = test::tempDir("avahi");
        // Only the veth end, no records about this host beyond its address, nothing relayed, nothing wide-area.
        test::writeFile(dir / "avahi-daemon.conf",
                        "[server]\nhost-name=ombry-test\ndomain-name=local\nuse-ipv4=no\nuse-ipv6=yes\n"
                        "allow-interfaces=v0\nenable-dbus=yes\nratelimit-interval-usec=1000000\nratelimit-burst=1000\n"
                        "[wide-area]\nenable-wide-area=no\n"
                        "[publish]\npublish-hinfo=no\npublish-workstation=no\npublish-domain=no\n"
                        "publish-aaaa-on-ipv4=no\npublish-a-on-ipv6=no\n"
                        "[reflector]\nenable-reflector=no\n");
        // Children on the bus (the daemon, avahi-browse) and this process's avahi-client find it here.
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", bus_.address().c_str(), 1);
        // A private /run keeps the daemon's pid file and socket apart from any daemon of the machine, and an
        // empty services folder keeps the machine's static services out.
        const std::string script =
            "set -e\n"
            "PATH=/usr/sbin:/usr/bin:/sbin:/bin:$PATH\n"
            "ip link add v0 type veth peer name v1\n"
            "ip link set v0 multicast on up\n"
            "ip link set v1 up\n"
            "mount -t tmpfs tmpfs /run\n"
            "if [ -d /etc/avahi/services ]; then mount -t tmpfs tmpfs /etc/avahi/services; fi\n"
            "exec avahi-daemon --no-chroot --no-drop-root --no-rlimits --no-proc-title -f '" +
            (dir / "avahi-daemon.conf").string() + "' 2>&1\n";
        daemon_ = std::make_unique<test::Child>(
            std::vector<std::string>{"/usr/bin/unshare", "--net", "--mount", "/bin/sh", "-c", script});
        // Ready once it is on the bus and has taken the veth end.
        bool startedUp = false, linked = false;
        while (!(startedUp && linked)) {
            const std::string line = daemon_->readLine(avahiWait);
            if (line.empty()) throw std::runtime_error("avahi-daemon did not start; its last words:\n" + log_);
            log_ += line + "\n";
            startedUp = startedUp || line.find("Server startup complete") != std::string::npos;
            linked = linked || line.find("New relevant interface v0") != std::string::npos;
        }
    }

private:
    test::PrivateBus bus_;
    std::unique_ptr<test::Child> daemon_;
    std::string log_;
};

// One service as avahi-browse resolved it.
struct Published {
    int port = 0;
    std::vector<std::string> txt;
};

// avahi-browse's parsable names: "\DDD" is a byte in decimal, "\." and "\\" the character itself.
std::string unescapeName(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() && std::isdigit(static_cast<unsigned char>(s[i + 1]))) {
            out += static_cast<char>(std::stoi(s.substr(i + 1, 3)));
            i += 3;
        } else if (s[i] == '\\' && i + 1 < s.size()) {
            out += s[++i];
        } else {
            out += s[i];
        }
    }
    return out;
}

// The TXT field: quoted strings separated by spaces.
std::vector<std::string> txtStrings(const std::string& field) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] != '"') continue;
        const std::size_t end = field.find('"', i + 1);
        if (end == std::string::npos) break;
        out.push_back(field.substr(i + 1, end - i - 1));
        i = end;
    }
    return out;
}

// avahi-browse following "_ombry._tcp" on the daemon, resolving each service.
class Browser {
public:
    Browser() : child_({"/usr/bin/avahi-browse", "--resolve", "--parsable", ControlServer::serviceType}) {}

    // Reads reports until `done` holds for what is published; false when the guard ran out first.
    bool waitUntil(const std::function<bool(const std::map<std::string, Published>&)>& done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(avahiWait);
        while (!done(published)) {
            const double left = std::chrono::duration<double>(deadline - std::chrono::steady_clock::now()).count();
            if (left <= 0) return false;
            const std::string line = child_.readLine(left);
            if (line.empty()) return done(published);
            take(line);
        }
        return true;
    }
    bool shows(const std::string& name, int port, std::vector<std::string> txt) {
        return waitUntil([&](const auto& p) {
            auto it = p.find(name);
            return it != p.end() && it->second.port == port && it->second.txt == txt;
        });
    }
    bool gone(const std::string& name) {
        return waitUntil([&](const auto& p) { return !p.count(name); });
    }

    std::map<std::string, Published> published;
    std::string transcript;

private:
    void take(const std::string& line) {
        transcript += line + "\n";
        std::vector<std::string> fields;
        std::size_t start = 0;
        // The TXT field comes last and may hold semicolons: split only the nine before it.
        while (fields.size() < 9) {
            const std::size_t semi = line.find(';', start);
            if (semi == std::string::npos) break;
            fields.push_back(line.substr(start, semi - start));
            start = semi + 1;
        }
        fields.push_back(line.substr(start));
        if (fields.size() < 4) return;
        const std::string name = unescapeName(fields[3]);
        if (fields[0] == "=" && fields.size() == 10) published[name] = {std::stoi(fields[8]), txtStrings(fields[9])};
        if (fields[0] == "-") published.erase(name);
    }

    test::Child child_;
};

// Reports that arrive on other threads, waited for.
template <class T>
class Reports {
public:
    void add(T value) {
        std::lock_guard lock(mutex_);
        seen_.push_back(std::move(value));
        changed_.notify_all();
    }
    bool waitFor(const std::function<bool(const std::vector<T>&)>& done) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::duration<double>(avahiWait), [&] { return done(seen_); });
    }
    std::vector<T> all() {
        std::lock_guard lock(mutex_);
        return seen_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<T> seen_;
};

struct Reply {
    int error = 0;
    std::string name;
};

// One daemon for the whole process: libdbus reads the system bus address once per process, so every test
// of the process must use the same bus.
class AvahiEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        skipReason = AvahiDaemon::unavailable();
        if (!skipReason.empty()) return;
        try {
            daemon = std::make_unique<AvahiDaemon>();
        } catch (const std::exception& e) {
            startFailure = e.what();
        }
    }
    void TearDown() override { daemon.reset(); }

    std::string skipReason, startFailure;
    std::unique_ptr<AvahiDaemon> daemon;
};

AvahiEnvironment* const avahi =
    static_cast<AvahiEnvironment*>(::testing::AddGlobalTestEnvironment(new AvahiEnvironment));

class AvahiAdvertiserTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!avahi->skipReason.empty()) GTEST_SKIP() << avahi->skipReason;
        ASSERT_TRUE(avahi->startFailure.empty()) << avahi->startFailure;
        browser = std::make_unique<Browser>();
    }
    void TearDown() override {
        if (HasFailure() && browser) std::cerr << "avahi-browse said:\n" << browser->transcript;
    }

    // A registration through the real advertiser whose replies are recorded.
    std::unique_ptr<dnssd::Registration> registerService(const std::string& name, std::uint16_t port,
                                                         std::vector<std::string> txt, Reports<Reply>& replies) {
        auto result = advertiser->registerService({name, ControlServer::serviceType, port, std::move(txt)},
                                                  [&replies](int error, std::string confirmed) {
                                                      replies.add({error, std::move(confirmed)});
                                                  });
        EXPECT_EQ(result.error, 0);
        EXPECT_TRUE(result.registration);
        return std::move(result.registration);
    }

    std::shared_ptr<dnssd::Advertiser> advertiser = dnssd::makeAvahiAdvertiser();
    std::unique_ptr<Browser> browser;
};

bool confirmed(Reports<Reply>& replies, const std::string& name) {
    return replies.waitFor([&](const auto& r) { return !r.empty() && r.back().error == 0 && r.back().name == name; });
}

TEST_F(AvahiAdvertiserTest, PublishesPortAndTxtAndWithdrawsWhenTheRegistrationIsDestroyed) {
    Reports<Reply> replies;
    auto registration = registerService("Ombry Published", 7341, {"auth=1"}, replies);
    ASSERT_TRUE(confirmed(replies, "Ombry Published"));
    EXPECT_TRUE(browser->shows("Ombry Published", 7341, {"auth=1"}));

    Reports<Reply> plainReplies;
    auto plain = registerService("Ombry Plain", 7350, {}, plainReplies);
    ASSERT_TRUE(confirmed(plainReplies, "Ombry Plain"));
    EXPECT_TRUE(browser->shows("Ombry Plain", 7350, {}));

    registration.reset();
    EXPECT_TRUE(browser->gone("Ombry Published"));
    plain.reset();
    EXPECT_TRUE(browser->gone("Ombry Plain"));
    for (const auto& r : replies.all()) EXPECT_EQ(r.error, 0);
}

TEST_F(AvahiAdvertiserTest, ASecondRegistrationOfTheSameNameIsConfirmedUnderTheDaemonsAlternativeName) {
    Reports<Reply> firstReplies, secondReplies;
    auto first = registerService("Ombry Twin", 7341, {}, firstReplies);
    ASSERT_TRUE(confirmed(firstReplies, "Ombry Twin"));
    ASSERT_TRUE(browser->shows("Ombry Twin", 7341, {}));

    auto second = registerService("Ombry Twin", 7342, {"auth=1"}, secondReplies);
    ASSERT_TRUE(confirmed(secondReplies, "Ombry Twin #2"));
    EXPECT_TRUE(browser->shows("Ombry Twin #2", 7342, {"auth=1"}));
    EXPECT_TRUE(browser->shows("Ombry Twin", 7341, {}));

    second.reset();
    EXPECT_TRUE(browser->gone("Ombry Twin #2"));
    first.reset();
    EXPECT_TRUE(browser->gone("Ombry Twin"));
}

// The control server with the real advertiser, on loopback.
class ControlServerAvahiTest : public AvahiAdvertiserTest {
protected:
    struct Running {
        std::shared_ptr<ControlServer> server;
        int port = 0;
        std::shared_ptr<Reports<Status>> statuses = std::make_shared<Reports<Status>>();

        bool registeredAs(const std::string& name) const {
            return statuses->waitFor([&](const auto& s) {
                return !s.empty() && s.back() == Status{Status::Kind::registered, name, 0};
            });
        }
    };

    void TearDown() override {
        for (auto& r : running) r.server->stop();
        AvahiAdvertiserTest::TearDown();
    }

    Running& startServer(const std::string& name, std::optional<std::string> password = std::nullopt) {
        ControlServer::Options options;
        options.bindAddress = "127.0.0.1";
        options.advertiser = advertiser;
        options.serviceName = name;
        Running& r = running.emplace_back();
        r.server = ControlServer::create(options);
        r.server->onAdvertiseStatus = [statuses = r.statuses](Status status) { statuses->add(status); };
        r.server->configureControl(std::move(password));
        std::promise<ControlServer::StartResult> started;
        r.server->start(test::freePort(), [&](ControlServer::StartResult result) { started.set_value(std::move(result)); });
        const auto result = started.get_future().get();
        EXPECT_TRUE(std::holds_alternative<ServerInfo>(result));
        if (const auto* info = std::get_if<ServerInfo>(&result)) r.port = info->port;
        return r;
    }

    std::deque<Running> running;
};

TEST_F(ControlServerAvahiTest, AdvertisesWhileListeningWithThePasswordFlagAndWithdrawsOnStop) {
    auto& open = startServer("Ombry Stage");
    auto& locked = startServer("Ombry Locked", "secret");
    ASSERT_TRUE(open.registeredAs("Ombry Stage"));
    ASSERT_TRUE(locked.registeredAs("Ombry Locked"));
    EXPECT_EQ(open.statuses->all().front(), (Status{Status::Kind::starting, {}, 0}));
    EXPECT_TRUE(browser->shows("Ombry Stage", open.port, {}));
    EXPECT_TRUE(browser->shows("Ombry Locked", locked.port, {"auth=1"}));

    open.server->stop();
    EXPECT_TRUE(browser->gone("Ombry Stage"));
    locked.server->stop();
    EXPECT_TRUE(browser->gone("Ombry Locked"));
}

// A browser that follows the service sees it leave and come back with the new record; taken again at once,
// Avahi would keep it for gone.
TEST_F(ControlServerAvahiTest, AChangedPasswordFlagReachesABrowserThatFollowsTheService) {
    auto& stage = startServer("Ombry Stage");
    ASSERT_TRUE(stage.registeredAs("Ombry Stage"));
    ASSERT_TRUE(browser->shows("Ombry Stage", stage.port, {}));

    stage.server->configureControl("secret");
    EXPECT_TRUE(browser->shows("Ombry Stage", stage.port, {"auth=1"}));
    stage.server->configureControl(std::nullopt);
    EXPECT_TRUE(browser->shows("Ombry Stage", stage.port, {}));
    EXPECT_TRUE(stage.registeredAs("Ombry Stage"));
}

TEST_F(ControlServerAvahiTest, ASecondServerOfTheSameNameReportsTheNameTheDaemonConfirmed) {
    auto& first = startServer("Ombry Booth");
    ASSERT_TRUE(first.registeredAs("Ombry Booth"));
    auto& second = startServer("Ombry Booth");
    ASSERT_TRUE(second.registeredAs("Ombry Booth #2"));
    EXPECT_TRUE(browser->shows("Ombry Booth #2", second.port, {}));
    EXPECT_TRUE(browser->shows("Ombry Booth", first.port, {}));

    second.server->stop();
    EXPECT_TRUE(browser->gone("Ombry Booth #2"));
    first.server->stop();
    EXPECT_TRUE(browser->gone("Ombry Booth"));
}

}  // namespace
}  // namespace ombry
