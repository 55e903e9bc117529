// libFuzzer target: the media checks of the intake on arbitrary bytes, as an upload reaches them: the first
// byte picks the file's extension (and so its kind), the rest is the file. A check never crashes or hangs;
// what the probe reports is a size, rate and duration a clip can have.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <set>

#include "Engine/Intake/MediaProbe.hpp"
#include "Engine/Library/Library.hpp"
#include "FuzzSupport.hpp"

using namespace ombry;

namespace {

std::vector<std::string> extensions() {
    std::vector<std::string> out;
    for (const auto* set : {&Library::videoExt, &Library::imageExt, &Library::audioExt})
        out.insert(out.end(), set->begin(), set->end());
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    (void)fuzz::scratch();
    fuzz::quietLog();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::vector<std::string> exts = extensions();
    if (size < 1) return 0;
    const std::string& ext = exts[data[0] % exts.size()];
    const auto file = fuzz::scratch() / ("upload." + ext);
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data + 1), std::streamsize(size - 1));
    }
    const auto kind = Library::kind(file);
    FUZZ_CHECK(kind.has_value());
    if (!MediaProbe::validates(file, *kind)) return 0;
    const media::ProbedMeta meta = MediaProbe::metadata(file, *kind);
    if (meta.duration) FUZZ_CHECK(std::isfinite(*meta.duration) && *meta.duration >= 0);
    if (meta.fps) FUZZ_CHECK(std::isfinite(*meta.fps) && *meta.fps > 0);
    if (meta.width) FUZZ_CHECK(*meta.width > 0);
    if (meta.height) FUZZ_CHECK(*meta.height > 0);
    if (meta.sampleRate) FUZZ_CHECK(*meta.sampleRate > 0);
    if (meta.channels) FUZZ_CHECK(*meta.channels > 0);
    if (MediaProbe::thumbnail(file, *kind, "fuzz")) FUZZ_CHECK(std::filesystem::file_size(MediaProbe::thumbnailFile("fuzz")) > 0);
    return 0;
}
