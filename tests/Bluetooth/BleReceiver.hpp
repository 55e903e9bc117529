#pragma once
// The phone's side of the framing: rebuilds messages from chunks, inflating compressed ones.
#include <zlib.h>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "Engine/Servers/ControlBLE.hpp"

namespace ombry::test {

struct BleMessage {
    uint8_t seq = 0;
    bool compressed = false;
    BLEBytes payload;  // inflated when compressed
    std::string text() const { return std::string(payload.begin(), payload.end()); }
};

inline BLEBytes inflateRaw(const BLEBytes& in) {
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK) throw std::runtime_error("inflateInit2");
    BLEBytes out(in.size() * 4 + 64);
    z.next_in = const_cast<Bytef*>(in.data());
    z.avail_in = uInt(in.size());
    int rc = Z_OK;
    while (rc == Z_OK) {
        if (z.total_out == out.size()) out.resize(out.size() * 2);
        z.next_out = out.data() + z.total_out;
        z.avail_out = uInt(out.size() - z.total_out);
        rc = inflate(&z, Z_FINISH);
        if (rc == Z_BUF_ERROR && z.avail_out == 0) rc = Z_OK;
    }
    const size_t produced = z.total_out;
    inflateEnd(&z);
    if (rc != Z_STREAM_END) throw std::runtime_error("not a raw DEFLATE stream");
    out.resize(produced);
    return out;
}

// Chunks of one characteristic, in the order they arrived.
class BleReceiver {
public:
    // Returns the finished message when this chunk was its last.
    std::optional<BleMessage> take(const BLEBytes& chunk) {
        if (chunk.empty()) throw std::runtime_error("empty chunk");
        const uint8_t h = chunk[0];
        if (h & kBLEFirstChunk) {
            open_ = true;
            current_ = BleMessage{uint8_t(h & kBLESeqMask), bool(h & kBLECompressed), {}};
        } else if (!open_ || current_.seq != (h & kBLESeqMask) || current_.compressed != bool(h & kBLECompressed)) {
            throw std::runtime_error("chunk out of its message");
        }
        current_.payload.insert(current_.payload.end(), chunk.begin() + 1, chunk.end());
        if (!(h & kBLELastChunk)) return std::nullopt;
        open_ = false;
        BleMessage done = std::move(current_);
        if (done.compressed) done.payload = inflateRaw(done.payload);
        return done;
    }
    std::vector<BleMessage> takeAll(const std::vector<BLEBytes>& chunks) {
        std::vector<BleMessage> out;
        for (const auto& c : chunks)
            if (auto m = take(c)) out.push_back(std::move(*m));
        return out;
    }

private:
    bool open_ = false;
    BleMessage current_;
};

}  // namespace ombry::test
