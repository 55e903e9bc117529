#include "Platform/Bluetooth/BluezPeripheral.hpp"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <sdbus-c++/sdbus-c++.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "Platform/Ipc/ThreadName.hpp"
#include "Platform/Log.hpp"
#include "Platform/Product.hpp"

namespace ombry::bt {

namespace {

constexpr const char* kBluez = "org.bluez";
constexpr const char* kAdapterIface = "org.bluez.Adapter1";
constexpr const char* kGattManagerIface = "org.bluez.GattManager1";
constexpr const char* kAdManagerIface = "org.bluez.LEAdvertisingManager1";
constexpr const char* kServiceIface = "org.bluez.GattService1";
constexpr const char* kCharIface = "org.bluez.GattCharacteristic1";
constexpr const char* kAdIface = "org.bluez.LEAdvertisement1";
constexpr const char* kPropsIface = "org.freedesktop.DBus.Properties";
constexpr const char* kObjectManagerIface = "org.freedesktop.DBus.ObjectManager";
constexpr const char* kRoot = "/com/dovel/Ombry/ble";
// Without a negotiated MTU a notification value holds 20 bytes (the default ATT MTU of 23, less 3).
constexpr int kDefaultValueLength = 20;

using Dict = std::map<std::string, sdbus::Variant>;
using ManagedObjects = std::map<sdbus::ObjectPath, std::map<std::string, Dict>>;

void note(const std::string& message) { logLine(LogLevel::notice, "BLE", message, false); }

// BlueZ turns an error name it does not know into ATT "unlikely error" (0x0E).
sdbus::Error attError(AttResult result) {
    return sdbus::Error(std::string(product::bundleId) + ".Error.Att" + std::to_string(int(result)),
                        "ATT error " + std::to_string(int(result)));
}

class BluezPeripheral final : public Peripheral {
public:
    BluezPeripheral(std::weak_ptr<PeripheralDelegate> delegate, PostToQueue post, std::string busAddress)
        : delegate_(std::move(delegate)), post_(std::move(post)), busAddress_(std::move(busAddress)) {
        wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        thread_ = std::thread([this] { run(); });
    }

    ~BluezPeripheral() override {
        stopping_ = true;
        wake();
        if (thread_.joinable()) thread_.join();
        std::lock_guard lock(linksMutex_);
        for (auto& [id, link] : links_)
            if (link.fd >= 0) ::close(link.fd);
        if (wakeFd_ >= 0) ::close(wakeFd_);
    }

    BluetoothState state() const override { return state_.load(); }

    void addService(const GattService& service) override {
        onLoop([this, service] { publish(service); });
    }
    void removeAllServices() override {
        onLoop([this] { unpublish(); });
    }
    void startAdvertising(const Advertisement& ad) override {
        advertising_ = true;
        onLoop([this, ad] { advertise(ad); });
    }
    void stopAdvertising() override {
        advertising_ = false;
        onLoop([this] { unadvertise(); });
    }
    bool isAdvertising() const override { return advertising_.load(); }

