// The installed tree: this build installed into a temporary prefix, then its command line, its self-test
// and its desktop files checked as a packager would.
#include <gtest/gtest.h>

#include <filesystem>

#include "Shell.hpp"
#include "support/TestEnv.hpp"

namespace ombry {
namespace {

namespace fs = std::filesystem;

using test::quoted;
using test::sh;

class InstalledTree : public ::testing::Test {
protected:
    void SetUp() override {
        prefix = fs::canonical(ombry::test::tempDir("prefix"));
        const auto installed = sh(std::string(OMBRY_CMAKE) + " --install " + quoted(OMBRY_BUILD_DIR) + " --prefix " +
                                  quoted(prefix) + " 2>&1");
        ASSERT_EQ(installed.status, 0) << installed.text;
        exe = prefix / "bin/ombry";
    }
    fs::path prefix, exe;
};

const std::vector<std::string> okLines{
    "  ok    resource bundle is inside the app",
    "  ok    OutputBundle",
    "  ok    shaders",
    "  ok    UploadPage/upload.html",
    "  ok    frame-sharing folder is usable",
    "  ok    NDI conversion shaders",
    "  ok    app-info.json embedded",
    "  ok    feedURL set",
    "  ok    publicEDKey set",
};

TEST_F(InstalledTree, SelfTestPassesAndFailsOnAMissingUploadPage) {
    auto out = sh(quoted(exe) + " --selftest");
    std::vector<std::string> want{"self-test: " + prefix.string()};
    want.insert(want.end(), okLines.begin(), okLines.end());
    want.push_back("self-test passed");
    EXPECT_EQ(out.lines(), want);
    EXPECT_EQ(out.status, 0);

    fs::remove(prefix / "share/ombry/UploadPage/upload.html");
    out = sh(quoted(exe) + " --selftest");
    ASSERT_EQ(out.lines().size(), 11u) << out.text;
    EXPECT_EQ(out.lines()[4], "  FAIL  UploadPage/upload.html");
    EXPECT_EQ(out.lines().back(), "self-test FAILED (1): UploadPage/upload.html");
    EXPECT_EQ(out.status, 1);
}

TEST_F(InstalledTree, SelfTestOfTheBuildTreeNamesTheSourceFolderItFellBackTo) {
    const auto out = sh(quoted(fs::path(OMBRY_BUILD_DIR) / "src/ombry") + " --selftest");
    ASSERT_EQ(out.lines().size(), 11u) << out.text;
    EXPECT_EQ(out.lines()[1], "  FAIL  resource bundle is inside the app \u2014 " +
                                  fs::canonical(fs::path(OMBRY_SOURCE_DIR) / "resources").string());
    EXPECT_EQ(out.status, 1);
}

TEST_F(InstalledTree, CommandLine) {
    struct Case {
        std::string args;
        int status;
        std::string firstLine;
    };
    for (const Case& c : std::vector<Case>{
             {"--version", 0, "Ombry " OMBRY_VERSION},
             {"--help", 0, "Usage: ombry [options] [project.ombry]"},
             {"--frobnicate 2>&1", 2, "Unknown option \"--frobnicate\": see ombry --help."},
             {"show.ombry 2>&1", 1,
              "Ombry needs a graphical desktop session: no display was found (DISPLAY is not set)."},
         }) {
        SCOPED_TRACE(c.args);
        const auto out = sh(quoted(exe) + " " + c.args);
        EXPECT_EQ(out.status, c.status);
        ASSERT_FALSE(out.lines().empty());
        EXPECT_EQ(out.lines().front(), c.firstLine);
    }
}

TEST_F(InstalledTree, DesktopFilesAreValid) {
    const fs::path entry = prefix / "share/applications/com.dovel.Ombry.desktop";
    ASSERT_TRUE(fs::exists(entry));
    const std::string text = ombry::test::readFile(entry);
    EXPECT_NE(text.find("\nExec=ombry %f\n"), std::string::npos);
    EXPECT_NE(text.find("\nIcon=com.dovel.Ombry\n"), std::string::npos);
    EXPECT_NE(text.find("MimeType=application/x-ombry-project;"), std::string::npos);
    EXPECT_TRUE(fs::exists(prefix / "share/icons/hicolor/scalable/apps/com.dovel.Ombry.svg"));
    EXPECT_TRUE(fs::exists(prefix / "share/mime/packages/ombry.xml"));
    auto out = sh("desktop-file-validate " + quoted(entry) + " 2>&1");
    EXPECT_EQ(out.status, 0) << out.text;
    EXPECT_EQ(out.text, "");
    out = sh("appstreamcli validate --no-net " + quoted(prefix / "share/metainfo/com.dovel.Ombry.metainfo.xml") + " 2>&1");
    EXPECT_EQ(out.status, 0) << out.text;
}

}  // namespace
}  // namespace ombry
