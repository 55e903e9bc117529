// libFuzzer target: the remote state snapshot and the playhead tick, read from arbitrary JSON text. What
// reads must write, the written text must read back to the same value, and the compact text must be the
// same JSON as the value's JSON form.
#include <cstddef>
#include <cstdint>

#include "Engine/Control/ControlSnapshot.hpp"
#include "FuzzSupport.hpp"

using namespace ombry;

namespace {

template <class T>
void roundTrip(const Json& j) {
    T value;
    try {
        value = decodeJson<T>(j);
    } catch (const DecodeError&) {
        return;
    }
    const std::string wire = wireText(value);
    const Json reread = Json::parse(wire);
    FUZZ_CHECK(reread == toJson(value));
    FUZZ_CHECK(decodeJson<T>(reread) == value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Json j = Json::parse(fuzz::text(data, size), nullptr, false);
    if (j.is_discarded()) return 0;
    roundTrip<ControlSnapshot>(j);
    roundTrip<ControlTransportMessage>(j);
    return 0;
}
