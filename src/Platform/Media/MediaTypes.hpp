#pragma once
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

namespace ombry::media {

// Why a file could not be opened, played or decoded. `message` is a sentence a user may see.
struct MediaFailure {
    enum class Code { missing, format, timeout, cancelled, unreadable };
    Code code = Code::format;
    std::string message;

    // The format failures a user can act on, each with its own sentence.
    static MediaFailure empty() { return {Code::format, "the file is empty"}; }
    static MediaFailure incomplete() { return {Code::format, "the file is incomplete \u2014 it may still be copying"}; }
    static MediaFailure notMedia() { return {Code::format, "the file is not a media file"}; }
    static MediaFailure unsupportedCodec() { return {Code::format, "the file's codec is not supported"}; }
};

// What ends a blocking read: a stop flag turning true, or a deadline on the steady clock passing.
// Read from the I/O thread; the flag and the deadline may be set from any thread.
class IoInterrupt {
public:
    explicit IoInterrupt(const std::atomic<bool>* stop = nullptr) : stop_(stop) {}
    // Only ever brings the deadline closer: the earliest of the deadlines set holds.
    void setDeadline(double secondsFromNow);
    bool stopped() const { return stop_ && stop_->load(std::memory_order_relaxed); }
    bool expired() const;
    bool interrupted() const { return stopped() || expired(); }

private:
    const std::atomic<bool>* stop_;
    std::atomic<int64_t> deadlineNs_{INT64_MAX};
};

// Whether an asset or a player can be used yet.
enum class Readiness { unknown, ready, failed };

// Largest even-sized picture that fits `stage` keeping the aspect of `natural`; nothing when the
// natural size already fits (videos are never scaled up) or a dimension is below 1.
struct PixelSize {
    int width = 0;
    int height = 0;
    bool operator==(const PixelSize&) const = default;
};
std::optional<PixelSize> fittedDeliverySize(double naturalW, double naturalH, double stageW, double stageH);

}  // namespace ombry::media
