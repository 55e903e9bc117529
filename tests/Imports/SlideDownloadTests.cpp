#include <gtest/gtest.h>

#include <atomic>

#include "Engine/Intake/SlideImport.hpp"
#include "Engine/Library/Store.hpp"
#include "LoopbackHttp.hpp"
#include "support/TestEnv.hpp"

using namespace ombry;
using ombry::test::LoopbackServer;
namespace fs = std::filesystem;

namespace {

const std::string kId = "1AbC-xyz_0123456789abcdef";
const std::string kLink = "https://docs.google.com/presentation/d/" + kId + "/edit#slide=id.p";
const std::string kPdf = "%PDF-1.4\n% a deck's bytes\n%%EOF\n";

LoopbackServer::Answer pdf(std::string extraHeaders = {}) {
    return {"HTTP/1.1 200 OK\r\nContent-Type: application/pdf" + extraHeaders, kPdf, false};
}

std::vector<fs::path> filesIn(const fs::path& dir) {
    std::vector<fs::path> out;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec)) out.push_back(e.path());
    return out;
}

struct SlideDownload : ::testing::Test {
    fs::path into = test::tempDir("incoming");
    SlideImport::DownloadOptions options(const LoopbackServer& server) {
        SlideImport::DownloadOptions o;
        o.origin = server.origin();
        o.into = into;
        return o;
    }
};

}  // namespace

TEST_F(SlideDownload, StatusAndBodyMapToFailures) {
    using F = SlideImport::Failure;
    struct Case {
        const char* what;
        LoopbackServer::Answer answer;
        F failure;
    };
    const Case cases[] = {
        {"401", {"HTTP/1.1 401 Unauthorized\r\nContent-Type: text/html", "<html>sign in</html>"}, F::of(F::Kind::notShared)},
        {"403", {"HTTP/1.1 403 Forbidden\r\nContent-Type: text/html", "no"}, F::of(F::Kind::notShared)},
        {"404", {"HTTP/1.1 404 Not Found\r\nContent-Type: text/html", "gone"}, F::of(F::Kind::notFound)},
        {"404 without a body", {"HTTP/1.1 404 Not Found", ""}, F::of(F::Kind::notFound)},
        {"500", {"HTTP/1.1 500 Internal Server Error", "oops"}, F::downloadFailed("the server answered 500")},
        {"a sign-in page with 200", {"HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8", "<!doctype html>"},
         F::of(F::Kind::notShared)},
        {"a PDF type over another body", {"HTTP/1.1 200 OK\r\nContent-Type: application/pdf", "<html>"}, F::of(F::Kind::notShared)},
        {"PDF bytes under another type", {"HTTP/1.1 200 OK\r\nContent-Type: text/plain", kPdf}, F::of(F::Kind::notShared)},
        {"an empty PDF answer", {"HTTP/1.1 200 OK\r\nContent-Type: application/pdf", ""}, F::of(F::Kind::notShared)},
        {"three bytes", {"HTTP/1.1 200 OK\r\nContent-Type: application/pdf", "%PD"}, F::of(F::Kind::notShared)},
    };
    for (const Case& c : cases) {
        LoopbackServer server([&](const std::string&) { return c.answer; });
        const auto r = SlideImport::downloadDeck(kLink, options(server));
        ASSERT_TRUE(std::holds_alternative<F>(r)) << c.what;
        EXPECT_EQ(std::get<F>(r), c.failure) << c.what;
        EXPECT_TRUE(filesIn(into).empty()) << c.what;
    }
    EXPECT_EQ(F::downloadFailed("the server answered 500").description(), "Couldn't download the deck: the server answered 500");
}

