#include "Platform/Media/DeckPages.hpp"

#include <png.h>
#include <poppler-document.h>
#include <poppler-global.h>
#include <poppler-image.h>
#include <poppler-page-renderer.h>
#include <poppler-page.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <vector>

namespace ombry::media {

namespace {

// Poppler prints its complaints about damaged files on stderr unless told otherwise.
void quietPoppler() {
    static std::once_flag once;
    std::call_once(once, [] { poppler::set_debug_error_function([](const std::string&, void*) {}, nullptr); });
}

struct FileCloser {
    void operator()(FILE* f) const {
        if (f) std::fclose(f);
    }
};

}  // namespace

struct PdfDeck::Impl {
    std::unique_ptr<poppler::document> doc;
};

PdfDeck::PdfDeck(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
PdfDeck::~PdfDeck() = default;

std::unique_ptr<PdfDeck> PdfDeck::open(const std::string& path) {
    quietPoppler();
    auto impl = std::make_unique<Impl>();
    impl->doc.reset(poppler::document::load_from_file(path));
    if (!impl->doc || impl->doc->is_locked()) return nullptr;
    return std::unique_ptr<PdfDeck>(new PdfDeck(std::move(impl)));
}

int PdfDeck::pageCount() const { return impl_->doc->pages(); }

std::optional<PdfDeck::PageBox> PdfDeck::pageBox(int index) const {
    std::unique_ptr<poppler::page> page(impl_->doc->create_page(index));
    if (!page) return std::nullopt;
    const poppler::rectf r = page->page_rect(poppler::crop_box);
    int rotation = 0;
    switch (page->orientation()) {
    case poppler::page::landscape: rotation = 90; break;
    case poppler::page::upside_down: rotation = 180; break;
    case poppler::page::seascape: rotation = 270; break;
    default: break;
    }
    return PageBox{r.width(), r.height(), rotation};
}

std::optional<StillImage> PdfDeck::render(int index, int width, int height) const {
    if (width < 1 || height < 1) return std::nullopt;
    std::unique_ptr<poppler::page> page(impl_->doc->create_page(index));
    if (!page) return std::nullopt;
    const poppler::rectf r = page->page_rect(poppler::crop_box);
    const poppler::page::orientation_enum o = page->orientation();
    const bool turned = o == poppler::page::landscape || o == poppler::page::seascape;
    // The scale that maps the (turned) crop box onto the pixel box, as resolutions in dots per inch.
    // A side that is not finite is drawn at 72 dots per inch rather than at none or endless ones.
    const auto side = [](double points, int pixels) { return std::isfinite(points) ? std::max(points, 1.0) : double(pixels); };
    const double w = side(turned ? r.height() : r.width(), width);
    const double h = side(turned ? r.width() : r.height(), height);
    poppler::page_renderer renderer;
    renderer.set_render_hints(poppler::page_renderer::antialiasing | poppler::page_renderer::text_antialiasing);
    renderer.set_paper_color(0xFFFFFFFF);
    renderer.set_image_format(poppler::image::format_argb32);
    const poppler::image drawn = renderer.render_page(page.get(), 72.0 * width / w, 72.0 * height / h, 0, 0, width, height);
    if (!drawn.is_valid() || drawn.format() != poppler::image::format_argb32 || drawn.width() < 1 || drawn.height() < 1)
        return std::nullopt;
    // ARGB words in native order: B, G, R, A bytes. A slice that came out a pixel short stays white there.
    StillImage out = StillImage::packed(width, height, StillAlpha::none, StillByteOrder::bgra);
    std::memset(out.pixels.data(), 0xFF, out.pixels.size());
    const int rows = std::min(height, drawn.height());
    const size_t rowBytes = size_t(std::min(width, drawn.width())) * 4;
    for (int y = 0; y < rows; ++y)
        std::memcpy(out.pixels.data() + out.stride * size_t(y), drawn.const_data() + size_t(drawn.bytes_per_row()) * size_t(y),
                    rowBytes);
    return out;
}

bool writePng(const StillImage& image, const std::string& path) {
    std::error_code ec;
    std::filesystem::remove(path, ec);
    if (!image.valid()) return false;
    std::unique_ptr<FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
    if (!file) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    // libpng reports errors by longjmp: what changes after setjmp is volatile or sized before it.
    const bool unpremultiply = image.alpha == StillAlpha::premultiplied;
    std::vector<uint8_t> row(unpremultiply ? size_t(image.width) * 4 : 0);
    volatile bool written = false;
    if (info && setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, file.get());
        // Fast filtering and compression: pages and frames are written once and read once, and the
        // default level costs several times the time for a few percent of size.
        png_set_compression_level(png, 2);
        png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB | PNG_FILTER_UP);
        png_set_IHDR(png, info, png_uint_32(image.width), png_uint_32(image.height), 8, PNG_COLOR_TYPE_RGB_ALPHA,
                     PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
        png_write_info(png, info);
        if (image.order == StillByteOrder::bgra) png_set_bgr(png);
        for (int y = 0; y < image.height; ++y) {
            const uint8_t* src = image.pixels.data() + image.stride * size_t(y);
            if (unpremultiply) {
                // PNG keeps straight alpha.
                for (int x = 0; x < image.width * 4; x += 4) {
                    const unsigned a = src[x + 3];
                    for (int c = 0; c < 3; ++c) row[size_t(x + c)] = a ? uint8_t(std::min(255u, (src[x + c] * 255u + a / 2) / a)) : 0;
                    row[size_t(x + 3)] = uint8_t(a);
                }
                src = row.data();
            }
            png_write_row(png, const_cast<png_bytep>(src));
        }
        png_write_end(png, nullptr);
        written = true;
    }
    png_destroy_write_struct(png ? &png : nullptr, info ? &info : nullptr);
    bool ok = written;
    ok = std::fflush(file.get()) == 0 && !std::ferror(file.get()) && ok;
    ok = std::fclose(file.release()) == 0 && ok;
    if (!ok) std::filesystem::remove(path, ec);
    return ok;
}

}  // namespace ombry::media
