// The fixture of the image-sequence and slide-deck import tests: generated frames and decks, and waits.
#pragma once
#include "AppStateFixture.hpp"

#include "PdfFixture.hpp"
#include "Platform/Log.hpp"
#include "Platform/Media/DeckPages.hpp"

namespace ombry::app_test {


// A PNG frame of one straight-alpha colour with a transparent left half.
inline std::string frame(const fs::path& path, int r, int g, int b) {
    StillImage img = StillImage::packed(32, 24, StillAlpha::straight, StillByteOrder::rgba);
    for (int y = 0; y < 24; ++y)
        for (int x = 16; x < 32; ++x) {
            uint8_t* p = &img.pixels[img.stride * size_t(y) + size_t(x) * 4];
            p[0] = uint8_t(r), p[1] = uint8_t(g), p[2] = uint8_t(b), p[3] = 255;
        }
    EXPECT_TRUE(media::writePng(img, path.string()));
    return path.string();
}

inline std::vector<std::string> frames(const fs::path& dir, const std::string& prefix, int count, int r = 200, int g = 40, int b = 10) {
    std::vector<std::string> out;
    for (int i = 1; i <= count; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "%s%04d.png", prefix.c_str(), i);
        out.push_back(frame(dir / name, r, g, b));
    }
    return out;
}

// A deck of pages filled with one colour and a white bar as long as the page number, so that no two pages
// (nor two decks of other colours) have the same content.
inline fs::path deck(const fs::path& path, int pages, const std::string& colour = "1 0 0") {
    std::vector<test::PdfPage> list;
    for (int i = 1; i <= pages; ++i)
        list.push_back({64, 48, 0, colour + " rg 0 0 64 48 re f 1 1 1 rg 0 0 " + std::to_string(2 * i) + " 8 re f"});
    return test::writePdf(path, list);
}

inline std::vector<fs::path> entries(const fs::path& dir) {
    std::vector<fs::path> out;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec)) out.push_back(e.path());
    return out;
}

inline const Group* group(const AppState& app, const std::string& name) {
    for (const auto& g : app.library.groups())
        if (g.name == name) return &g;
    return nullptr;
}

inline bool logged(const std::string& text) { return static_cast<CapturingLogSink&>(logSink()).contains(text); }

class SequenceDeckImportTest : public AppStateTest {
protected:
    fs::path dir = test::tempDir("imports");
    std::vector<std::optional<SequenceEncode>> records;

    void SetUp() override {
        AppStateTest::SetUp();
        for (const auto& e : fs::directory_iterator(Store::mediaDir())) fs::remove_all(e.path());
        fs::create_directories(Store::mediaIncomingDir());
        static_cast<CapturingLogSink&>(logSink()).clear();
    }
    AppState& start() {
        make();
        app->onImportsChange = [this] { records.push_back(app->sequenceEncode()); };
        return *app;
    }
    // Waits for the encode slot to empty again.
    void encoded() { ASSERT_TRUE(q.waitUntil([&] { return !app->sequenceEncode(); }, 60.0)) << "the import never finished"; }
    // Items whose file is a managed page or movie.
    std::vector<MediaItem> managed() const {
        std::vector<MediaItem> out;
        for (const auto& m : app->library.media())
            if (fs::path(m.path).parent_path() == Store::mediaDir()) out.push_back(m);
        return out;
    }
    // Runs a deck import to its completion.
    std::optional<std::string> importDeck(const fs::path& pdf, const std::string& name, std::optional<std::string> into = {}) {
        std::optional<std::optional<std::string>> done;
        app->importDeck(pdf.string(), name, into, false, [&](std::optional<std::string> e) { done = std::move(e); });
        EXPECT_TRUE(q.waitUntil([&] { return done.has_value(); }, 60.0)) << "the deck import never finished";
        return done.value_or("no answer");
    }
    // Fills the library up to `count` items with files nobody probes.
    void fillTo(std::size_t count) {
        std::vector<std::string> paths;
        for (std::size_t i = app->library.media().size(); i < count; ++i) {
            const fs::path p = dir / "filler" / ("f" + std::to_string(i) + ".png");
            if (!fs::exists(p)) test::writeFile(p, "x");
            paths.push_back(p.string());
        }
        app->library.add(paths);
        ASSERT_EQ(app->library.media().size(), count);
    }
};

}  // namespace ombry::app_test