TEST_F(SlideDownload, ThePdfExportLandsInItsOwnFile) {
    LoopbackServer server([](const std::string& path) {
        if (path == "/moved") return pdf("\r\nContent-Disposition: attachment; filename=\"Quarterly Review.pdf\"");
        return LoopbackServer::Answer{"HTTP/1.1 302 Found\r\nLocation: /moved", ""};
    });
    const auto r = SlideImport::downloadDeck(kLink, options(server));
    ASSERT_TRUE(std::holds_alternative<SlideImport::Download>(r)) << std::get<SlideImport::Failure>(r).description();
    const auto& d = std::get<SlideImport::Download>(r);
    EXPECT_EQ(server.paths().front(), "/presentation/d/" + kId + "/export/pdf");
    EXPECT_EQ(d.title, "Quarterly Review");
    EXPECT_EQ(d.file.parent_path(), into);
    const std::string name = d.file.filename().string();
    EXPECT_EQ(name.rfind("slides-", 0), 0u);
    EXPECT_EQ(name.size(), std::string("slides-").size() + 36 + 4);
    EXPECT_EQ(test::readFile(d.file), kPdf);

    // Without a suggested name the title is absent (the export path's last part is "pdf"); every download
    // gets a file of its own; the RFC 5987 name wins over the plain one.
    const std::pair<std::string, std::optional<std::string>> titles[] = {
        {"", std::nullopt},
        {"\r\nContent-Disposition: attachment; filename=\"x.pdf\"; filename*=UTF-8''Caf%C3%A9%20Deck.pdf", "Caf\u00E9 Deck"},
        {"\r\nContent-Disposition: attachment; filename=Unknown.pdf", std::nullopt},
    };
    std::set<fs::path> files{d.file};
    for (const auto& [headers, title] : titles) {
        LoopbackServer plain([&](const std::string&) { return pdf(headers); });
        const auto again = SlideImport::downloadDeck(kId, options(plain));
        ASSERT_TRUE(std::holds_alternative<SlideImport::Download>(again));
        EXPECT_EQ(std::get<SlideImport::Download>(again).title, title) << headers;
        files.insert(std::get<SlideImport::Download>(again).file);
    }
    EXPECT_EQ(files.size(), 4u);
    EXPECT_EQ(filesIn(into).size(), 4u);
}

TEST_F(SlideDownload, NoLinkNoRequest) {
    LoopbackServer server([](const std::string&) { return pdf(); });
    const auto r = SlideImport::downloadDeck("https://example.com/not/a/deck", options(server));
    ASSERT_TRUE(std::holds_alternative<SlideImport::Failure>(r));
    EXPECT_EQ(std::get<SlideImport::Failure>(r).kind, SlideImport::Failure::Kind::notASlidesURL);
    EXPECT_TRUE(server.paths().empty());
}

TEST_F(SlideDownload, LimitsEndTheDownloadAndDeleteThePartialFile) {
    // Larger than the cap: ended once the cap is passed, the bytes so far deleted.
    const std::string big = "%PDF" + std::string(64 * 1024, 'x');
    LoopbackServer large([&](const std::string&) { return LoopbackServer::Answer{"HTTP/1.1 200 OK\r\nContent-Type: application/pdf", big}; });
    auto o = options(large);
    o.maxBytes = 16 * 1024;
    auto r = SlideImport::downloadDeck(kLink, o);
    ASSERT_TRUE(std::holds_alternative<SlideImport::Failure>(r));
    EXPECT_EQ(std::get<SlideImport::Failure>(r).kind, SlideImport::Failure::Kind::downloadFailed);
    EXPECT_TRUE(filesIn(into).empty());
    EXPECT_EQ(SlideImport::DownloadOptions{}.maxBytes, std::int64_t(1) << 30);

    // A server that sends part of a deck and then nothing: the overall limit ends it.
    LoopbackServer stalling([&](const std::string&) {
        return LoopbackServer::Answer{"HTTP/1.1 200 OK\r\nContent-Type: application/pdf\r\nContent-Length: 100000", "%PDF-1.4 part", true};
    });
    o = options(stalling);
    o.timeLimit = 0.3;
    r = SlideImport::downloadDeck(kLink, o);
    ASSERT_TRUE(std::holds_alternative<SlideImport::Failure>(r));
    EXPECT_EQ(std::get<SlideImport::Failure>(r).kind, SlideImport::Failure::Kind::downloadFailed);
    EXPECT_FALSE(std::get<SlideImport::Failure>(r).text.empty());
    EXPECT_TRUE(filesIn(into).empty());

    // Stopping (the application going away) ends it the same way.
    std::atomic<bool> stop{true};
    o = options(stalling);
    o.stop = &stop;
    r = SlideImport::downloadDeck(kLink, o);
    ASSERT_TRUE(std::holds_alternative<SlideImport::Failure>(r));
    EXPECT_EQ(std::get<SlideImport::Failure>(r), SlideImport::Failure::downloadFailed("the download was cancelled"));
    EXPECT_TRUE(filesIn(into).empty());

    // Nothing listening: the transport's own description.
    const std::string closedOrigin = [] {
        LoopbackServer gone([](const std::string&) { return pdf(); });
        return gone.origin();
    }();
    o = {};
    o.origin = closedOrigin;
    o.into = into;
    r = SlideImport::downloadDeck(kLink, o);
    ASSERT_TRUE(std::holds_alternative<SlideImport::Failure>(r));
    EXPECT_EQ(std::get<SlideImport::Failure>(r).kind, SlideImport::Failure::Kind::downloadFailed);
    EXPECT_TRUE(filesIn(into).empty());
}
