#pragma once
// The Bluetooth LE remote: the phone writes command paths to one characteristic and receives snapshots,
// transport ticks and rejections on a second and the thumbnails it asked for on a third.
#include <boost/asio/any_io_executor.hpp>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "Engine/Control/ControlCommand.hpp"
#include "Engine/Control/ControlSnapshot.hpp"
#include "Engine/Servers/ControlBLE.hpp"
#include "Platform/Bluetooth/Peripheral.hpp"
#include "Platform/Clock.hpp"

namespace ombry {

namespace ble {
inline constexpr const char* serviceUuid = "7B3C0001-9E7D-4C22-8A4B-1F5E30D6C9AA";
inline constexpr const char* commandCharUuid = "7B3C0002-9E7D-4C22-8A4B-1F5E30D6C9AA";
inline constexpr const char* stateCharUuid = "7B3C0003-9E7D-4C22-8A4B-1F5E30D6C9AA";
inline constexpr const char* thumbCharUuid = "7B3C0004-9E7D-4C22-8A4B-1F5E30D6C9AA";
// Advertised beside the service while a control password is set.
inline constexpr const char* passwordMarkerUuid = "7B3C";
inline constexpr std::string_view unauthorizedMessage = R"({"type":"unauthorized","reason":"control password required"})";
inline constexpr int thumbMaxSide = 128;
inline constexpr int thumbQuality = 40;  // JPEG quality 0.4
inline constexpr size_t thumbCacheLimit = 300;  // emptied when it holds more
}  // namespace ble

class BLEControlServer final : public bt::PeripheralDelegate, public std::enable_shared_from_this<BLEControlServer> {
public:
    // Runs a command on the application's main thread; `done` may be called on any thread.
    using Perform = std::function<void(ControlCommand command, std::function<void(ControlResult)> done)>;

    // `queue` is the server's serial queue: every field lives on it. The peripheral is made on the first
    // start(). `hostName` is advertised (product name when absent); `clock` times the tick throttle.
    static std::shared_ptr<BLEControlServer> create(boost::asio::any_io_executor queue, bt::PeripheralFactory factory,
                                                    std::optional<std::string> hostName, const Clock& clock = appClock());

    // Set once before start(); called on the queue.
    Perform perform;
    std::function<void(bt::BluetoothState)> onStateChange;
    // The number of state subscribers. On BlueZ it counts notification links, not phones: approximate.
    std::function<void(int)> onClientsChanged;

    // Callable from any thread; each only schedules its work on the queue, in call order.
    void configureControl(std::optional<std::string> password);
    void start();
    void stop();
    // A new state for the subscribers. Its time fields are those of the moment each copy is sent, when it
    // was made with the playhead anchors.
    void push(std::shared_ptr<const LiveSnapshot> snapshot);
    void push(ControlSnapshot snapshot);
    // The same state with re-anchored playheads: what a later send or state request gives; nothing is sent.
    void updatePlayheads(std::shared_ptr<const LiveSnapshot> snapshot);
    void pushTransport(ControlTransportMessage message);
    void updateThumbIndex(std::map<std::string, std::string> idToPath);

    // PeripheralDelegate, on the queue.
    void peripheralDidUpdateState(bt::BluetoothState state) override;
    void peripheralDidSubscribe(const bt::Central& central, const std::string& characteristic) override;
    void peripheralDidUnsubscribe(const bt::Central& central, const std::string& characteristic) override;
    void peripheralDidReceiveWrite(const std::vector<bt::WriteRequest>& requests) override;
    void peripheralIsReadyToUpdateSubscribers() override;
    void peripheralDidStartAdvertising(const std::optional<std::string>& error) override;

    // Allowed to run the written text with this password: no password, or a query item "k" equal to it.
    static bool authorized(const std::string& path, const std::optional<std::string>& password);

private:
    enum class MsgKind { snapshot, tick, thumb, authError };
    struct OutMessage {
        MsgKind kind;
        BLEMessageChunker chunker;
        bool onThumbChar = false;
        bool started = false;
    };
    struct PendingChunk {
        BLEBytes data;
        bool onThumbChar = false;
    };

    BLEControlServer(boost::asio::any_io_executor queue, bt::PeripheralFactory factory, std::optional<std::string> hostName,
                     const Clock& clock);
    template <class F>
    void onQueue(F&& fn);

    void applyDesiredState();
    bt::Advertisement advertisingData() const;
    void handle(const std::string& path);
    void sendUnauthorized();
    void serveThumb(const std::string& requestPath);
    BLEBytes tinyThumb(const std::string& id) const;
    void enqueue(BLEBytes data, MsgKind kind, bool compress, bool onThumbChar);
    void enqueueSnapshot();
    void drain();
    void dropLinks();
    std::string hostLabel() const;

    boost::asio::any_io_executor queue_;
    bt::PeripheralFactory factory_;
    std::optional<std::string> hostName_;
    const Clock& clock_;

    std::optional<std::string> controlPassword_;
    std::unique_ptr<bt::Peripheral> manager_;
    bool shouldRun_ = false;
    bool serviceUp_ = false;
    bool haveChars_ = false;  // the characteristic objects exist (kept across power loss until rebuilt)
    std::map<std::string, bt::Central> stateSubscribers_;
    std::map<std::string, bt::Central> thumbSubscribers_;
    std::shared_ptr<const LiveSnapshot> latestSnapshot_;
    std::optional<double> lastTransportSent_;  // monotonic seconds; none: the distant past
    std::map<std::string, std::string> thumbIndex_;
    std::map<std::string, BLEBytes> thumbCache_;
    std::deque<OutMessage> outbox_;
    std::optional<PendingChunk> pendingChunk_;
    uint8_t stateSeq_ = 0;
    uint8_t thumbSeq_ = 0;

public:
    // For tests: what is cached and queued right now (read on the queue).
    size_t thumbCacheSize() const { return thumbCache_.size(); }
    size_t outboxSize() const { return outbox_.size(); }
};

}  // namespace ombry
