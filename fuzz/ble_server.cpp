// libFuzzer target: the Bluetooth server over a peripheral without a radio. The input is a script of
// platform events (subscriptions, writes of any bytes, a link that takes some values and refuses the next,
// power changes, pushes, a password): every write is answered once, and what reaches the phone always
// rebuilds into whole messages: JSON on the state characteristic, id and picture on the thumbnail one.
#include <turbojpeg.h>

#include <boost/asio/io_context.hpp>

#include <cstddef>
#include <cstdint>
#include <fstream>

#include "Bluetooth/BleReceiver.hpp"
#include "Bluetooth/FakePeripheral.hpp"
#include "Engine/Servers/BLEControlServer.hpp"
#include "FuzzSupport.hpp"

using namespace ombry;

namespace {

class Script {
public:
    Script(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool more() const { return at_ < size_; }
    std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
    std::string bytes(std::size_t n) {
        n = std::min(n, size_ - at_);
        std::string out(reinterpret_cast<const char*>(data_ + at_), n);
        at_ += n;
        return out;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_, at_ = 0;
};

std::string tinyJpeg() {
    std::vector<unsigned char> rgb(24 * 16 * 3, 200);
    tjhandle tj = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    tjCompress2(tj, rgb.data(), 24, 0, 16, TJPF_RGB, &out, &size, TJSAMP_420, 80, 0);
    std::string jpeg(reinterpret_cast<char*>(out), size);
    tjFree(out);
    tjDestroy(tj);
    return jpeg;
}

const std::map<std::string, std::string>& thumbIndex() {
    static const auto index = [] {
        const auto dir = fuzz::scratch();
        std::ofstream(dir / "thumb.jpg", std::ios::binary) << tinyJpeg();
        std::ofstream(dir / "broken.jpg", std::ios::binary) << "\xFF\xD8\xFF not a picture";
        return std::map<std::string, std::string>{{"clip 1", (dir / "thumb.jpg").string()},
                                                  {"t", (dir / "broken.jpg").string()},
                                                  {"gone", (dir / "missing.jpg").string()}};
    }();
    return index;
}

ControlSnapshot snapshotOf(std::uint8_t clips, std::int64_t rev) {
    ControlSnapshot s;
    s.rev = rev;
    for (int i = 1; i <= clips; ++i) {
        ControlClip c;
        c.index = i;
        c.id = "clip " + std::to_string(i);
        c.name = "Clip number " + std::to_string(i);
        s.clips.push_back(c);
    }
    return s;
}

// Every value sent so far, rebuilt per characteristic: whole messages only.
void checkSent(const test::FakeRadio& radio) {
    test::BleReceiver state, thumbs;
    for (const auto& [chr, value] : radio.sent) {
        FUZZ_CHECK(!value.empty());
        const bool onState = chr == ble::stateCharUuid;
        FUZZ_CHECK(onState || chr == ble::thumbCharUuid);
        std::optional<test::BleMessage> m;
        try {
            m = (onState ? state : thumbs).take(value);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "fuzz: broken framing: %s\n", e.what());
            std::abort();
        }
        if (!m) continue;
        if (onState) {
            const Json j = Json::parse(m->text(), nullptr, false);
            FUZZ_CHECK(j.is_object() && j.contains("type"));
        } else {
            FUZZ_CHECK(!m->payload.empty() && m->payload.size() > m->payload[0]);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    (void)fuzz::scratch();
    fuzz::quietLog();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    boost::asio::io_context ioc;
    ManualClock clock;
    auto radio = std::make_shared<test::FakeRadio>();
    auto server = BLEControlServer::create(ioc.get_executor(), test::fakeFactory(radio), "Stage Left", clock);
    server->perform = [](ControlCommand, std::function<void(ControlResult)> done) { done(ControlResult::ok()); };
    server->updateThumbIndex(thumbIndex());
    server->start();
    auto run = [&] {
        ioc.restart();
        ioc.poll();
    };
    run();

    Script script(data, size);
    std::size_t writes = 0;
    std::int64_t rev = 1;
    const char* const chars[] = {ble::stateCharUuid, ble::thumbCharUuid, ble::commandCharUuid};
    while (script.more()) {
        const std::uint8_t op = script.byte();
        const std::string central = (op & 0x80) ? "tablet" : "phone";
        switch (op % 10) {
        case 0: radio->subscribe(central, chars[script.byte() % 3], script.byte()); break;
        case 1: radio->unsubscribe(central, chars[script.byte() % 3]); break;
        case 2: case 3: {  // one write of up to three requests
            std::vector<std::optional<std::string>> values;
            const int n = 1 + script.byte() % 3;
            for (int i = 0; i < n; ++i) {
                const std::uint8_t len = script.byte();
                if (len == 255) values.push_back(std::nullopt);
                else values.push_back(script.bytes(len));
            }
            radio->write(values, op % 10 == 2 ? ble::commandCharUuid : chars[script.byte() % 3]);
            ++writes;
            break;
        }
        case 4: radio->linkReady(int(script.byte() % 8) - 1); break;
        case 5: server->push(snapshotOf(script.byte() % 24, rev++)); break;  // enough to be compressed
        case 6: {
            clock.advance(script.byte() / 100.0);
            ControlTransportMessage m;
            m.currentTime = script.byte();
            m.duration = 200;
            server->pushTransport(m);
            break;
        }
        case 7: {
            const std::uint8_t s = script.byte() % 6;
            radio->setPower(bt::BluetoothState(s));
            break;
        }
        case 8: {
            const std::uint8_t len = script.byte();
            server->configureControl(len == 0 ? std::nullopt : std::optional<std::string>(script.bytes(len % 16)));
            break;
        }
        case 9:
            if (script.byte() & 1) server->stop();
            else server->start();
            break;
        }
        run();
    }
    checkSent(*radio);
    // Each write gets one answer while the service is up; never more than one.
    FUZZ_CHECK(radio->responses.size() <= writes);
    server->stop();
    run();
    return 0;
}
