#include "Engine/Intake/SlideImport.hpp"

#include <curl/curl.h>
#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "Engine/Model/TextBytes.hpp"
#include "Engine/Library/Store.hpp"
#include "Platform/Media/DeckPages.hpp"
#include "Platform/Uuid.hpp"

namespace ombry {

namespace fs = std::filesystem;

namespace {

bool idCharacter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

void initCurl() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::string percentDecoded(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && std::isxdigit(static_cast<unsigned char>(s[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(s[i + 2]))) {
            out.push_back(char(std::stoi(s.substr(i + 1, 2), nullptr, 16)));
            i += 2;
        } else {
            out.push_back(s[i]);
        }
    }
    return out;
}

// The file name a Content-Disposition header suggests: the RFC 5987 form when given, else the plain one.
std::optional<std::string> dispositionFilename(const std::string& header) {
    const std::string lowered = lower(header);
    if (auto at = lowered.find("filename*="); at != std::string::npos) {
        std::string value = header.substr(at + 10);
        value = value.substr(0, value.find(';'));
        if (auto quote = value.find("''"); quote != std::string::npos) return percentDecoded(trimWhiteSpace(value.substr(quote + 2)));
    }
    for (size_t at = lowered.find("filename="); at != std::string::npos; at = lowered.find("filename=", at + 1)) {
        if (at > 0 && lowered[at - 1] == '*') continue;
        std::string value = header.substr(at + 9);
        if (!value.empty() && value[0] == '"') {
            std::string out;
            for (size_t i = 1; i < value.size() && value[i] != '"'; ++i) {
                if (value[i] == '\\' && i + 1 < value.size()) ++i;
                out.push_back(value[i]);
            }
            return out;
        }
        return trimWhiteSpace(value.substr(0, value.find(';')));
    }
    return std::nullopt;
}

struct FileCloser {
    void operator()(FILE* f) const {
        if (f) std::fclose(f);
    }
};

// One transfer's state, shared with libcurl's callbacks.
struct Transfer {
    CURL* curl = nullptr;
    const SlideImport::DownloadOptions* options = nullptr;
    fs::path path;
    std::unique_ptr<FILE, FileCloser> file;
    std::int64_t bytes = 0;
    std::string head;  // the first bytes, for the "%PDF" check
    bool checked = false;
    std::optional<SlideImport::Failure> failure;  // why we ended the transfer ourselves
    std::optional<std::string> disposition;

    static long status(CURL* curl) {
        long code = 0;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &code);
        return code;
    }
};

std::optional<SlideImport::Failure> statusFailure(long code) {
    if (code >= 200 && code <= 299) return std::nullopt;
    if (code == 401 || code == 403) return SlideImport::Failure::of(SlideImport::Failure::Kind::notShared);
    if (code == 404) return SlideImport::Failure::of(SlideImport::Failure::Kind::notFound);
    return SlideImport::Failure::downloadFailed("the server answered " + std::to_string(code));
}

// The answer is a PDF only when its type says so and its body starts like one.
bool pdfAnswer(CURL* curl, const std::string& head) {
    const char* type = nullptr;
    curl_easy_getinfo(curl, CURLINFO_CONTENT_TYPE, &type);
    return type && lower(type).find("pdf") != std::string::npos && head.compare(0, 4, "%PDF") == 0;
}

size_t onHeader(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const std::string line(data, size * count);
    // Each answer of a redirect chain starts with its status line; only the last one's headers count.
    if (line.rfind("HTTP/", 0) == 0) t->disposition.reset();
    if (lower(line).rfind("content-disposition:", 0) == 0) t->disposition = trimWhiteSpace(line.substr(20));
    return size * count;
}

size_t onBody(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const size_t n = size * count;
    if (const auto failure = statusFailure(Transfer::status(t->curl))) {
        t->failure = failure;
        return 0;
    }
    if (t->bytes + std::int64_t(n) > t->options->maxBytes) {
        t->failure = SlideImport::Failure::downloadFailed("the deck is larger than the limit of " +
                                                          std::to_string(t->options->maxBytes >> 20) + " MB");
        return 0;
    }
    if (!t->checked) {
        t->head.append(data, std::min(n, size_t(4) - std::min(size_t(4), t->head.size())));
        if (t->head.size() >= 4) {
            t->checked = true;
            if (!pdfAnswer(t->curl, t->head)) {
                t->failure = SlideImport::Failure::of(SlideImport::Failure::Kind::notShared);
                return 0;
            }
        }
    }
    if (!t->file) {
        std::error_code ec;
        fs::create_directories(t->path.parent_path(), ec);
        t->file.reset(std::fopen(t->path.c_str(), "wb"));
        if (!t->file) {
            t->failure = SlideImport::Failure{SlideImport::Failure::Kind::writeFailed, std::strerror(errno), 0};
            return 0;
        }
    }
    if (std::fwrite(data, 1, n, t->file.get()) != n) {
        t->failure = SlideImport::Failure{SlideImport::Failure::Kind::writeFailed, std::strerror(errno), 0};
        return 0;
    }
    t->bytes += std::int64_t(n);
    return n;
}

int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* t = static_cast<Transfer*>(user);
    return t->options->stop && t->options->stop->load() ? 1 : 0;
}

}  // namespace

