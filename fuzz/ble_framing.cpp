// libFuzzer target: the Bluetooth framing. Any payload, cut at any chunk size, comes back whole and in
// one message from the chunks; compression, when it is taken, is strictly smaller and inflates back; a
// thumbnail record keeps its id and picture.
#include <cstddef>
#include <cstdint>

#include "Bluetooth/BleReceiver.hpp"
#include "Engine/Servers/ControlBLE.hpp"
#include "FuzzSupport.hpp"

using namespace ombry;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const int maxChunk = data[0] % 200;  // a link's value size: 0 up to beyond the common 182
    const std::uint8_t seq = data[1];
    const BLEBytes payload(data + 2, data + size);

    const auto compressed = BLEFrame::compress(payload);
    if (compressed) {
        FUZZ_CHECK(compressed->size() < payload.size());
        FUZZ_CHECK(test::inflateRaw(*compressed) == payload);
    }
    const BLEBytes& sent = compressed ? *compressed : payload;
    BLEMessageChunker chunker(sent, seq, compressed ? kBLECompressed : 0);
    test::BleReceiver receiver;
    std::optional<test::BleMessage> message;
    std::size_t chunks = 0;
    while (auto chunk = chunker.next(maxChunk)) {
        FUZZ_CHECK(!message);  // nothing after the last chunk
        FUZZ_CHECK(chunk->size() >= 1 && int(chunk->size()) <= maxChunk);
        message = receiver.take(*chunk);
        FUZZ_CHECK(++chunks <= sent.size() + 1);
    }
    if (maxChunk < 2) {
        FUZZ_CHECK(chunks == 0 && !chunker.finished());
    } else {
        FUZZ_CHECK(chunker.finished() && message);
        FUZZ_CHECK(message->payload == payload);
        FUZZ_CHECK(message->seq == (seq & kBLESeqMask));
    }

    const std::size_t idLength = std::min<std::size_t>(data[0], payload.size());
    const std::string_view id(reinterpret_cast<const char*>(payload.data()), idLength);
    const std::span<const std::uint8_t> jpeg(payload.data() + idLength, payload.size() - idLength);
    const auto record = BLEThumbMessage::encode(id, jpeg);
    FUZZ_CHECK(record && record->size() == 1 + payload.size() && (*record)[0] == idLength);
    FUZZ_CHECK(std::equal(payload.begin(), payload.end(), record->begin() + 1));
    return 0;
}
