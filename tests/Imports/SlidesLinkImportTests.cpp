// A shared deck link through the application state: downloaded from a loopback server, imported into the
// playlist of its title, the PDF removed; a failed download handed to the caller.
#include "LoopbackHttp.hpp"
#include "SequenceDeckImportFixture.hpp"

using namespace ombry;
using namespace ombry::app_test;

TEST_F(SequenceDeckImportTest, ASharedLinkIsDownloadedImportedAndItsPdfRemoved) {
    start();
    const std::string pdf = test::pdfBytes(std::vector<test::PdfPage>(2, test::PdfPage{64, 48}));
    test::LoopbackServer server([&](const std::string& path) {
        if (path.find("missing") != std::string::npos) return test::LoopbackServer::Answer{"HTTP/1.1 404 Not Found", ""};
        return test::LoopbackServer::Answer{
            "HTTP/1.1 200 OK\r\nContent-Type: application/pdf\r\nContent-Disposition: attachment; filename=\"Quarterly Review.pdf\"",
            pdf};
    });
    app->slidesOrigin = server.origin();
    std::vector<std::optional<std::string>> done;
    app->importSlides("https://docs.google.com/presentation/d/1AbC-xyz_0123456789abcdef/edit",
                      [&](std::optional<std::string> e) { done.push_back(e); });
    ASSERT_TRUE(q.waitUntil([&] { return !done.empty(); }, 60.0));
    q.runPending();
    EXPECT_EQ(done, std::vector<std::optional<std::string>>{std::nullopt});
    ASSERT_TRUE(group(*app, "Quarterly Review"));
    EXPECT_EQ(group(*app, "Quarterly Review")->mediaIds.size(), 2u);
    EXPECT_TRUE(entries(Store::mediaIncomingDir()).empty()) << "the downloaded PDF is removed";

    done.clear();
    app->importSlides("https://docs.google.com/presentation/d/missing-deck-0123456789/edit",
                      [&](std::optional<std::string> e) { done.push_back(e); });
    ASSERT_TRUE(q.waitUntil([&] { return !done.empty(); }, 60.0));
    q.runPending();
    EXPECT_EQ(done, std::vector<std::optional<std::string>>{
                        "There's no Google Slides deck at that link. Check the URL, or the deck may have been deleted."});
    EXPECT_TRUE(entries(Store::mediaIncomingDir()).empty());
    EXPECT_FALSE(issue(IssueCode::slidesImportFailed)) << "the caller shows link failures";
}
