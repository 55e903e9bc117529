#pragma once
// The parts of the application that the application state drives but does not build here: the browser
// output server, the remote-control server, the Bluetooth remote and media intake. The
// state holds each through one of these small interfaces; any of them may be absent, and the state then
// does without it. The callbacks (on...) are filled by the state once, before the part starts; a part calls
// them on its own thread and the state moves to the main queue itself.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "Engine/Control/AdvertiseStatus.hpp"
#include "Engine/Control/ControlCommand.hpp"
#include "Engine/Control/ControlSnapshot.hpp"
#include "Engine/Intake/MediaIngest.hpp"
#include "Engine/Model/Protocol.hpp"
#include "Engine/Library/Settings.hpp"
#include "Platform/Bluetooth/Peripheral.hpp"

namespace ombry {

// Media id to file path: the clips' files, or their thumbnails.
using MediaIndex = std::map<std::string, std::string>;

// How a server's start ended: its addresses, or why it has none. `cancelled`: a stop() came first.
enum class ServerStartFailure { noPort, cancelled };
using ServerStartResult = std::variant<ServerInfo, ServerStartFailure>;
using ServerStartDone = std::function<void(ServerStartResult)>;

// The server the browser output pages load the program from.
class OutputServerLink {
public:
    virtual ~OutputServerLink() = default;
    // Every program change, in order; a state whose revision is below the last one sent is dropped there.
    virtual void broadcastState(const ProgramState& state) = 0;
    virtual void sendTransport(const TransportCommandMessage& message) = 0;
    virtual void updateMediaIndex(MediaIndex index) = 0;
    virtual void updateThumbIndex(MediaIndex index) = 0;
    // Binds the preferred port or one above it; `done` runs once, on any thread. Called once per run.
    virtual void start(std::uint16_t /*preferredPort*/, ServerStartDone done) { done(ServerStartFailure::noPort); }

    // The number of connected output pages, after each change of it.
    std::function<void(int)> onConnections;
};

// What the remote-control server and the Bluetooth remote have in common.
class RemoteLink {
public:
    virtual ~RemoteLink() = default;
    // A new state after every change of what it shows, encoded once for every client; its time fields
    // follow the playhead anchors it was made with.
    virtual void push(const std::shared_ptr<const LiveSnapshot>& snapshot) = 0;
    // The same state with re-anchored playheads (each playback report): what the remote answers a request
    // for the state with from now on; nothing is sent.
    virtual void updatePlayheads(const std::shared_ptr<const LiveSnapshot>& /*snapshot*/) {}
    // Each playback report of the primary layer; the remote limits the rate itself.
    virtual void pushTransport(const ControlTransportMessage& message) = 0;
    virtual void updateThumbIndex(MediaIndex index) = 0;

    // Runs a client's command in the application; `reply` gets its result once, on the main queue (a
    // remote that has gone meanwhile drops it).
    using Reply = std::function<void(ControlResult)>;
    std::function<void(ControlCommand, Reply)> perform;
};

// The HTTP/WebSocket remote-control server.
class ControlServerLink : public RemoteLink {
public:
    // The current state for a request that asks for it; nothing once the application is shutting down.
    using SnapshotReply = std::function<void(std::optional<ControlSnapshot>)>;
    std::function<void(SnapshotReply)> snapshot;
    // A browser upload that has landed whole in the incoming folder, handed to the application's ingest
    // (which owns the file from then on); the result comes back on the main queue.
    using IngestReply = std::function<void(UploadIngestResult)>;
    std::function<void(UploadIngestRequest, IngestReply)> ingestUpload;
    // The playlists an uploader may choose, in playlist order.
    using PlaylistsReply = std::function<void(std::vector<UploadPlaylistInfo>)>;
    std::function<void(PlaylistsReply)> uploadPlaylists;
    // WebSocket clients that said hello as a remote, and as the button-controller companion.
    std::function<void(int remotes, int companions)> onClientsChanged;
    // The server's addresses, after each change of the machine's network addresses.
    std::function<void(ServerInfo)> onInfoChange;
    // The DNS-SD advertisement's status, after each change of it.
    std::function<void(AdvertiseStatus)> onAdvertiseStatus;

    // Binds the preferred port or one above it; `done` runs once, on any thread. A stop() before the
    // listener is up ends a pending start as cancelled.
    virtual void start(std::uint16_t /*preferredPort*/, ServerStartDone done) { done(ServerStartFailure::noPort); }
    // Closes the listener and drops every client; idempotent.
    virtual void stop() {}
    // Trimmed; an empty password means none. Never restarts the server.
    virtual void configureControl(const std::string& /*password*/) {}
    // The browser upload endpoints: on or off, and the token they ask for.
    virtual void configureUpload(bool /*enabled*/, const std::optional<std::string>& /*token*/) {}
};

// The Bluetooth LE remote.
class BluetoothRemoteLink : public RemoteLink {
public:
    // Centrals subscribed to the state.
    std::function<void(int)> onClientsChanged;
    // The adapter's state, after each change of it.
    std::function<void(bt::BluetoothState)> onStateChange;

    // Advertising and serving while started; idempotent.
    virtual void start() {}
    virtual void stop() {}
    virtual void configureControl(const std::string& /*password*/) {}
};

// Adding media: probing, thumbnails and finding lost files.
class MediaIntakeLink {
public:
    virtual ~MediaIntakeLink() = default;
    // Probes and makes thumbnails for the clips that lack them; returns at once.
    virtual void probeMissing() = 0;
    // Looks again for the offline clips' files, unless such a search is already running; returns at once.
    virtual void cascadeOfflineRescan() = 0;
};

}  // namespace ombry
