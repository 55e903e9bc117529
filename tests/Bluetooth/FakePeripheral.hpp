#pragma once
// A peripheral without a radio: records what the server publishes, advertises, answers and sends, and lets
// a test play the platform (power, subscriptions, writes, a link that refuses values).
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Engine/Servers/ControlBLE.hpp"
#include "Platform/Bluetooth/Peripheral.hpp"

namespace ombry::test {

struct FakeRadio {
    bt::BluetoothState state = bt::BluetoothState::poweredOn;
    std::vector<bt::GattService> services;
    std::optional<bt::Advertisement> advertising;
    int advertisingStarts = 0;
    std::vector<std::pair<std::string, BLEBytes>> sent;  // characteristic, value
    std::vector<std::pair<uint64_t, bt::AttResult>> responses;
    int acceptBeforeRefusing = -1;  // values taken before the link refuses; negative: never refuses
    int peripheralsMade = 0;

    std::weak_ptr<bt::PeripheralDelegate> delegate;
    bt::PostToQueue post;
    uint64_t nextRequest = 1;

    // Platform reports, delivered through the queue like the real ones.
    template <class F>
    void report(F fn) {
        post([d = delegate, fn] {
            if (auto live = d.lock()) fn(*live);
        });
    }
    void setPower(bt::BluetoothState s) {
        state = s;
        report([s](bt::PeripheralDelegate& d) { d.peripheralDidUpdateState(s); });
    }
    void subscribe(const std::string& central, const std::string& chr, int maxLen = 182) {
        report([=](bt::PeripheralDelegate& d) { d.peripheralDidSubscribe({central, maxLen}, chr); });
    }
    void unsubscribe(const std::string& central, const std::string& chr) {
        report([=](bt::PeripheralDelegate& d) { d.peripheralDidUnsubscribe({central, 0}, chr); });
    }
    // One write of several requests; a request without a value is std::nullopt.
    std::vector<uint64_t> write(std::vector<std::optional<std::string>> values, const std::string& chr) {
        std::vector<bt::WriteRequest> requests;
        std::vector<uint64_t> ids;
        for (auto& v : values) {
            bt::WriteRequest r;
            r.id = nextRequest++;
            r.central = "phone";
            r.characteristic = chr;
            if (v) r.value = std::vector<uint8_t>(v->begin(), v->end());
            ids.push_back(r.id);
            requests.push_back(std::move(r));
        }
        report([requests](bt::PeripheralDelegate& d) { d.peripheralDidReceiveWrite(requests); });
        return ids;
    }
    void linkReady(int accept = -1) {
        acceptBeforeRefusing = accept;
        report([](bt::PeripheralDelegate& d) { d.peripheralIsReadyToUpdateSubscribers(); });
    }
    std::vector<BLEBytes> sentOn(const std::string& chr) const {
        std::vector<BLEBytes> out;
        for (const auto& [c, v] : sent)
            if (c == chr) out.push_back(v);
        return out;
    }
};

class FakePeripheral final : public bt::Peripheral {
public:
    explicit FakePeripheral(std::shared_ptr<FakeRadio> radio) : radio_(std::move(radio)) {}
    bt::BluetoothState state() const override { return radio_->state; }
    void addService(const bt::GattService& service) override { radio_->services.push_back(service); }
    void removeAllServices() override { radio_->services.clear(); }
    void startAdvertising(const bt::Advertisement& ad) override {
        radio_->advertising = ad;
        ++radio_->advertisingStarts;
    }
    void stopAdvertising() override { radio_->advertising.reset(); }
    bool isAdvertising() const override { return radio_->advertising.has_value(); }
    bool updateValue(std::span<const uint8_t> value, const std::string& chr) override {
        if (radio_->acceptBeforeRefusing == 0) return false;
        if (radio_->acceptBeforeRefusing > 0) --radio_->acceptBeforeRefusing;
        radio_->sent.emplace_back(chr, BLEBytes(value.begin(), value.end()));
        return true;
    }
    void respond(const bt::WriteRequest& request, bt::AttResult result) override {
        radio_->responses.emplace_back(request.id, result);
    }

private:
    std::shared_ptr<FakeRadio> radio_;
};

// The factory a server is given: makes the fake and reports the radio's power, as the platform does.
inline bt::PeripheralFactory fakeFactory(std::shared_ptr<FakeRadio> radio) {
    return [radio](std::weak_ptr<bt::PeripheralDelegate> delegate, bt::PostToQueue post) {
        radio->delegate = std::move(delegate);
        radio->post = std::move(post);
        ++radio->peripheralsMade;
        radio->setPower(radio->state);
        return std::make_unique<FakePeripheral>(radio);
    };
}

}  // namespace ombry::test
