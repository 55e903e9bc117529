#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "Engine/Intake/SlideImport.hpp"

using namespace ombry;

TEST(SlideLinks, DocumentIdFromPastedText) {
    const std::string id = "1AbC-xyz_0123456789abcdef";
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {"https://docs.google.com/presentation/d/" + id + "/edit#slide=id.p1", id},
        {"https://docs.google.com/presentation/d/e/" + id + "/pub?start=false", id},
        {"  \n\thttps://docs.google.com/presentation/d/" + id + "?usp=sharing \n", id},
        {"\u00A0docs.google.com/presentation/d/" + id + "\u2028", id},  // other spaces and line separators
        {id, id},                                        // a bare id
        {"AbCdEfGhIj0123456789", "AbCdEfGhIj0123456789"},  // 20 characters
        {"AbCdEfGhIj012345678", std::nullopt},             // 19
        {"AbCdEfGhIj 0123456789xyz", std::nullopt},        // a space inside
        {"AbCdEfGhIj:0123456789xyz", std::nullopt},
        {"https://docs.google.com/presentation/d/1234567/edit", std::nullopt},  // an id run of 7
        {"https://docs.google.com/presentation/d/12345678/edit", "12345678"},
        {"https://docs.google.com/document/d/" + id + "/edit", std::nullopt},
        {"https://docs.google.com/Presentation/d/" + id, std::nullopt},  // case-sensitive
        {"", std::nullopt},
        {" \n ", std::nullopt},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(SlideImport::slidesDocumentID(text), expected) << text;
    EXPECT_EQ(SlideImport::exportURL(id), "https://docs.google.com/presentation/d/" + id + "/export/pdf");
    EXPECT_EQ(SlideImport::exportURL(id, "http://127.0.0.1:8080"), "http://127.0.0.1:8080/presentation/d/" + id + "/export/pdf");
}

TEST(SlideLinks, DeckNamesAndTitles) {
    const std::pair<std::string, std::string> names[] = {
        {"/decks/Quarterly Review.pdf", "Quarterly Review"},
        {"/decks/..hidden.pdf", "hidden"},
        {"/decks/.pdf", "Slides"},
        {"/decks/pdf.PDF", "Slides"},
        {"/decks/  Spaced\t.pdf", "Spaced"},
        {"/decks/a.b.pdf", "a.b"},
        {"/decks/noextension", "noextension"},
        {"/decks/ .pdf", "Slides"},
        {"slides-9A3F.pdf", "slides-9A3F"},
    };
    for (const auto& [path, name] : names) EXPECT_EQ(SlideImport::deckName(path), name) << path;

    const std::pair<std::optional<std::string>, std::optional<std::string>> titles[] = {
        {"Quarterly Review.pdf", "Quarterly Review"}, {std::nullopt, std::nullopt}, {"", std::nullopt},
        {".pdf", std::nullopt},  {"pdf.pdf", std::nullopt}, {"pdf", std::nullopt},
        {"Unknown.pdf", std::nullopt}, {"UNKNOWN", std::nullopt}, {"Keynote", "Keynote"},
    };
    for (const auto& [suggested, title] : titles) EXPECT_EQ(SlideImport::deckTitle(suggested), title) << suggested.value_or("(none)");
}

TEST(SlideLinks, PixelBoxOfAPage) {
    auto stage = [](std::int64_t w, std::int64_t h) {
        StageConfig s;
        s.width = w;
        s.height = h;
        return s;
    };
    struct Case {
        double w, h;
        StageConfig stage;
        media::PixelSize size;
    };
    const double inf = std::numeric_limits<double>::infinity(), nan = std::nan("");
    const Case cases[] = {
        {1024, 768, stage(1920, 1080), {1440, 1080}},
        {1280, 720, stage(1280, 720), {1280, 720}},
        {960, 540, stage(7680, 4320), {3840, 2160}},
        {100, 100, stage(1920, 1080), {1080, 1080}},        // scaled up as well
        {0, 768, stage(1920, 1080), {1920, 1080}},          // no page size: the box
        {-5, 5, stage(0, -3), {1, 1}},                      // the box is at least 1 by 1
        {3, 2, stage(5, 5), {5, 3}},                        // 3.33 rounds to 3
        {2, 5, stage(3, 2), {1, 2}},                        // 0.8 rounds to 1
        {4, 1, stage(10, 10), {10, 3}},                     // 2.5 rounds away from zero
        {10000, 1, stage(1920, 1080), {1920, 1}},           // never below 1
        // Degenerate boxes give the stage's box: endless, not a number, or a side under one point.
        {inf, 768, stage(1920, 1080), {1920, 1080}},
        {1024, -inf, stage(1920, 1080), {1920, 1080}},
        {nan, nan, stage(1280, 720), {1280, 720}},
        {0.5, 768, stage(1920, 1080), {1920, 1080}},
        {1e-310, 1e-310, stage(1920, 1080), {1920, 1080}},
        {1, 1e308, stage(1920, 1080), {1, 1080}},            // huge but finite still fits
        {1e308, 1e308, stage(1920, 1080), {1080, 1080}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SlideImport::pixelSize(c.w, c.h, c.stage), c.size) << c.w << "x" << c.h << " on " << c.stage.width << "x" << c.stage.height;
}

TEST(SlideLinks, FailureSentences) {
    using F = SlideImport::Failure;
    EXPECT_EQ(F::downloadFailed("the server answered 500").description(), "Couldn't download the deck: the server answered 500");
    EXPECT_EQ(F::rasterizeFailed(3).description(), "Couldn't render page 3 of that deck.");
    EXPECT_EQ(F::of(F::Kind::notASlidesURL).description(),
              "That doesn't look like a Google Slides link. Copy the URL from your browser's address bar while the deck is open.");
    EXPECT_EQ(F::of(F::Kind::notFound).description(),
              "There's no Google Slides deck at that link. Check the URL, or the deck may have been deleted.");
    EXPECT_EQ(F::of(F::Kind::notShared).description(),
              "That deck is private. In Google Slides choose Share \u2192 General access \u2192 Anyone with the link, then try again.");
    EXPECT_EQ(F::of(F::Kind::unreadablePDF).description(), "That PDF couldn't be opened.");
    EXPECT_EQ(F::of(F::Kind::emptyPDF).description(), "That PDF has no pages.");
}
