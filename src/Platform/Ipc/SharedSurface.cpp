#include "Platform/Ipc/SharedSurface.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

namespace ombry {

namespace {
constexpr uint32_t magic = 0x46534d4f;      // "OMSF"
constexpr uint32_t formatBGRA = 0x41524742;  // "BGRA"

uint32_t get32(const uint8_t* base, size_t off) {
    uint32_t v;
    std::memcpy(&v, base + off, 4);
    return v;
}
void put32(uint8_t* base, size_t off, uint32_t v) { std::memcpy(base + off, &v, 4); }
uint64_t* sequence(uint8_t* base) { return reinterpret_cast<uint64_t*>(base + 40); }
}  // namespace

std::shared_ptr<SharedSurface> SharedSurface::create(uint32_t id, int width, int height) {
    if (id == 0 || width <= 0 || height <= 0 || width > 32768 || height > 32768) return nullptr;
    const size_t stride = size_t(width) * 4;
    const size_t size = headerSize + stride * size_t(height);
    UniqueFd fd(::memfd_create("syphon-surface", MFD_CLOEXEC | MFD_ALLOW_SEALING));
    if (!fd || ::ftruncate(fd.get(), off_t(size)) != 0) return nullptr;
    void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd.get(), 0);
    if (p == MAP_FAILED) return nullptr;
    auto* base = static_cast<uint8_t*>(p);
    put32(base, 0, magic);
    put32(base, 4, 1);
    put32(base, 8, id);
    put32(base, 12, uint32_t(width));
    put32(base, 16, uint32_t(height));
    put32(base, 20, uint32_t(stride));
    put32(base, 24, 4);
    put32(base, 28, formatBGRA);
    put32(base, 32, headerSize);
    ::fcntl(fd.get(), F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW);
#ifdef F_SEAL_FUTURE_WRITE
    ::fcntl(fd.get(), F_ADD_SEALS, F_SEAL_FUTURE_WRITE);
#endif
    ::fcntl(fd.get(), F_ADD_SEALS, F_SEAL_SEAL);
    return std::shared_ptr<SharedSurface>(new SharedSurface(std::move(fd), base, size, true));
}

std::shared_ptr<SharedSurface> SharedSurface::map(UniqueFd fd) {
    struct stat st;
    if (!fd || ::fstat(fd.get(), &st) != 0 || size_t(st.st_size) < headerSize) return nullptr;
    // A surface that could still shrink under us would fault on read.
    int seals = ::fcntl(fd.get(), F_GET_SEALS);
    if (seals < 0 || !(seals & F_SEAL_SHRINK)) return nullptr;
    const size_t size = size_t(st.st_size);
    void* p = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, fd.get(), 0);
    if (p == MAP_FAILED) return nullptr;
    auto* base = static_cast<uint8_t*>(p);
    const uint64_t w = get32(base, 12), h = get32(base, 16), stride = get32(base, 20);
    const bool valid = get32(base, 0) == magic && get32(base, 4) == 1 && get32(base, 8) != 0 &&
                       get32(base, 28) == formatBGRA && get32(base, 32) == headerSize && w > 0 && h > 0 &&
                       stride >= w * 4 && headerSize + stride * h <= size;
    if (!valid) {
        ::munmap(p, size);
        return nullptr;
    }
    return std::shared_ptr<SharedSurface>(new SharedSurface(std::move(fd), base, size, false));
}

SharedSurface::SharedSurface(UniqueFd fd, uint8_t* base, size_t size, bool writable)
    : base_(base), size_(size), writable_(writable), fd_(std::make_shared<const UniqueFd>(std::move(fd))) {}

SharedSurface::~SharedSurface() { ::munmap(base_, size_); }

uint32_t SharedSurface::id() const { return get32(base_, 8); }
int SharedSurface::width() const { return int(get32(base_, 12)); }
int SharedSurface::height() const { return int(get32(base_, 16)); }
int SharedSurface::bytesPerRow() const { return int(get32(base_, 20)); }
uint32_t SharedSurface::flags() const { return get32(base_, 36); }

uint8_t* SharedSurface::pixels() { return writable_ ? base_ + headerSize : nullptr; }

void SharedSurface::beginWrite(uint32_t flags) {
    if (!writable_) return;
    __atomic_fetch_add(sequence(base_), 1, __ATOMIC_ACQ_REL);
    put32(base_, 36, flags);
}

void SharedSurface::endWrite() {
    if (!writable_) return;
    __atomic_fetch_add(sequence(base_), 1, __ATOMIC_RELEASE);
}

bool SharedSurface::read(std::vector<uint8_t>& out, uint64_t* frame) const {
    const size_t bytes = size_t(bytesPerRow()) * size_t(height());
    out.resize(bytes);
    const uint64_t* seq = reinterpret_cast<const uint64_t*>(base_ + 40);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const uint64_t before = __atomic_load_n(seq, __ATOMIC_ACQUIRE);
        if (before & 1) {
            ::usleep(100);
            continue;
        }
        std::memcpy(out.data(), base_ + headerSize, bytes);
        __atomic_thread_fence(__ATOMIC_ACQUIRE);
        if (__atomic_load_n(seq, __ATOMIC_RELAXED) == before) {
            if (frame) *frame = before / 2;
            return true;
        }
    }
    return false;
}

}  // namespace ombry
