#pragma once
// The remote-control server: phone remotes, button controllers, scripts and browsers read the show's state
// and send commands over HTTP, follow it over a WebSocket, and upload media from a browser page. Optional
// control password; the service is advertised over DNS-SD while listening.
//
// Threads: one strand on the network loop runs the listener, every connection, the timers, the advertiser's
// replies and the work of every public operation; the public operations may be called from any thread and
// return at once (stop() waits). The hooks are called off the strand and answer through their reply
// function, on any thread; a reply for a server or connection that has gone is dropped. An upload's body is
// written as it arrives, on the strand, but its file is synced to disk and handed on from another thread.
//
// Advertising: the DNS-SD status "blocked" (no local-network permission) has no counterpart on Linux, where
// nothing refuses a registration for lack of permission, and there is no permission probe: only
// `starting`, `registered` and `failed` are ever reported.
#include <cstdint>
#include <filesystem>
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
#include "Engine/Servers/HTTPConnection.hpp"
#include "Engine/Intake/MediaIngest.hpp"
#include "Engine/Model/Protocol.hpp"
#include "Platform/Dnssd/Advertiser.hpp"
#include "Platform/NetLoop.hpp"
#include "Platform/WorkerPool.hpp"

namespace ombry {

class ControlServer final : public ClientConnDelegate, public std::enable_shared_from_this<ControlServer> {
public:
    enum class StartError {
        noPort,     // no port of the 21 could be bound
        cancelled,  // stop() came first
    };
    using StartResult = std::variant<ServerInfo, StartError>;

    using AdvertiseStatus = ombry::AdvertiseStatus;

    static constexpr std::int64_t maxUploadBytes = std::int64_t(1) << 34;  // 16 GiB
    static constexpr const char* serviceType = "_ombry._tcp";

    struct Options {
        std::string bindAddress = "::";
        net::NetLoop* loop = nullptr;      // the process's network loop when null
        net::NetTimers* timers = nullptr;  // the steady clock when null
        double heartbeatSeconds = 15;
        double retrySeconds = 0.15;
        // A service whose TXT record changes is withdrawn and registered again this long after: Avahi's
        // caches (this machine's and Linux remotes') keep a service announced again within a second of
        // its goodbye for gone.
        double reannounceSeconds = 2;
        // Null: no advertising. The application passes the Avahi one.
        std::shared_ptr<dnssd::Advertiser> advertiser;
        std::string serviceName;  // empty: this computer's name, else "Ombry"
        std::filesystem::path uploadPage;  // empty: the shipped "UploadPage/upload.html"
        std::filesystem::path incomingDir;  // empty: the store's incoming-media folder
        // Runs an upload's file work (its writes, then syncing it to disk and handing it on, or deleting it)
        // in order, away from the network thread; null: a thread of the server's own.
        std::function<void(std::function<void()>)> fileWork;
        // Runs the file work a request waits for (making an upload's file, the upload page's first read)
        // away from the network thread; null: the threads that serve files (onFileThread).
        std::function<void(std::function<void()>)> fileOps;
        ConnLimits limits;
        // "/api/state" before any live snapshot: requests that arrive while the snapshot hook is being asked
        // share its answer, and the hook is asked at most once in this time (one frame at 60 Hz).
        double stateHopSeconds = 1.0 / 60;
        // One rendering of a live snapshot answers every "/api/state" of this long (seconds of transportNow).
        double stateReuseSeconds = 0.001;
    };

    static std::shared_ptr<ControlServer> create(Options options);
    static std::shared_ptr<ControlServer> create();
    ~ControlServer() override;

    // Hooks, set before the first start. Each gets a reply function to call once, on any thread.
    std::function<void(ControlCommand, std::function<void(ControlResult)>)> perform;
    std::function<void(std::function<void(std::optional<ControlSnapshot>)>)> snapshot;
    std::function<void(UploadIngestRequest, std::function<void(UploadIngestResult)>)> ingestUpload;
    std::function<void(std::function<void(std::vector<UploadPlaylistInfo>)>)> uploadPlaylists;
    // Called on the server's strand.
    std::function<void(int remotes, int companions)> onClientsChanged;
    std::function<void(AdvertiseStatus)> onAdvertiseStatus;
    std::function<void(ServerInfo)> onInfoChange;

    // Binds preferredPort or one of the 20 above it, each tried up to four times 0.15 s apart; `done` runs
    // once on the strand. Call on a stopped server.
    void start(std::uint16_t preferredPort, std::function<void(StartResult)> done);
    // Cancels a pending start, withdraws the service, closes the listener and every connection; waits
    // unless called on the network thread. Once it has returned nothing is reported (the counts last as
    // (0, 0)) and no hook is called for what came before it.
    void stop();

    // Trimmed; empty means none. A changed password closes the WebSocket clients admitted under the old one.
    void configureControl(std::optional<std::string> password);
    void configureUpload(bool enabled, std::optional<std::string> token);
    void updateThumbIndex(std::map<std::string, std::string> index);
    // A new state, sent to every WebSocket client. A live snapshot (made with the playhead anchors) also
    // answers "/api/state" from then on, its time fields moved on to the moment of each request; the snapshot
    // hook is asked only while none has been pushed.
    void push(std::shared_ptr<const LiveSnapshot> snapshot);
    void push(ControlSnapshot snapshot);
    // The same state with re-anchored playheads: answers "/api/state" from now on; nothing is sent.
    void updatePlayheads(std::shared_ptr<const LiveSnapshot> snapshot);
    void pushTransport(ControlTransportMessage message);

