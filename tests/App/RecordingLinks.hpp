#pragma once
// Recording stand-ins for the parts that the application state reaches through its links.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "App/Remotes.hpp"
#include "Platform/KeepAwake.hpp"

namespace ombry::test {

struct RecordingOutputServer final : OutputServerLink {
    std::vector<ProgramState> states;
    std::vector<TransportCommandMessage> transports;
    std::vector<MediaIndex> mediaIndexes, thumbIndexes;
    void broadcastState(const ProgramState& state) override { states.push_back(state); }
    void sendTransport(const TransportCommandMessage& message) override { transports.push_back(message); }
    void updateMediaIndex(MediaIndex index) override { mediaIndexes.push_back(std::move(index)); }
    void updateThumbIndex(MediaIndex index) override { thumbIndexes.push_back(std::move(index)); }
    // Starts answer at once with `port` (or no port when `failStart`), unless `holdStarts` keeps them.
    bool failStart = false, holdStarts = false;
    std::vector<std::uint16_t> startPorts;
    std::vector<ServerStartDone> pendingStarts;
    void start(std::uint16_t preferredPort, ServerStartDone done) override {
        startPorts.push_back(preferredPort);
        if (holdStarts) return pendingStarts.push_back(std::move(done));
        if (failStart) return done(ServerStartFailure::noPort);
        done(ServerInfo{preferredPort, "http://localhost:" + std::to_string(preferredPort) + "/", {}});
    }
};

template <class Link>
struct RecordingRemote : Link {
    // "stop", "start", "start 7341", "password <p>", "upload on|off <token>", in call order.
    std::vector<std::string> calls;
    void stop() override { calls.push_back("stop"); }
    void configureControl(const std::string& password) override { calls.push_back("password " + password); }
    int count(const std::string& call) const { return int(std::count(calls.begin(), calls.end(), call)); }
    int countPrefix(const std::string& prefix) const {
        return int(std::count_if(calls.begin(), calls.end(), [&](const std::string& c) { return c.rfind(prefix, 0) == 0; }));
    }
    std::vector<ControlSnapshot> snapshots;
    std::vector<ControlTransportMessage> transports;
    std::vector<MediaIndex> thumbIndexes;
    // What the remote would answer a request for the state with.
    std::shared_ptr<const LiveSnapshot> current;
    int playheadUpdates = 0;
    void push(const std::shared_ptr<const LiveSnapshot>& snapshot) override {
        snapshots.push_back(snapshot->built());
        current = snapshot;
    }
    void updatePlayheads(const std::shared_ptr<const LiveSnapshot>& snapshot) override {
        ++playheadUpdates;
        current = snapshot;
    }
    void pushTransport(const ControlTransportMessage& message) override { transports.push_back(message); }
    void updateThumbIndex(MediaIndex index) override { thumbIndexes.push_back(std::move(index)); }
    std::vector<LayerId> transportLayers() const {
        std::vector<LayerId> out;
        for (const auto& t : transports) out.push_back(t.layer);
        return out;
    }
};

struct RecordingControlServer final : RecordingRemote<ControlServerLink> {
    // Starts answer at once with the asked port (or no port when `failStart`), unless `holdStarts` keeps
    // them; a stop fails the held ones, as a listener closed before it was up does.
    bool failStart = false, holdStarts = false;
    std::vector<ServerStartDone> pendingStarts;
    void start(std::uint16_t preferredPort, ServerStartDone done) override {
        calls.push_back("start " + std::to_string(preferredPort));
        if (holdStarts) return pendingStarts.push_back(std::move(done));
        if (failStart) return done(ServerStartFailure::noPort);
        done(ServerInfo{preferredPort, "http://localhost:" + std::to_string(preferredPort) + "/", {}});
    }
    void stop() override {
        RecordingRemote::stop();
        auto pending = std::move(pendingStarts);
        pendingStarts.clear();
        for (auto& done : pending) done(ServerStartFailure::noPort);
    }
    void configureUpload(bool enabled, const std::optional<std::string>& token) override {
        calls.push_back(std::string("upload ") + (enabled ? "on " : "off ") + token.value_or(""));
    }
};

struct RecordingBluetoothRemote final : RecordingRemote<BluetoothRemoteLink> {
    void start() override { calls.push_back("start"); }
};

struct RecordingKeepAwake final : KeepAwake {
    struct Held final : AwakeActivity {
        int* held;
        explicit Held(int* h) : held(h) { ++*held; }
        ~Held() override { --*held; }
    };
    int held = 0, begun = 0;
    std::vector<std::string> reasons;
    std::unique_ptr<AwakeActivity> begin(const std::string& reason) override {
        ++begun;
        reasons.push_back(reason);
        return std::make_unique<Held>(&held);
    }
};

struct RecordingIntake final : MediaIntakeLink {
    int probes = 0, rescans = 0;
    void probeMissing() override { ++probes; }
    void cascadeOfflineRescan() override { ++rescans; }
};

}  // namespace ombry::test
