#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "Platform/Ipc/UniqueFd.hpp"

namespace ombry {

// A picture in shared memory (a sealed memfd) that another process maps from the descriptor it was sent.
// Layout: a 64-byte header, then `height` rows of `bytesPerRow` bytes, BGRA, premultiplied alpha.
//
//   offset  field (little-endian)
//    0      magic "OMSF"
//    4      version, 1
//    8      surface id (never 0)
//   12      width          16  height        20  bytesPerRow   24  bytesPerElement (4)
//   28      pixel format, the four characters "BGRA"
//   32      data offset (64)
//   36      flags: bit 0 set when row 0 is the bottom of the picture
//   40      frame sequence, 64-bit: odd while a frame is being written, frames written = sequence / 2
//
// The creator seals the size and, where the kernel allows, forbids writable mappings by others, so a
// client can neither grow, shrink nor scribble on it. Readers copy between two even, equal sequence reads.
class SharedSurface {
public:
    static constexpr uint32_t headerSize = 64;
    static constexpr uint32_t flagBottomUp = 1;

    // Writable surface for the server; null on failure (no memory, absurd size).
    static std::shared_ptr<SharedSurface> create(uint32_t id, int width, int height);
    // Read-only view from a received descriptor; null when it is not a valid surface.
    static std::shared_ptr<SharedSurface> map(UniqueFd fd);
    ~SharedSurface();
    SharedSurface(const SharedSurface&) = delete;
    SharedSurface& operator=(const SharedSurface&) = delete;

    uint32_t id() const;
    int width() const;
    int height() const;
    int bytesPerRow() const;
    uint32_t flags() const;
    int fd() const { return fd_->get(); }
    // Queued messages keep the descriptor open past the surface's own life.
    const SharedFd& sharedFd() const { return fd_; }

    // Writer side: a frame is written between beginWrite and endWrite.
    uint8_t* pixels();
    void beginWrite(uint32_t flags);
    void endWrite();
    // Reader side: copies the newest complete frame (bytesPerRow × height bytes); false when writes kept
    // racing the copy. `frame` receives the number of frames written so far.
    bool read(std::vector<uint8_t>& out, uint64_t* frame = nullptr) const;

private:
    SharedSurface(UniqueFd fd, uint8_t* base, size_t size, bool writable);
    uint8_t* base_;
    size_t size_;
    bool writable_;
    SharedFd fd_;
};

}  // namespace ombry
