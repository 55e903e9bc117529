// libFuzzer target: a slide deck's PDF on arbitrary bytes: counting its pages and rasterising them onto a
// small stage. Either a clear failure or exactly one picture per page; nothing left behind on failure.
#include <cstddef>
#include <cstdint>
#include <fstream>

#include "Engine/Intake/SlideImport.hpp"
#include "FuzzSupport.hpp"

using namespace ombry;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    (void)fuzz::scratch();
    fuzz::quietLog();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto pdf = fuzz::scratch() / "deck.pdf";
    {
        std::ofstream out(pdf, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
    }
    const auto count = SlideImport::pageCount(pdf);
    if (!std::holds_alternative<int>(count)) return 0;
    const int pages = std::get<int>(count);
    FUZZ_CHECK(pages >= 1);
    if (pages > 8) return 0;  // every page is drawn: a long deck costs time, not coverage
    const auto into = fuzz::scratch() / "pages";
    std::filesystem::remove_all(into);
    std::filesystem::create_directories(into);
    StageConfig stage;
    stage.width = 96;
    stage.height = 54;
    const auto result = SlideImport::rasterize(pdf, "Deck", stage, into);
    std::size_t left = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(into)) ++left;
    if (const auto* written = std::get_if<std::vector<std::filesystem::path>>(&result)) {
        FUZZ_CHECK(written->size() == std::size_t(pages) && left == written->size());
    } else {
        FUZZ_CHECK(left == 0);
    }
    return 0;
}
