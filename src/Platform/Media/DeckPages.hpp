#pragma once
// PDF slide decks through poppler: page count, page boxes and pages drawn into pixels; PNG files of them.
#include <memory>
#include <optional>
#include <string>

#include "Platform/Gpu/StillImage.hpp"

namespace ombry::media {

// One opened PDF. Use from one thread at a time; separate decks may be used on separate threads.
class PdfDeck {
public:
    // Nothing when the file is no PDF, is damaged beyond reading, or is locked by a password.
    static std::unique_ptr<PdfDeck> open(const std::string& path);
    ~PdfDeck();
    PdfDeck(const PdfDeck&) = delete;
    PdfDeck& operator=(const PdfDeck&) = delete;

    int pageCount() const;

    // A page's crop box in points and its turn (/Rotate) in degrees.
    struct PageBox {
        double width = 0;
        double height = 0;
        int rotation = 0;
    };
    std::optional<PageBox> pageBox(int index) const;

    // The page's crop box drawn over opaque white, turned as its /Rotate says, scaled to exactly width by
    // height pixels (B, G, R, A bytes, opaque). Nothing when the page cannot be had or drawn.
    std::optional<StillImage> render(int index, int width, int height) const;

    struct Impl;

private:
    explicit PdfDeck(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// Writes the picture as an 8-bit PNG, RGB with alpha (alpha last), replacing any file there. False when
// the file could not be written completely (nothing is left behind then).
bool writePng(const StillImage& image, const std::string& path);

}  // namespace ombry::media