    bool updateValue(std::span<const uint8_t> value, const std::string& characteristic) override {
        std::vector<int> sockets;
        bool viaProperty = false;
        {
            std::lock_guard lock(linksMutex_);
            for (const auto& [id, link] : links_) {
                if (link.characteristic != characteristic) continue;
                if (link.fd >= 0)
                    sockets.push_back(link.fd);
                else
                    viaProperty = true;
            }
            // All or none: a link that cannot take the value now refuses it for every link, so that the
            // resent value reaches none twice.
            for (int fd : sockets) {
                pollfd p{fd, POLLOUT, 0};
                if (::poll(&p, 1, 0) != 1 || !(p.revents & POLLOUT)) {
                    wantWritable_ = true;
                    wake();
                    return false;
                }
            }
            for (int fd : sockets) {
                if (::send(fd, value.data(), value.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0 && errno != EAGAIN)
                    note("notification not sent: " + std::string(std::strerror(errno)));
            }
        }
        if (viaProperty) {
            onLoop([this, characteristic, bytes = std::vector<uint8_t>(value.begin(), value.end())] {
                const auto it = chars_.find(characteristic);
                if (it == chars_.end()) return;
                it->second.value = bytes;
                it->second.object->emitPropertiesChangedSignal(kCharIface, {"Value"});
            });
        }
        return true;
    }

    void respond(const WriteRequest& request, AttResult result) override {
        onLoop([this, id = request.id, result] {
            const auto it = pendingWrites_.find(id);
            if (it == pendingWrites_.end()) return;
            if (result == AttResult::success)
                it->second.returnResults();
            else
                it->second.returnError(attError(result));
            pendingWrites_.erase(it);
        });
    }

private:
    struct Link {
        std::string characteristic;
        int fd = -1;  // our end of an acquired socket; -1 for a StartNotify link
    };
    struct Char {
        std::string uuid;
        std::unique_ptr<sdbus::IObject> object;
        std::vector<uint8_t> value;
        bool notifying = false;  // a StartNotify link is open
        std::string notifyLink;
    };

    template <class F>
    void report(F fn) {
        post_([d = delegate_, fn = std::move(fn)] {
            if (auto live = d.lock()) fn(*live);
        });
    }

    void setState(BluetoothState s) {
        state_ = s;
        report([s](PeripheralDelegate& d) { d.peripheralDidUpdateState(s); });
    }

    void onLoop(std::function<void()> fn) {
        {
            std::lock_guard lock(tasksMutex_);
            tasks_.push_back(std::move(fn));
        }
        wake();
    }

    void wake() const {
        const uint64_t one = 1;
        if (wakeFd_ >= 0) [[maybe_unused]] auto n = ::write(wakeFd_, &one, sizeof one);
    }

    // The loop thread: owns the connection and every D-Bus object.
    void run() {
        setCurrentThreadName("ble-bluez");
        if (!connect()) {
            setState(BluetoothState::unsupported);
            // Nothing to do but wait for the end; what is asked meanwhile is dropped.
            while (!stopping_) waitForWake(-1);
            return;
        }
        while (!stopping_) {
            runTasks();
            while (connection_->processPendingRequest()) {
            }
            if (stopping_) break;
            const auto pd = connection_->getEventLoopPollData();
            std::vector<pollfd> fds{{wakeFd_, POLLIN, 0}, {pd.fd, pd.events, 0}};
            std::vector<std::string> linkIds;
            {
                std::lock_guard lock(linksMutex_);
                for (const auto& [id, link] : links_) {
                    if (link.fd < 0) continue;
                    fds.push_back({link.fd, short(POLLIN | (wantWritable_ ? POLLOUT : 0)), 0});
                    linkIds.push_back(id);
                }
            }
            if (::poll(fds.data(), fds.size(), pd.getPollTimeout()) < 0 && errno != EINTR) break;
            if (fds[0].revents) drainWake();
            bool allWritable = wantWritable_;
            for (size_t i = 2; i < fds.size(); ++i) {
                const short ev = fds[i].revents;
                if (ev & (POLLHUP | POLLERR)) {
                    closeLink(linkIds[i - 2]);
                    continue;
                }
                if (ev & POLLIN) {
                    char sink[512];
                    while (::recv(fds[i].fd, sink, sizeof sink, MSG_DONTWAIT) > 0) {
                    }
                }
                if (!(ev & POLLOUT)) allWritable = false;
            }
            if (wantWritable_ && allWritable) {
                wantWritable_ = false;
                report([](PeripheralDelegate& d) { d.peripheralIsReadyToUpdateSubscribers(); });
            }
        }
        // Objects before the connection they live on.
        chars_.clear();
        pendingWrites_.clear();
        service_.reset();
        ad_.reset();
        root_.reset();
        adapter_.reset();
        managerProxy_.reset();
        adManager_.reset();
        bluezRoot_.reset();
        busProxy_.reset();
        connection_.reset();
    }

    void waitForWake(int timeoutMs) {
        pollfd p{wakeFd_, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) > 0) drainWake();
    }
    void drainWake() {
        uint64_t n;
        while (::read(wakeFd_, &n, sizeof n) > 0) {
        }
    }
    void runTasks() {
        for (;;) {
            std::function<void()> task;
            {
                std::lock_guard lock(tasksMutex_);
                if (tasks_.empty()) return;
                task = std::move(tasks_.front());
                tasks_.pop_front();
            }
            try {
                task();
            } catch (const sdbus::Error& e) {
                note("D-Bus: " + e.getMessage());
            }
        }
    }

