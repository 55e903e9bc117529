// libFuzzer target: one text message of an output page. The reader never throws; a status it takes writes
// and reads back to the same report; numbers it hands on are finite.
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "Engine/Model/Protocol.hpp"
#include "FuzzSupport.hpp"

using namespace ombry;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const OutputMessage message = parseOutputMessage(fuzz::text(data, size));
    if (const auto* status = std::get_if<page::Status>(&message)) {
        const TransportStatus& s = status->status;
        FUZZ_CHECK(std::isfinite(s.currentTime) && std::isfinite(s.duration));
        const auto again = TransportStatus::fromPage(encodeJson(s));
        FUZZ_CHECK(again.has_value());
        FUZZ_CHECK(again->layer == s.layer && again->cueId == s.cueId && again->mediaId == s.mediaId &&
                   again->currentTime == s.currentTime && again->duration == s.duration &&
                   again->playing == s.playing && again->ended == s.ended);
        (void)compactJson(toJson(s));
    } else if (const auto* meter = std::get_if<page::Meter>(&message)) {
        const MeterLevels& m = meter->levels;
        FUZZ_CHECK(std::isfinite(m.l) && std::isfinite(m.r) && std::isfinite(m.pl) && std::isfinite(m.pr));
    }
    return 0;
}
