#include <gtest/gtest.h>

#include <variant>

#include "Engine/Intake/SlideImport.hpp"
#include "PdfFixture.hpp"
#include "Platform/Media/DeckPages.hpp"
#include "Platform/Media/StillDecoder.hpp"
#include "support/TestEnv.hpp"

using namespace ombry;
namespace fs = std::filesystem;

namespace {

StageConfig stage(int w, int h) {
    StageConfig s;
    s.width = w;
    s.height = h;
    return s;
}

StillImage decoded(const fs::path& png) {
    auto r = media::decodeStill(png.string());
    if (auto* img = std::get_if<StillImage>(&r)) return std::move(*img);
    ADD_FAILURE() << png << " did not decode";
    return {};
}

// R, G, B, A of a pixel at (u, v), 0 to 1 each way.
std::array<int, 4> at(const StillImage& img, double u, double v) {
    const int x = std::min(int(u * img.width), img.width - 1), y = std::min(int(v * img.height), img.height - 1);
    const uint8_t* p = &img.pixels[img.stride * size_t(y) + size_t(x) * 4];
    if (img.order == StillByteOrder::bgra) return {p[2], p[1], p[0], p[3]};
    return {p[0], p[1], p[2], p[3]};
}

std::vector<fs::path> pages(const std::variant<std::vector<fs::path>, SlideImport::Failure>& r) {
    if (auto* f = std::get_if<SlideImport::Failure>(&r)) {
        ADD_FAILURE() << f->description();
        return {};
    }
    return std::get<std::vector<fs::path>>(r);
}

}  // namespace

TEST(DeckRaster, PagesFitTheStageTurnedAsTheirRotationSays) {
    const fs::path dir = test::tempDir("raster");
    struct Case {
        const char* what;
        test::PdfPage page;
        StageConfig stage;
        int width, height;
    };
    const Case cases[] = {
        {"4:3 on 1080p", {1024, 768}, stage(1920, 1080), 1440, 1080},
        {"16:9 on 720p", {1280, 720}, stage(1280, 720), 1280, 720},
        {"the box stops at 3840 by 2160", {960, 540}, stage(7680, 4320), 3840, 2160},
        {"turned a quarter", {1024, 768, 90}, stage(1920, 1080), 810, 1080},
        {"turned back a quarter", {1024, 768, -270}, stage(1920, 1080), 810, 1080},
        {"upside down keeps its shape", {1024, 768, 180}, stage(1920, 1080), 1440, 1080},
    };
    for (const Case& c : cases) {
        const fs::path pdf = test::writePdf(dir / "case.pdf", {c.page});
        const auto written = pages(SlideImport::rasterize(pdf, "Case", c.stage, dir));
        ASSERT_EQ(written.size(), 1u) << c.what;
        EXPECT_EQ(written[0], dir / "Case 01.png");
        const StillImage img = decoded(written[0]);
        EXPECT_EQ(img.width, c.width) << c.what;
        EXPECT_EQ(img.height, c.height) << c.what;
        // Opaque white under the page; the red left half of the page is where its turn puts it.
        const bool quarter = std::abs(c.page.rotate) % 180 == 90;
        const auto red = quarter ? at(img, 0.5, 0.1) : c.page.rotate == 180 ? at(img, 0.9, 0.5) : at(img, 0.1, 0.5);
        const auto white = quarter ? at(img, 0.5, 0.9) : c.page.rotate == 180 ? at(img, 0.1, 0.2) : at(img, 0.9, 0.2);
        EXPECT_EQ(red, (std::array<int, 4>{255, 0, 0, 255})) << c.what;
        EXPECT_EQ(white, (std::array<int, 4>{255, 255, 255, 255})) << c.what;
    }
}

TEST(DeckRaster, PageFilesAreNumberedToTheCount) {
    const fs::path dir = test::tempDir("numbers");
    const fs::path pdf = test::writePdf(dir / "nine.pdf", std::vector<test::PdfPage>(9, test::PdfPage{64, 48}));
    const auto written = pages(SlideImport::rasterize(pdf, "Keynote", stage(64, 48), dir));
    ASSERT_EQ(written.size(), 9u);
    for (int i = 0; i < 9; ++i) EXPECT_EQ(written[size_t(i)], dir / ("Keynote 0" + std::to_string(i + 1) + ".png"));
    for (const auto& p : written) EXPECT_TRUE(fs::exists(p));

    const std::tuple<int, int, std::string> names[] = {
        {3, 9, "Keynote 03.png"}, {3, 12, "Keynote 03.png"}, {7, 120, "Keynote 007.png"},
        {100, 100, "Keynote 100.png"}, {1, 1, "Keynote 01.png"}, {1, 100, "Keynote 001.png"},
    };
    for (const auto& [page, of, name] : names) EXPECT_EQ(SlideImport::pageFilename("Keynote", page, of), name);
}

TEST(DeckRaster, AFailedPageRemovesThePagesBeforeIt) {
    const fs::path dir = test::tempDir("fail");
    const fs::path pdf = test::writePdf(dir / "deck.pdf", std::vector<test::PdfPage>(10, test::PdfPage{64, 48}));
    // Page 3's file cannot be written: a folder with something in it holds its name.
    test::writeFile(dir / "Deck 03.png" / "keep", "x");
    const auto r = SlideImport::rasterize(pdf, "Deck", stage(64, 48), dir);
    ASSERT_TRUE(std::holds_alternative<SlideImport::Failure>(r));
    EXPECT_EQ(std::get<SlideImport::Failure>(r), SlideImport::Failure::rasterizeFailed(3));
    EXPECT_EQ(std::get<SlideImport::Failure>(r).description(), "Couldn't render page 3 of that deck.");
    EXPECT_FALSE(fs::exists(dir / "Deck 01.png"));
    EXPECT_FALSE(fs::exists(dir / "Deck 02.png"));
    EXPECT_FALSE(fs::exists(dir / "Deck 04.png"));
}

TEST(DeckRaster, UnreadableAndEmptyDecks) {
    const fs::path dir = test::tempDir("bad");
    test::writeFile(dir / "text.pdf", "just some text");
    // A truncated file: the header and half of the objects.
    const std::string whole = test::pdfBytes({test::PdfPage{}});
    test::writeFile(dir / "cut.pdf", whole.substr(0, 20));
    test::writePdf(dir / "empty.pdf", {});
    test::writePdf(dir / "two.pdf", {test::PdfPage{}, test::PdfPage{}});
    using Kind = SlideImport::Failure::Kind;
    const std::pair<const char*, std::variant<int, SlideImport::Failure>> cases[] = {
        {"text.pdf", SlideImport::Failure::of(Kind::unreadablePDF)},
        {"cut.pdf", SlideImport::Failure::of(Kind::unreadablePDF)},
        {"missing.pdf", SlideImport::Failure::of(Kind::unreadablePDF)},
        {"empty.pdf", SlideImport::Failure::of(Kind::emptyPDF)},
        {"two.pdf", 2},
    };
    for (const auto& [file, expected] : cases) {
        EXPECT_EQ(SlideImport::pageCount(dir / file), expected) << file;
        if (const auto* failure = std::get_if<SlideImport::Failure>(&expected)) {
            const auto r = SlideImport::rasterize(dir / file, "X", stage(64, 48), dir);
            ASSERT_TRUE(std::holds_alternative<SlideImport::Failure>(r)) << file;
            EXPECT_EQ(std::get<SlideImport::Failure>(r), *failure) << file;
        }
    }
}
