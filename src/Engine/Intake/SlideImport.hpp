#pragma once
// Slide decks: links to publicly shared online presentations, their PDF export, deck names, and pages
// rendered into PNG files. Holds no state and knows nothing of the application state.
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "Engine/Model/Protocol.hpp"
#include "Platform/Media/MediaTypes.hpp"

namespace ombry {

// Where and how a deck download goes; tests point the origin at a loopback server.
struct SlideDownloadOptions {
    // The public service whose share links carry "/presentation/d/".
    static constexpr const char* defaultOrigin = "https://docs.google.com";

    std::string origin = defaultOrigin;
    std::filesystem::path into;                      // empty: the incoming-media folder
    std::int64_t maxBytes = std::int64_t(1) << 30;  // a larger deck fails
    double timeLimit = 600;                          // seconds for the whole download
    double stallLimit = 60;                          // seconds without a byte
    const std::atomic<bool>* stop = nullptr;         // turning true ends the download as a failure
};

struct SlideImport {
    // Why a deck could not be had, with the sentence the operator reads.
    struct Failure {
        enum class Kind { downloadFailed, rasterizeFailed, notASlidesURL, notFound, notShared, unreadablePDF, emptyPDF, writeFailed };
        Kind kind = Kind::downloadFailed;
        std::string text;  // downloadFailed: the reason; writeFailed: the system's own description
        int page = 0;      // rasterizeFailed: the page number from 1

        static Failure downloadFailed(std::string reason) { return {Kind::downloadFailed, std::move(reason), 0}; }
        static Failure rasterizeFailed(int page) { return {Kind::rasterizeFailed, {}, page}; }
        static Failure of(Kind kind) { return {kind, {}, 0}; }
        std::string description() const;
        bool operator==(const Failure&) const = default;
    };

    static constexpr const char* defaultOrigin = SlideDownloadOptions::defaultOrigin;

    // The document id in pasted text (a share link, or a bare id of 20 or more id characters).
    static std::optional<std::string> slidesDocumentID(const std::string& from);
    // origin + "/presentation/d/" + id + "/export/pdf".
    static std::string exportURL(const std::string& forDocumentID, const std::string& origin = defaultOrigin);

    using DownloadOptions = SlideDownloadOptions;
    struct Download {
        std::filesystem::path file;  // "slides-<UUID>.pdf"
        std::optional<std::string> title;
    };
    // Downloads the PDF export of a shared deck, streamed to its file. Blocking. On failure no file is left.
    static std::variant<Download, Failure> downloadDeck(const std::string& from, const DownloadOptions& options = {});

    // The deck's display name from its file: leading dots and the extension gone, "Slides" when nothing
    // (or just "pdf") is left.
    static std::string deckName(const std::filesystem::path& forFile);
    // The deck's title from a suggested file name; nothing when it names nothing better than "Slides".
    static std::optional<std::string> deckTitle(const std::optional<std::string>& fromSuggested);

    static std::variant<int, Failure> pageCount(const std::filesystem::path& of);
    // Renders every page into pageFilename(deckName, n, count) inside `into`, in page order. On a failure
    // the pages written so far are removed. Blocking: run it off the main thread.
    static std::variant<std::vector<std::filesystem::path>, Failure> rasterize(const std::filesystem::path& pdf,
                                                                               const std::string& deckName,
                                                                               const StageConfig& stage,
                                                                               const std::filesystem::path& into);
    // A page of that size (points) fitted into the stage's box (at most 3840 by 2160), keeping its aspect.
    static media::PixelSize pixelSize(double pageWidth, double pageHeight, const StageConfig& stage);
    // "<deck> 03.png": the page number zero-filled to the digits of the count, at least two.
    static std::string pageFilename(const std::string& deck, int page, int of);
};

}  // namespace ombry
