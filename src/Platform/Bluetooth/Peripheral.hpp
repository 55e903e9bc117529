#pragma once
// A Bluetooth LE GATT peripheral as the remote-control server needs it: one service published, advertising,
// writes answered, notifications sent. One real implementation (BlueZ over D-Bus) and a fake in the tests.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace ombry::bt {

enum class BluetoothState { unknown, resetting, unsupported, unauthorized, poweredOff, poweredOn };

const char* bluetoothStateName(BluetoothState state);

struct GattCharacteristic {
    std::string uuid;
    bool write = false;   // write with response
    bool notify = false;  // notify, without the read property
};

struct GattService {
    std::string uuid;  // a primary service
    std::vector<GattCharacteristic> characteristics;  // in this order
};

struct Advertisement {
    std::vector<std::string> serviceUuids;  // 128-bit UUIDs as text, or 16-bit ones as four hex digits
    std::string localName;
};

// One listener subscribed to a notify characteristic. On BlueZ it is one notification link, which stands
// for every central subscribed through it (BlueZ does not say which centrals those are).
struct Central {
    std::string id;
    int maximumUpdateValueLength = 20;  // largest notification value, bytes
};

struct WriteRequest {
    uint64_t id = 0;  // what respond() answers
    std::string central;
    std::string characteristic;
    std::optional<std::vector<uint8_t>> value;  // none: the write carried no value
    int offset = 0;
};

enum class AttResult : uint8_t { success = 0x00, unlikelyError = 0x0E };

// Everything the peripheral reports, delivered on the owner's serial queue.
class PeripheralDelegate {
public:
    virtual ~PeripheralDelegate() = default;
    virtual void peripheralDidUpdateState(BluetoothState state) = 0;
    virtual void peripheralDidSubscribe(const Central& central, const std::string& characteristic) = 0;
    virtual void peripheralDidUnsubscribe(const Central& central, const std::string& characteristic) = 0;
    virtual void peripheralDidReceiveWrite(const std::vector<WriteRequest>& requests) = 0;
    // After updateValue refused a value: the links can take more now.
    virtual void peripheralIsReadyToUpdateSubscribers() = 0;
    virtual void peripheralDidStartAdvertising(const std::optional<std::string>& error) = 0;
};

// Called only from the owner's serial queue.
class Peripheral {
public:
    virtual ~Peripheral() = default;
    virtual BluetoothState state() const = 0;
    virtual void addService(const GattService& service) = 0;
    virtual void removeAllServices() = 0;
    virtual void startAdvertising(const Advertisement& advertisement) = 0;
    virtual void stopAdvertising() = 0;
    virtual bool isAdvertising() const = 0;
    // Sends one notification value to every subscriber of the characteristic. False when it cannot be taken
    // now; peripheralIsReadyToUpdateSubscribers follows once it can.
    virtual bool updateValue(std::span<const uint8_t> value, const std::string& characteristic) = 0;
    virtual void respond(const WriteRequest& request, AttResult result) = 0;
};

// Runs a task on the owner's serial queue.
using PostToQueue = std::function<void(std::function<void()>)>;

// Makes the peripheral when the server first starts. The delegate is held weakly: reports that arrive after
// it has gone are dropped. The first state report follows by itself.
using PeripheralFactory =
    std::function<std::unique_ptr<Peripheral>(std::weak_ptr<PeripheralDelegate> delegate, PostToQueue post)>;

}  // namespace ombry::bt
