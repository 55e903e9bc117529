// The packaging self-test's checks and report over trees made for each case.
#include <gtest/gtest.h>

#include <functional>

#include "App/SelfTest.hpp"
#include "support/TestEnv.hpp"

namespace ombry::selftest {
namespace {

namespace fs = std::filesystem;

// A complete installed tree: <prefix>/share/ombry with every resource the checks name.
Tree completeTree() {
    const fs::path prefix = fs::canonical(test::tempDir("prefix"));
    const fs::path root = prefix / "share/ombry";
    test::writeFile(root / "OutputBundle/index.html", "<html></html>");
    for (const char* s : {"stageQuadVertex.glsl", "stageTexturedFragment.glsl", "stageSolidFragment.glsl",
                          "stagePresentFragment.glsl", "ndiUYVYFragment.glsl", "ndiAlphaFragment.glsl",
                          "ndiStraightAlphaFragment.glsl"})
        test::writeFile(root / "shaders" / s, "void main() {}");
    test::writeFile(root / "UploadPage/upload.html", "<html></html>");
    test::writeFile(root / "app-info.json", R"({"feedURL": "", "publicEDKey": "key"})");
    const fs::path runtime = test::tempDir("runtime");
    return {prefix, root, runtime};
}

TEST(SelfTest, ACompleteTreePrintsNineOkLinesAndPasses) {
    const Tree tree = completeTree();
    const auto checks = run(tree);
    EXPECT_EQ(report(tree, checks), (std::vector<std::string>{
                                        "self-test: " + tree.appPath.string(),
                                        "  ok    resource bundle is inside the app",
                                        "  ok    OutputBundle",
                                        "  ok    shaders",
                                        "  ok    UploadPage/upload.html",
                                        "  ok    frame-sharing folder is usable",
                                        "  ok    NDI conversion shaders",
                                        "  ok    app-info.json embedded",
                                        "  ok    feedURL set",
                                        "  ok    publicEDKey set",
                                        "self-test passed",
                                    }));
    EXPECT_EQ(exitStatus(checks), 0);
}

TEST(SelfTest, EachMissingPieceFailsItsOwnLines) {
    struct Case {
        const char* what;
        std::function<void(Tree&)> breakIt;
        std::vector<std::string> failed;
    };
    const std::vector<Case> cases{
        {"upload page removed", [](Tree& t) { fs::remove(t.resourceRoot / "UploadPage/upload.html"); },
         {"UploadPage/upload.html"}},
        {"a shader removed", [](Tree& t) { fs::remove(t.resourceRoot / "shaders/stagePresentFragment.glsl"); },
         {"shaders"}},
        {"output page folder without its page", [](Tree& t) { fs::remove(t.resourceRoot / "OutputBundle/index.html"); },
         {"OutputBundle"}},
        {"NDI shaders removed", [](Tree& t) { fs::remove(t.resourceRoot / "shaders/ndiUYVYFragment.glsl"); },
         {"NDI conversion shaders"}},
        {"no runtime folder", [](Tree& t) { t.runtimeDir = t.runtimeDir / "missing"; }, {"frame-sharing folder is usable"}},
        {"feed address a number",
         [](Tree& t) { test::writeFile(t.resourceRoot / "app-info.json", R"({"feedURL": 5, "publicEDKey": ""})"); },
         {"feedURL set"}},
        {"no key", [](Tree& t) { test::writeFile(t.resourceRoot / "app-info.json", R"({"feedURL": "x"})"); },
         {"publicEDKey set"}},
        {"app-info.json unreadable", [](Tree& t) { test::writeFile(t.resourceRoot / "app-info.json", "{"); },
         {"app-info.json embedded", "feedURL set", "publicEDKey set"}},
        {"no resources at all", [](Tree& t) { t.resourceRoot.clear(); },
         {"resource bundle is inside the app", "OutputBundle", "shaders", "UploadPage/upload.html",
          "NDI conversion shaders", "app-info.json embedded", "feedURL set", "publicEDKey set"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Tree tree = completeTree();
        c.breakIt(tree);
        const auto checks = run(tree);
        const auto lines = report(tree, checks);
        ASSERT_EQ(lines.size(), 11u) << "all nine lines always print";
        std::vector<std::string> failed;
        for (const auto& check : checks)
            if (!check.passed) failed.push_back(check.name);
        EXPECT_EQ(failed, c.failed);
        std::string summary = "self-test FAILED (" + std::to_string(c.failed.size()) + "): ";
        for (std::size_t i = 0; i < c.failed.size(); ++i) summary += (i ? ", " : "") + c.failed[i];
        EXPECT_EQ(lines.back(), summary);
        for (std::size_t i = 0; i < checks.size(); ++i)
            EXPECT_EQ(lines[i + 1].substr(0, 8), checks[i].passed ? "  ok    " : "  FAIL  ");
        EXPECT_EQ(exitStatus(checks), 1);
    }
}

TEST(SelfTest, ResourcesOutsideTheAppFailTheFirstCheckWithTheirPath) {
    Tree tree = completeTree();
    // The build tree's fallback: a resource folder that lies elsewhere, reached through a link.
    const fs::path elsewhere = test::tempDir("elsewhere");
    fs::rename(tree.resourceRoot, elsewhere / "resources");
    fs::create_directory_symlink(elsewhere / "resources", tree.resourceRoot);
    const auto checks = run(tree);
    const auto lines = report(tree, checks);
    EXPECT_EQ(lines[1], "  FAIL  resource bundle is inside the app \u2014 " + fs::canonical(elsewhere / "resources").string());
    EXPECT_EQ(lines[2], "  ok    OutputBundle") << "the other checks still read that folder";
    EXPECT_EQ(lines.back(), "self-test FAILED (1): resource bundle is inside the app");
}

}  // namespace
}  // namespace ombry::selftest
