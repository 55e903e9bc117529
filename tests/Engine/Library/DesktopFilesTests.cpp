#include <gtest/gtest.h>

#include <cstdlib>

#include "Platform/Paths.hpp"
#include "support/TestEnv.hpp"

namespace fs = std::filesystem;

namespace {
bool haveTool(const std::string& tool) {
    return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}
int run(const std::string& cmd) { return WEXITSTATUS(std::system((cmd + " >/dev/null 2>&1").c_str())); }
}  // namespace

TEST(DesktopFiles, DesktopEntryIsValid) {
    if (!haveTool("desktop-file-validate")) GTEST_SKIP() << "desktop-file-validate not installed";
    const fs::path entry = ombry::paths::resource("linux/com.dovel.Ombry.desktop");
    ASSERT_FALSE(entry.empty());
    EXPECT_EQ(run("desktop-file-validate '" + entry.string() + "'"), 0);
    EXPECT_NE(ombry::test::readFile(entry).find("MimeType=application/x-ombry-project;"), std::string::npos);
}

TEST(DesktopFiles, MimeTypeMapsTheProjectExtension) {
    const fs::path xml = ombry::paths::resource("linux/ombry.xml");
    ASSERT_FALSE(xml.empty());
    if (haveTool("xmllint")) {
        EXPECT_EQ(run("xmllint --noout '" + xml.string() + "'"), 0);
    }
    if (!haveTool("update-mime-database")) GTEST_SKIP() << "update-mime-database not installed";
    // Build a private MIME database from our package alone and look the glob up in it.
    const fs::path db = ombry::test::tempDir("mime");
    fs::create_directories(db / "packages");
    fs::copy_file(xml, db / "packages" / "ombry.xml");
    ASSERT_EQ(run("update-mime-database '" + db.string() + "'"), 0);
    EXPECT_NE(ombry::test::readFile(db / "globs2").find("application/x-ombry-project:*.ombry"), std::string::npos);
}