std::string SlideImport::Failure::description() const {
    switch (kind) {
    case Kind::downloadFailed: return "Couldn't download the deck: " + text;
    case Kind::rasterizeFailed: return "Couldn't render page " + std::to_string(page) + " of that deck.";
    case Kind::notASlidesURL:
        return "That doesn't look like a Google Slides link. Copy the URL from your browser's address bar while the "
               "deck is open.";
    case Kind::notFound: return "There's no Google Slides deck at that link. Check the URL, or the deck may have been deleted.";
    case Kind::notShared:
        return "That deck is private. In Google Slides choose Share \u2192 General access \u2192 Anyone with the link, "
               "then try again.";
    case Kind::unreadablePDF: return "That PDF couldn't be opened.";
    case Kind::emptyPDF: return "That PDF has no pages.";
    case Kind::writeFailed: return text;
    }
    return text;
}

std::optional<std::string> SlideImport::slidesDocumentID(const std::string& from) {
    const std::string text = trimWhiteSpace(from);
    if (text.empty()) return std::nullopt;
    if (text.find_first_of("/:") == std::string::npos && text.size() >= 20 &&
        std::all_of(text.begin(), text.end(), idCharacter))
        return text;
    static const std::string marker = "/presentation/d/";
    const auto at = text.find(marker);
    if (at == std::string::npos) return std::nullopt;
    size_t start = at + marker.size();
    if (text.compare(start, 2, "e/") == 0) start += 2;
    size_t end = start;
    while (end < text.size() && idCharacter(text[end])) ++end;
    if (end - start < 8) return std::nullopt;
    return text.substr(start, end - start);
}

std::string SlideImport::exportURL(const std::string& forDocumentID, const std::string& origin) {
    return origin + "/presentation/d/" + forDocumentID + "/export/pdf";
}