    // False only without a bus. Without BlueZ or an adapter the state is unsupported until one appears.
    bool connect() {
        try {
            connection_ = busAddress_.empty() ? sdbus::createSystemBusConnection()
                                              : sdbus::createSessionBusConnectionWithAddress(busAddress_);
            root_ = sdbus::createObject(*connection_, kRoot);
            root_->addObjectManager();
            root_->finishRegistration();
        } catch (const sdbus::Error& e) {
            note("Bluetooth unavailable: " + e.getMessage());
            root_.reset();
            connection_.reset();
            return false;
        }
        // BlueZ restarting, and adapters plugged in or out.
        busProxy_ = sdbus::createProxy(*connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus");
        busProxy_->uponSignal("NameOwnerChanged")
            .onInterface("org.freedesktop.DBus")
            .call([this](const std::string& name, const std::string& oldOwner, const std::string& newOwner) {
                if (name != kBluez) return;
                if (!oldOwner.empty()) adapterLost(BluetoothState::resetting);
                if (!newOwner.empty()) findAdapter();
            });
        busProxy_->finishRegistration();
        bluezRoot_ = sdbus::createProxy(*connection_, kBluez, "/");
        bluezRoot_->uponSignal("InterfacesAdded")
            .onInterface(kObjectManagerIface)
            .call([this](const sdbus::ObjectPath& path, const std::map<std::string, Dict>& ifaces) {
                if (adapterPath_.empty()) adopt(path, ifaces);
            });
        bluezRoot_->uponSignal("InterfacesRemoved")
            .onInterface(kObjectManagerIface)
            .call([this](const sdbus::ObjectPath& path, const std::vector<std::string>& ifaces) {
                if (path == adapterPath_ && std::find(ifaces.begin(), ifaces.end(), kAdapterIface) != ifaces.end())
                    adapterLost(BluetoothState::unsupported);
            });
        bluezRoot_->finishRegistration();
        findAdapter();
        return true;
    }

    // Asks BlueZ for its objects and takes the first adapter that can publish and advertise.
    void findAdapter() {
        bluezRoot_->callMethodAsync("GetManagedObjects")
            .onInterface(kObjectManagerIface)
            .withTimeout(std::chrono::seconds(5))
            .uponReplyInvoke([this](const sdbus::Error* error, const ManagedObjects& objects) {
                if (!adapterPath_.empty()) return;
                if (!error)
                    for (const auto& [path, ifaces] : objects)
                        if (adopt(path, ifaces)) return;
                note(error ? "no BlueZ: " + error->getMessage() : "no Bluetooth LE adapter");
                if (state_.load() != BluetoothState::unsupported) setState(BluetoothState::unsupported);
            });
    }

    bool adopt(const std::string& path, const std::map<std::string, Dict>& ifaces) {
        if (!ifaces.count(kAdapterIface) || !ifaces.count(kGattManagerIface) || !ifaces.count(kAdManagerIface)) return false;
        adapterPath_ = path;
        adapter_ = sdbus::createProxy(*connection_, kBluez, adapterPath_);
        adapter_->uponSignal("PropertiesChanged")
            .onInterface(kPropsIface)
            .call([this](const std::string& iface, const Dict& changed, const std::vector<std::string>&) {
                if (iface != kAdapterIface) return;
                if (const auto it = changed.find("Powered"); it != changed.end()) poweredChanged(it->second.get<bool>());
            });
        adapter_->finishRegistration();
        const auto& props = ifaces.at(kAdapterIface);
        const auto powered = props.find("Powered");
        bool on = false;
        try {
            on = powered != props.end() && powered->second.get<bool>();
        } catch (const sdbus::Error&) {
        }
        poweredChanged(on);
        return true;
    }

    // The adapter or BlueZ itself went away with everything registered on it.
    void adapterLost(BluetoothState next) {
        if (adapterPath_.empty()) return;
        adapterPath_.clear();
        adapter_.reset();
        managerProxy_.reset();
        adManager_.reset();
        registered_ = false;
        ad_.reset();
        advertising_ = false;
        closeAllLinks(true);
        setState(next);
    }

    void poweredChanged(bool on) {
        const BluetoothState next = on ? BluetoothState::poweredOn : BluetoothState::poweredOff;
        if (next == state_.load()) return;
        if (!on) closeAllLinks(true);
        setState(next);
    }

    std::string charPath(size_t i) const { return std::string(kRoot) + "/service0/char" + std::to_string(i); }

    void publish(const GattService& service) {
        unpublish();
        if (!connection_ || adapterPath_.empty()) return;
        const std::string servicePath = std::string(kRoot) + "/service0";
        service_ = sdbus::createObject(*connection_, servicePath);
        std::vector<sdbus::ObjectPath> charPaths;
        for (size_t i = 0; i < service.characteristics.size(); ++i) charPaths.emplace_back(charPath(i));
        service_->registerProperty("UUID").onInterface(kServiceIface).withGetter([u = service.uuid] { return u; });
        service_->registerProperty("Primary").onInterface(kServiceIface).withGetter([] { return true; });
        service_->registerProperty("Characteristics").onInterface(kServiceIface).withGetter([charPaths] { return charPaths; });
        service_->finishRegistration();

        // sd-bus lists an object's children newest first, and BlueZ numbers the characteristics in the
        // order they are listed: made last to first, they are listed in the service's order.
        for (size_t i = service.characteristics.size(); i-- > 0;) {
            const GattCharacteristic& c = service.characteristics[i];
            Char ch;
            ch.uuid = c.uuid;
            ch.object = sdbus::createObject(*connection_, charPath(i));
            auto& obj = *ch.object;
            std::vector<std::string> flags;
            if (c.write) flags.push_back("write");
            if (c.notify) flags.push_back("notify");
            obj.registerProperty("UUID").onInterface(kCharIface).withGetter([u = c.uuid] { return u; });
            obj.registerProperty("Service").onInterface(kCharIface).withGetter([p = sdbus::ObjectPath(servicePath)] { return p; });
            obj.registerProperty("Flags").onInterface(kCharIface).withGetter([flags] { return flags; });
            if (c.write) {
                obj.registerMethod("WriteValue")
                    .onInterface(kCharIface)
                    .implementedAs([this, uuid = c.uuid](sdbus::Result<>&& result, std::vector<uint8_t> value, Dict options) {
                        received(uuid, std::move(result), std::move(value), options);
                    });
            }
            if (c.notify) {
                // Its presence tells BlueZ that AcquireNotify is offered.
                obj.registerProperty("NotifyAcquired").onInterface(kCharIface).withGetter([this, uuid = c.uuid] {
                    std::lock_guard lock(linksMutex_);
                    for (const auto& [id, link] : links_)
                        if (link.characteristic == uuid && link.fd >= 0) return true;
                    return false;
                });
                obj.registerProperty("Notifying").onInterface(kCharIface).withGetter([this, uuid = c.uuid] {
                    const auto it = chars_.find(uuid);
                    return it != chars_.end() && it->second.notifying;
                });
                obj.registerProperty("Value").onInterface(kCharIface).withGetter([this, uuid = c.uuid] {
                    const auto it = chars_.find(uuid);
                    return it == chars_.end() ? std::vector<uint8_t>{} : it->second.value;
                });
                obj.registerMethod("AcquireNotify")
                    .onInterface(kCharIface)
                    .implementedAs([this, uuid = c.uuid](const Dict& options) { return acquireNotify(uuid, options); });
                obj.registerMethod("StartNotify").onInterface(kCharIface).implementedAs([this, uuid = c.uuid] { startNotify(uuid); });
                obj.registerMethod("StopNotify").onInterface(kCharIface).implementedAs([this, uuid = c.uuid] { stopNotify(uuid); });
            }
            obj.finishRegistration();
            chars_.emplace(c.uuid, std::move(ch));
        }

        auto manager = sdbus::createProxy(*connection_, kBluez, adapterPath_);
        manager->callMethodAsync("RegisterApplication")
            .onInterface(kGattManagerIface)
            .withArguments(sdbus::ObjectPath(kRoot), Dict{})
            .uponReplyInvoke([](const sdbus::Error* error) {
                if (error) note("service not published: " + error->getMessage());
            });
        registered_ = true;
        managerProxy_ = std::move(manager);
    }

    void unpublish() {
        closeAllLinks(false);
        for (auto& [id, result] : pendingWrites_) result.returnError(attError(AttResult::unlikelyError));
        pendingWrites_.clear();
        if (registered_ && managerProxy_) {
            managerProxy_->callMethodAsync("UnregisterApplication")
                .onInterface(kGattManagerIface)
                .withArguments(sdbus::ObjectPath(kRoot))
                .uponReplyInvoke([](const sdbus::Error*) {});
        }
        registered_ = false;
        chars_.clear();
        service_.reset();
    }

    void advertise(const Advertisement& ad) {
        unadvertise();
        if (!connection_ || adapterPath_.empty()) return;
        const std::string path = std::string(kRoot) + "/advertisement" + std::to_string(++adCount_);
        ad_ = sdbus::createObject(*connection_, path);
        ad_->registerProperty("Type").onInterface(kAdIface).withGetter([] { return std::string("peripheral"); });
        ad_->registerProperty("ServiceUUIDs").onInterface(kAdIface).withGetter([u = ad.serviceUuids] { return u; });
        ad_->registerProperty("LocalName").onInterface(kAdIface).withGetter([n = ad.localName] { return n; });
        ad_->registerMethod("Release").onInterface(kAdIface).implementedAs([this] { advertising_ = false; });
        ad_->finishRegistration();
        adPath_ = path;
        if (!adManager_) adManager_ = sdbus::createProxy(*connection_, kBluez, adapterPath_);
        adManager_->callMethodAsync("RegisterAdvertisement")
            .onInterface(kAdManagerIface)
            .withArguments(sdbus::ObjectPath(path), Dict{})
            .uponReplyInvoke([this](const sdbus::Error* error) {
                std::optional<std::string> message;
                if (error) {
                    message = error->getMessage();
                    advertising_ = false;
                }
                report([message](PeripheralDelegate& d) { d.peripheralDidStartAdvertising(message); });
            });
    }

    void unadvertise() {
        if (!ad_ || !adManager_) {
            ad_.reset();
            return;
        }
        adManager_->callMethodAsync("UnregisterAdvertisement")
            .onInterface(kAdManagerIface)
            .withArguments(sdbus::ObjectPath(adPath_))
            .uponReplyInvoke([](const sdbus::Error*) {});
        ad_.reset();
    }

    void received(const std::string& uuid, sdbus::Result<>&& result, std::vector<uint8_t> value, const Dict& options) {
        WriteRequest request;
        request.id = ++requestCount_;
        request.characteristic = uuid;
        try {
            if (const auto it = options.find("device"); it != options.end()) request.central = it->second.get<sdbus::ObjectPath>();
            if (const auto it = options.find("offset"); it != options.end()) request.offset = it->second.get<uint16_t>();
        } catch (const sdbus::Error&) {
            // Options of another type than documented: the write itself still counts.
        }
        // A write of no bytes carries no command.
        if (!value.empty()) request.value = std::move(value);
        pendingWrites_.emplace(request.id, std::move(result));
        report([request](PeripheralDelegate& d) { d.peripheralDidReceiveWrite({request}); });
    }

    std::tuple<sdbus::UnixFd, uint16_t> acquireNotify(const std::string& uuid, const Dict& options) {
        uint16_t mtu = kDefaultValueLength + 3;
        try {
            if (const auto it = options.find("mtu"); it != options.end()) mtu = it->second.get<uint16_t>();
        } catch (const sdbus::Error&) {
        }
        int pair[2];
        if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) != 0)
            throw sdbus::Error("org.bluez.Error.Failed", "no socket");
        const std::string id = "link-" + std::to_string(++linkCount_);
        {
            std::lock_guard lock(linksMutex_);
            links_[id] = Link{uuid, pair[0]};
        }
        const Central central{id, std::max(1, int(mtu) - 3)};
        report([central, uuid](PeripheralDelegate& d) { d.peripheralDidSubscribe(central, uuid); });
        if (const auto it = chars_.find(uuid); it != chars_.end()) it->second.object->emitPropertiesChangedSignal(kCharIface, {"NotifyAcquired"});
        return {sdbus::UnixFd(pair[1], sdbus::adopt_fd), mtu};
    }