    // Query items of a request target, later items winning and a bare name removing the entry.
    static std::map<std::string, std::string> queryDict(const std::string& target);
    static std::string errorBody(const std::string& message);
    // Equal after Unicode NFC normalisation, compared in time that does not depend on where they differ.
    static bool secretsMatch(const std::string& given, const std::string& expected);

    // ClientConnDelegate
    void route(HTTPRequest request, const std::shared_ptr<ClientConn>& conn) override;
    void handleFrame(std::string message, const std::shared_ptr<ClientConn>& conn) override;
    void remove(ClientConn& conn) override;
    void upgraded(const std::shared_ptr<ClientConn>& conn) override;
    bool authorizeUpgrade(const std::string& path, const HTTPHeaders& headers) override;
    BodyDisposition disposition(const HTTPRequest& request, std::int64_t contentLength,
                                const std::shared_ptr<ClientConn>& conn) override;

private:
    explicit ControlServer(Options options);
    ServerInfo info() const;
    void bind(std::uint16_t port, int triesLeft, int samePortRetries);
    void retryBind(std::uint16_t port, int triesLeft, int samePortRetries);
    void finishStart(StartResult result);
    void adopt(net::tcp::socket socket);
    void armHeartbeat();
    void reportClients();
    void sendToUpgraded(const std::shared_ptr<const std::string>& text, MessageKind kind);
    void stopOnStrand();

    bool controlAuthorized(const std::map<std::string, std::string>& query, const HTTPHeaders& headers) const;
    bool uploadAuthorized(const std::map<std::string, std::string>& query, const HTTPHeaders& headers) const;
    static void sendJSON(ClientConn& conn, const std::string& status, const std::string& body);
    static std::string jsonResponse(const std::string& status, std::string_view body);
    void routeState(const std::shared_ptr<ClientConn>& conn);
    void askForState();
    void answerStateWaiters(std::optional<ControlSnapshot> fresh);
    // Runs `ask` off the strand with a reply that comes back to the strand and, if the server and the
    // connection still exist, answers with `answer`.
    template <class T, class Ask, class Answer>
    void leaveQueue(const std::shared_ptr<ClientConn>& conn, Ask ask, Answer answer);
    void routeCommand(const ControlCommand& command, const std::shared_ptr<ClientConn>& conn);
    void routeUploadPage(const HTTPRequest& request, const std::shared_ptr<ClientConn>& conn);
    void uploadPageRead(std::string page);
    void routeUploadMeta(const HTTPRequest& request, const std::shared_ptr<ClientConn>& conn);
    BodyDisposition rejectUpload(ClientConn& conn, const std::string& status, const std::string& message);
    void completeUpload(UploadIngestRequest request, const std::weak_ptr<ClientConn>& conn, std::uint64_t run);
    void dropUpload(const UploadIngestRequest& request);

    void advertise();
    void reannounce();
    void handleRegisterReply(int error, const std::string& name);
    void setAdvertiseStatus(AdvertiseStatus status);

    net::NetLoop& loop_;
    net::NetTimers& timers_;
    net::Strand strand_;
    std::shared_ptr<WorkerPool> fileThread_;  // with the default fileWork
    Options options_;

    // Strand only.
    std::shared_ptr<net::tcp::acceptor> listener_;
    std::map<const ClientConn*, std::shared_ptr<ClientConn>> conns_;
    std::unique_ptr<net::NetTimer> heartbeat_;
    std::unique_ptr<net::NetTimer> retry_;
    std::unique_ptr<net::NetTimer> reannounce_;
    bool reannouncing_ = false;
    std::uint16_t port_ = 7341;
    std::shared_ptr<const LiveSnapshot> latestSnapshot_;
    std::shared_ptr<const std::string> latestSnapshotData_;
    std::shared_ptr<const std::string> stateReply_;  // a whole "/api/state" response of latestSnapshot_
    double stateReplyAt_ = 0;                        // the transportNow() it was rendered for
    std::shared_ptr<const std::string> clipsReply_;  // the "/api/clips" response of latestSnapshot_
    std::vector<std::weak_ptr<ClientConn>> stateWaiters_;  // for the snapshot hook's answer
    bool stateHopPending_ = false;
    double lastStateHop_ = -1e300;
    std::unique_ptr<net::NetTimer> stateHopTimer_;
    double lastTransportSent_ = -1e300;
    std::optional<ControlTransportMessage> lastTransportMsg_;
    std::map<std::string, std::string> thumbIndex_;
    bool uploadEnabled_ = false;
    std::optional<std::string> uploadToken_;
    std::optional<std::string> controlPassword_;
    std::optional<std::string> uploadPageCache_;
    std::vector<std::weak_ptr<ClientConn>> pageWaiters_;  // for the upload page's first read
    std::uint64_t run_ = 0;  // counts the stops: an upload of an earlier run is not handed on
    std::function<void(StartResult)> pendingStart_;
    bool wantsListening_ = false;
    std::optional<AdvertiseStatus> lastAdvertiseStatus_;
    std::unique_ptr<dnssd::Registration> dnsService_;
    std::uint64_t registrationGeneration_ = 0;
    int lastAdvertiseErr_ = 0;
};

}  // namespace ombry
