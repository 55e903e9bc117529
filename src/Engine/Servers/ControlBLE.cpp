#include "Engine/Servers/ControlBLE.hpp"

#include <zlib.h>

#include <algorithm>

namespace ombry {

std::optional<BLEBytes> BLEMessageChunker::next(int maxChunk) {
    const auto size = int64_t(payload.size());
    if (sentFirst && offset >= size) return std::nullopt;
    if (maxChunk < 2) return std::nullopt;
    const int64_t n = std::min(size - offset, int64_t(maxChunk) - 1);
    const int64_t end = offset + n;
    uint8_t header = uint8_t((seq & kBLESeqMask) | compressedFlag);
    if (!sentFirst) header |= kBLEFirstChunk;
    if (end >= size) header |= kBLELastChunk;
    BLEBytes chunk;
    chunk.reserve(size_t(n) + 1);
    chunk.push_back(header);
    chunk.insert(chunk.end(), payload.begin() + offset, payload.begin() + end);
    offset = end;
    sentFirst = true;
    return chunk;
}

std::optional<BLEBytes> BLEFrame::compress(std::span<const uint8_t> data) {
    if (data.empty() || data.size() > 0xFFFFFFFFu) return std::nullopt;  // nothing is smaller than nothing
    z_stream z{};
    // Level 5: as small as the default level on snapshot JSON, at about four fifths of its time (the air is
    // slower than the CPU, so size comes first). Negative window bits: a raw stream, no zlib header and no Adler-32 trailer.
    if (deflateInit2(&z, 5, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return std::nullopt;
    // Anything not smaller is refused, so the output never needs to grow past the input's size.
    BLEBytes out(data.size());
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = uInt(data.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    const int rc = deflate(&z, Z_FINISH);
    const size_t produced = out.size() - z.avail_out;
    deflateEnd(&z);
    if (rc != Z_STREAM_END || produced >= data.size()) return std::nullopt;
    out.resize(produced);
    return out;
}

std::optional<BLEBytes> BLEThumbMessage::encode(std::string_view id, std::span<const uint8_t> jpeg) {
    if (id.size() > 255) return std::nullopt;
    BLEBytes record;
    record.reserve(1 + id.size() + jpeg.size());
    record.push_back(uint8_t(id.size()));
    record.insert(record.end(), id.begin(), id.end());
    record.insert(record.end(), jpeg.begin(), jpeg.end());
    return record;
}

}  // namespace ombry