    void startNotify(const std::string& uuid) {
        const auto it = chars_.find(uuid);
        if (it == chars_.end() || it->second.notifying) return;
        it->second.notifying = true;
        it->second.notifyLink = "notify-" + std::to_string(++linkCount_);
        {
            std::lock_guard lock(linksMutex_);
            links_[it->second.notifyLink] = Link{uuid, -1};
        }
        report([central = Central{it->second.notifyLink, kDefaultValueLength}, uuid](PeripheralDelegate& d) {
            d.peripheralDidSubscribe(central, uuid);
        });
        it->second.object->emitPropertiesChangedSignal(kCharIface, {"Notifying"});
    }

    void stopNotify(const std::string& uuid) {
        const auto it = chars_.find(uuid);
        if (it == chars_.end() || !it->second.notifying) return;
        it->second.notifying = false;
        closeLink(it->second.notifyLink);
        it->second.object->emitPropertiesChangedSignal(kCharIface, {"Notifying"});
    }

    // Loop thread. Tells the delegate unless the whole service is going anyway.
    void closeLink(const std::string& id, bool tell = true) {
        Link link;
        {
            std::lock_guard lock(linksMutex_);
            const auto it = links_.find(id);
            if (it == links_.end()) return;
            link = it->second;
            links_.erase(it);
        }
        if (link.fd >= 0) ::close(link.fd);
        if (tell) {
            report([central = Central{id, 0}, uuid = link.characteristic](PeripheralDelegate& d) {
                d.peripheralDidUnsubscribe(central, uuid);
            });
        }
    }