std::variant<SlideImport::Download, SlideImport::Failure> SlideImport::downloadDeck(const std::string& from,
                                                                                    const DownloadOptions& options) {
    const auto id = slidesDocumentID(from);
    if (!id) return Failure::of(Failure::Kind::notASlidesURL);
    initCurl();
    Transfer t;
    t.options = &options;
    t.path = (options.into.empty() ? Store::mediaIncomingDir() : options.into) / ("slides-" + makeUuid() + ".pdf");
    t.curl = curl_easy_init();
    if (!t.curl) return Failure::downloadFailed("the network library could not start");
    char error[CURL_ERROR_SIZE] = {};
    const std::string url = exportURL(*id, options.origin);
    curl_easy_setopt(t.curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(t.curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(t.curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(t.curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(t.curl, CURLOPT_MAXREDIRS, 20L);
    curl_easy_setopt(t.curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(t.curl, CURLOPT_ERRORBUFFER, error);
    curl_easy_setopt(t.curl, CURLOPT_TIMEOUT_MS, long(std::max(1.0, options.timeLimit * 1000)));
    // A transfer that delivers nothing for the stall limit ends, like a request time-out.
    curl_easy_setopt(t.curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(t.curl, CURLOPT_LOW_SPEED_TIME, long(std::max(1.0, std::ceil(options.stallLimit))));
    curl_easy_setopt(t.curl, CURLOPT_HEADERFUNCTION, onHeader);
    curl_easy_setopt(t.curl, CURLOPT_HEADERDATA, &t);
    curl_easy_setopt(t.curl, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(t.curl, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(t.curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(t.curl, CURLOPT_XFERINFOFUNCTION, onProgress);
    curl_easy_setopt(t.curl, CURLOPT_XFERINFODATA, &t);
    const CURLcode rc = curl_easy_perform(t.curl);

    std::optional<Failure> failure = t.failure;
    if (!failure && rc != CURLE_OK)
        failure = Failure::downloadFailed(rc == CURLE_ABORTED_BY_CALLBACK ? "the download was cancelled"
                                          : error[0]                      ? std::string(error)
                                                                          : curl_easy_strerror(rc));
    if (!failure) failure = statusFailure(Transfer::status(t.curl));
    // An empty body, or one shorter than the four bytes that start every PDF.
    if (!failure && !pdfAnswer(t.curl, t.head)) failure = Failure::of(Failure::Kind::notShared);
    if (!failure && t.file && (std::fflush(t.file.get()) != 0 || std::fclose(t.file.release()) != 0))
        failure = Failure{Failure::Kind::writeFailed, std::strerror(errno), 0};
    std::optional<std::string> suggested = t.disposition ? dispositionFilename(*t.disposition) : std::nullopt;
    if (!suggested) {
        const char* effective = nullptr;
        curl_easy_getinfo(t.curl, CURLINFO_EFFECTIVE_URL, &effective);
        std::string path = effective ? effective : url;
        path = path.substr(0, path.find_first_of("?#"));
        suggested = percentDecoded(path.substr(path.find_last_of('/') + 1));
    }
    curl_easy_cleanup(t.curl);
    if (failure) {
        t.file.reset();
        std::error_code ec;
        fs::remove(t.path, ec);
        return *failure;
    }
    return Download{t.path, deckTitle(suggested)};
}

std::string SlideImport::deckName(const fs::path& forFile) {
    std::string name = forFile.string();
    while (name.size() > 1 && name.back() == '/') name.pop_back();
    name = name.substr(name.find_last_of('/') == std::string::npos ? 0 : name.find_last_of('/') + 1);
    name.erase(0, name.find_first_not_of('.') == std::string::npos ? name.size() : name.find_first_not_of('.'));
    if (const auto dot = name.find_last_of('.'); dot != std::string::npos) name.erase(dot);
    const auto first = name.find_first_not_of(" \t");
    name = first == std::string::npos ? std::string() : name.substr(first, name.find_last_not_of(" \t") - first + 1);
    if (name.empty() || lower(name) == "pdf") return "Slides";
    return name;
}

std::optional<std::string> SlideImport::deckTitle(const std::optional<std::string>& fromSuggested) {
    if (!fromSuggested || fromSuggested->empty()) return std::nullopt;
    std::string name = deckName(*fromSuggested);
    if (name == "Slides" || lower(name) == "unknown") return std::nullopt;
    return name;
}

std::variant<int, SlideImport::Failure> SlideImport::pageCount(const fs::path& of) {
    const auto deck = media::PdfDeck::open(of.string());
    if (!deck) return Failure::of(Failure::Kind::unreadablePDF);
    if (deck->pageCount() < 1) return Failure::of(Failure::Kind::emptyPDF);
    return deck->pageCount();
}

media::PixelSize SlideImport::pixelSize(double pageWidth, double pageHeight, const StageConfig& stage) {
    const double boxW = double(std::clamp<std::int64_t>(stage.width, 1, 3840));
    const double boxH = double(std::clamp<std::int64_t>(stage.height, 1, 2160));
    // A side that is not a number, endless, or under one point (a degenerate box) gives the stage's box.
    const auto usable = [](double side) { return std::isfinite(side) && side >= 1; };
    if (!usable(pageWidth) || !usable(pageHeight)) return {int(boxW), int(boxH)};
    const double scale = std::min(boxW / pageWidth, boxH / pageHeight);
    if (!std::isfinite(scale) || !(scale > 0)) return {int(boxW), int(boxH)};
    // std::round rounds halves away from zero.
    return {std::max(1, int(std::round(pageWidth * scale))), std::max(1, int(std::round(pageHeight * scale)))};
}

std::string SlideImport::pageFilename(const std::string& deck, int page, int of) {
    const size_t digits = std::max<size_t>(2, std::to_string(of).size());
    std::string number = std::to_string(page);
    if (number.size() < digits) number.insert(0, digits - number.size(), '0');
    return deck + " " + number + ".png";
}

std::variant<std::vector<fs::path>, SlideImport::Failure> SlideImport::rasterize(const fs::path& pdf,
                                                                                const std::string& deckName,
                                                                                const StageConfig& stage,
                                                                                const fs::path& into) {
    const auto deck = media::PdfDeck::open(pdf.string());
    if (!deck) return Failure::of(Failure::Kind::unreadablePDF);
    const int count = deck->pageCount();
    if (count < 1) return Failure::of(Failure::Kind::emptyPDF);
    std::vector<fs::path> written;
    auto fail = [&](int page) {
        std::error_code ec;
        for (const fs::path& p : written) fs::remove(p, ec);
        return Failure::rasterizeFailed(page);
    };
    for (int i = 0; i < count; ++i) {
        const int n = i + 1;
        const auto box = deck->pageBox(i);
        if (!box) return fail(n);
        const bool turned = std::abs(box->rotation) % 180 == 90;
        const media::PixelSize size =
            pixelSize(turned ? box->height : box->width, turned ? box->width : box->height, stage);
        // One page in memory at a time.
        const auto image = deck->render(i, size.width, size.height);
        if (!image) return fail(n);
        const fs::path file = into / pageFilename(deckName, n, count);
        if (!media::writePng(*image, file.string())) return fail(n);
        written.push_back(file);
    }
    return written;
}

}  // namespace ombry
