#pragma once
// How one Bluetooth message (a snapshot, a tick, a rejection, a thumbnail) becomes notification values.
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace ombry {

using BLEBytes = std::vector<uint8_t>;

// Header bits of every chunk.
inline constexpr uint8_t kBLEFirstChunk = 0x80;
inline constexpr uint8_t kBLELastChunk = 0x40;
inline constexpr uint8_t kBLECompressed = 0x20;
inline constexpr uint8_t kBLESeqMask = 0x1F;

// Cuts one message into chunks of a one-byte header and the next payload bytes.
struct BLEMessageChunker {
    BLEBytes payload;
    uint8_t seq = 0;             // only the low 5 bits
    uint8_t compressedFlag = 0;  // kBLECompressed when payload is compressed
    int64_t offset = 0;
    bool sentFirst = false;

    BLEMessageChunker() = default;
    BLEMessageChunker(BLEBytes payload, uint8_t seq, uint8_t compressedFlag)
        : payload(std::move(payload)), seq(uint8_t(seq & kBLESeqMask)), compressedFlag(compressedFlag) {}

    // The next chunk of at most maxChunk bytes (header included); nothing once the message is finished, or
    // when maxChunk cannot hold the header and one payload byte (then nothing changes).
    std::optional<BLEBytes> next(int maxChunk);
    bool finished() const { return sentFirst && offset >= int64_t(payload.size()); }
};

struct BLEFrame {
    BLEFrame() = delete;
    // Raw DEFLATE of the whole buffer, only when strictly smaller than the input.
    static std::optional<BLEBytes> compress(std::span<const uint8_t> data);
};

struct BLEThumbMessage {
    BLEThumbMessage() = delete;
    // One length byte, the id's UTF-8 bytes, the JPEG bytes; nothing when the id is over 255 bytes.
    static std::optional<BLEBytes> encode(std::string_view id, std::span<const uint8_t> jpeg);
};

}  // namespace ombry