    void closeAllLinks(bool tell) {
        std::vector<std::string> ids;
        {
            std::lock_guard lock(linksMutex_);
            for (const auto& [id, link] : links_) ids.push_back(id);
        }
        for (const auto& id : ids) closeLink(id, tell);
        for (auto& [uuid, ch] : chars_) ch.notifying = false;
    }

    std::weak_ptr<PeripheralDelegate> delegate_;
    PostToQueue post_;
    std::string busAddress_;
    std::atomic<BluetoothState> state_{BluetoothState::unknown};
    std::atomic<bool> advertising_{false};
    std::atomic<bool> stopping_{false};
    std::atomic<bool> wantWritable_{false};
    int wakeFd_ = -1;

    std::mutex tasksMutex_;
    std::deque<std::function<void()>> tasks_;
    std::mutex linksMutex_;
    std::map<std::string, Link> links_;

    // Loop thread only.
    std::unique_ptr<sdbus::IConnection> connection_;
    std::string adapterPath_;
    std::unique_ptr<sdbus::IProxy> busProxy_;
    std::unique_ptr<sdbus::IProxy> bluezRoot_;
    std::unique_ptr<sdbus::IProxy> adapter_;
    std::unique_ptr<sdbus::IProxy> managerProxy_;
    std::unique_ptr<sdbus::IProxy> adManager_;
    std::unique_ptr<sdbus::IObject> root_;
    std::unique_ptr<sdbus::IObject> service_;
    std::unique_ptr<sdbus::IObject> ad_;
    std::string adPath_;
    std::map<std::string, Char> chars_;
    std::map<uint64_t, sdbus::Result<>> pendingWrites_;
    bool registered_ = false;
    uint64_t requestCount_ = 0;
    uint64_t linkCount_ = 0;
    uint64_t adCount_ = 0;

    std::thread thread_;
};

}  // namespace

PeripheralFactory bluezPeripheralFactory(std::string busAddress) {
    return [busAddress](std::weak_ptr<PeripheralDelegate> delegate, PostToQueue post) -> std::unique_ptr<Peripheral> {
        return std::make_unique<BluezPeripheral>(std::move(delegate), std::move(post), busAddress);
    };
}

}  // namespace ombry::bt
