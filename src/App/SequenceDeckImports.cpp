// The image-sequence and slide-deck imports of the application state: encoding, downloading and rendering
// run on the import threads, everything that touches the project on the main queue.
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <chrono>

#include "App/AppState.hpp"
#include "Engine/Intake/SequenceImport.hpp"
#include "Engine/Intake/SlideImport.hpp"
#include "Engine/Library/Store.hpp"
#include "Platform/Uuid.hpp"
#include "Platform/WorkerPool.hpp"

namespace ombry {

namespace fs = std::filesystem;

namespace {

// A folder of its own inside the incoming folder for each import, so that two imports of the same name
// (every digits-only run is "Sequence") never replace, delete or ingest each other's files. The start-up
// scan removes what an interrupted import leaves.
fs::path workFolder(const std::string& kind) { return Store::mediaIncomingDir() / (kind + "-" + makeUuid()); }

void removeQuietly(const fs::path& path) {
    std::error_code ec;
    fs::remove_all(path, ec);
}

bool sameIgnoringCase(const std::string& a, const std::string& b) {
    return icu::UnicodeString::fromUTF8(a).caseCompare(icu::UnicodeString::fromUTF8(b), U_FOLD_CASE_DEFAULT) == 0;
}

std::int64_t elapsedMs(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

// One deck import on its way: what it was asked, and the page files once rendered.
struct AppState::DeckImport {
    std::string pdf;
    std::string name;
    std::optional<std::string> into;
    bool deleteSource = false;
    DeckDone onFinish;
    StageConfig stage;
    fs::path work;
    std::vector<fs::path> pages;
};

void AppState::importsChanged() {
    if (onImportsChange) onImportsChange();
    notify(Aspect::imports);
    notify(Aspect::sequenceEncode);
}

void AppState::wireImports() {
    intake_->routeDeck = [this](const std::string& pdf, const std::optional<std::string>& into) { routeDeck(pdf, into); };
    intake_->expand = &SequenceImport::expand;
    intake_->detectSequence = [](const std::vector<std::string>& paths) -> std::optional<DetectedSequence> {
        auto found = SequenceImport::detect(paths);
        if (!found) return std::nullopt;
        return DetectedSequence{std::move(found->frames), std::move(found->name)};
    };
}

WorkerPool& AppState::importPool() {
    // Two threads: a deck renders while a long sequence encodes.
    if (!importPool_) importPool_ = std::make_unique<WorkerPool>(2, "intake-import");
    return *importPool_;
}

void AppState::importSequence(const std::vector<std::string>& frames, const std::string& name,
                              const std::optional<std::string>& into, std::int64_t fps) {
    if (frames.empty()) return;
    sequenceEncode_ = SequenceEncode{makeUuid(), name, std::int64_t(frames.size()), 0};
    importsChanged();
    Diag::metric("SEQ", "encode start frames=" + std::to_string(frames.size()));
    const auto started = std::chrono::steady_clock::now();
    const fs::path work = workFolder("sequence");
    const std::atomic<bool>* stop = &importPool().stopFlag();
    importPool().submit([this, toMain = onMainWhileAlive(), frames, name, into, fps, work, started, stop] {
        std::error_code ec;
        fs::create_directories(work, ec);
        auto result = SequenceImport::transcode(frames, name, work, fps, [this, toMain](double p) {
            // The record in the slot now, whichever import put it there.
            toMain([this, p] {
                if (!sequenceEncode_) return;
                sequenceEncode_->fraction = p;
                importsChanged();
            });
        }, stop);
        toMain([this, result = std::move(result), name, into, work, started] {
            auto finish = [this, work] {
                removeQuietly(work);
                sequenceEncode_.reset();
                importsChanged();
            };
            if (const auto* failure = std::get_if<SequenceImport::Failure>(&result)) {
                Diag::metric("SEQ", "encode threw");
                IssueLog::shared().report(IssueCode::sequenceImportFailed, name, failure->description(), true);
                return finish();
            }
            const fs::path movie = std::get<fs::path>(result);
            std::error_code ec;
            const auto bytes = fs::file_size(movie, ec);
            Diag::metric("SEQ", "encode ok bytes=" + std::to_string(ec ? 0 : bytes) + " in " +
                                    std::to_string(elapsedMs(started)) + "ms");
            UploadIngestRequest request;
            request.tempPath = movie.string();
            request.originalFilename = movie.filename().string();
            request.playlistId = into;
            request.origin = MediaOrigin::local;
            ingestUploadedFile(std::move(request), [this, name, finish](UploadIngestResult r) {
                if (r.ok) {
                    Diag::metric("SEQ", "ingest ok");
                } else {
                    Diag::metric("SEQ", "ingest failed");
                    IssueLog::shared().report(IssueCode::sequenceImportFailed, name,
                                              SequenceImport::Failure::encodeFailed(r.message).description(), true);
                }
                finish();
            });
        });
    });
}

bool AppState::hasRoomForDeck(int pages, const std::string& name) {
    const std::int64_t limit = std::int64_t(Intake::itemLimit);
    const std::int64_t room = std::max<std::int64_t>(0, limit - std::int64_t(library.media().size()));
    if (room >= pages) return true;
    intake().raiseCapacityAlert("\u201C" + name + "\u201D has " + std::to_string(pages) +
                                " slides and this project only has room for " + std::to_string(room) +
                                " more \u2014 a project holds up to " + std::to_string(limit) + " media items.");
    return false;
}

void AppState::routeDeck(const std::string& pdf, const std::optional<std::string>& into) {
    const auto counted = SlideImport::pageCount(pdf);
    const int pages = std::holds_alternative<int>(counted) ? std::get<int>(counted) : 0;
    const std::string name = SlideImport::deckName(pdf);
    if (pages >= 2 && into) {
        for (const Group& g : library.groups())
            if (g.id == *into) {
                pendingDeckImports_.push_back({makeUuid(), pdf, pages, name, g.id, g.name});
                importsChanged();
                return;
            }
    }
    importDeck(pdf, name, pages == 1 ? into : std::nullopt, false);
}

void AppState::importDeck(const std::string& pdf, const std::string& name, const std::optional<std::string>& into,
                          bool deleteSource, DeckDone onFinish) {
    const StageConfig stage = program.state().stage;
    auto deck = std::make_shared<DeckImport>(DeckImport{pdf, name, into, deleteSource, std::move(onFinish), stage,
                                                        workFolder("deck"), {}});
    importPool().submit([this, toMain = onMainWhileAlive(), deck] {
        auto counted = SlideImport::pageCount(deck->pdf);
        toMain([this, toMain, deck, counted = std::move(counted)] {
            if (const auto* failure = std::get_if<SlideImport::Failure>(&counted))
                return finishDeck(deck, failure->description(), true);
            if (!hasRoomForDeck(std::get<int>(counted), deck->name)) return finishDeck(deck, std::nullopt, false);
            importPool().submit([this, toMain, deck] {
                std::error_code ec;
                fs::create_directories(deck->work, ec);
                auto pages = SlideImport::rasterize(deck->pdf, deck->name, deck->stage, deck->work);
                toMain([this, deck, pages = std::move(pages)] {
                    if (const auto* failure = std::get_if<SlideImport::Failure>(&pages))
                        return finishDeck(deck, failure->description(), true);
                    deck->pages = std::get<std::vector<fs::path>>(pages);
                    ingestDeckPage(deck, 0);
                });
            });
        });
    });
}

// Pages go in one after another, each ingest awaited, so they enter the playlist in page order.
void AppState::ingestDeckPage(std::shared_ptr<DeckImport> deck, size_t index) {
    if (index == deck->pages.size()) {
        selectDeckPlaylist(*deck);
        return finishDeck(deck, std::nullopt, false);
    }
    UploadIngestRequest request;
    request.tempPath = deck->pages[index].string();
    request.originalFilename = deck->pages[index].filename().string();
    request.playlistId = deck->into;
    if (!deck->into) request.newPlaylistName = deck->name;
    request.origin = MediaOrigin::local;
    ingestUploadedFile(std::move(request), [this, deck, index](UploadIngestResult r) {
        if (r.ok) return ingestDeckPage(deck, index + 1);
        // The rest of the deck is not taken in; the failure is the operator's to see and the caller's to know.
        // The pages that went in are in the deck's playlist, which is shown as after a whole deck.
        IssueLog::shared().report(IssueCode::slidesImportFailed, deck->name, r.message, true);
        selectDeckPlaylist(*deck);
        finishDeck(deck, r.message, false);
    });
}

void AppState::selectDeckPlaylist(const DeckImport& deck) {
    std::optional<std::string> playlistId = deck.into;
    if (!playlistId)
        for (const Group& g : library.groups())
            if (sameIgnoringCase(g.name, deck.name)) {
                playlistId = g.id;
                break;
            }
    if (!playlistId) return;
    const auto& sel = selection();
    const SidebarItem target = SidebarItem::playlist(*playlistId);
    if (!sel.empty() && !sel.count(SidebarItem::allPlaylists()) && !sel.count(target)) setSelection({target});
}

void AppState::finishDeck(const std::shared_ptr<DeckImport>& deck, std::optional<std::string> error, bool report) {
    removeQuietly(deck->work);
    if (error && report && !deck->onFinish)
        IssueLog::shared().report(IssueCode::slidesImportFailed, fs::path(deck->pdf).filename().string(), *error, true);
    if (deck->onFinish) deck->onFinish(std::move(error));
    if (deck->deleteSource) {
        std::error_code ec;
        fs::remove(deck->pdf, ec);
    }
}

void AppState::importSlides(const std::string& link, DeckDone onFinish) {
    SlideImport::DownloadOptions options;
    options.origin = slidesOrigin;
    options.stop = &importPool().stopFlag();
    importPool().submit([this, toMain = onMainWhileAlive(), link, options, onFinish = std::move(onFinish)] {
        auto downloaded = SlideImport::downloadDeck(link, options);
        toMain([this, downloaded = std::move(downloaded), onFinish] {
            if (const auto* failure = std::get_if<SlideImport::Failure>(&downloaded)) {
                if (onFinish) onFinish(failure->description());
                return;
            }
            const auto& d = std::get<SlideImport::Download>(downloaded);
            importDeck(d.file.string(), d.title.value_or(SlideImport::deckName(d.file)), std::nullopt, true, onFinish);
        });
    });
}

}  // namespace ombry
