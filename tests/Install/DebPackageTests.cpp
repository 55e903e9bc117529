// The Debian package `cpack -G DEB` made of this build (the deb_package fixture): its control fields,
// its declared dependencies against what the executable links, and the tree `dpkg -x` unpacks from it,
// which must be the install tree, self-test and carry valid desktop files.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <regex>
#include <set>

#include "Shell.hpp"
#include "support/TestEnv.hpp"

namespace ombry {
namespace {

namespace fs = std::filesystem;

using test::quoted;
using test::sh;

std::string trimmed(std::string s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.pop_back();
    return s;
}

fs::path debFile() {
    const std::string arch = trimmed(sh("dpkg --print-architecture").text);
    return fs::path(OMBRY_DEB_DIR) / ("ombry_" OMBRY_VERSION "_" + arch + ".deb");
}

std::string field(const std::string& name) { return trimmed(sh("dpkg-deb -f " + quoted(debFile()) + " " + name).text); }

// The package names of a Depends field, without versions or alternatives' operators.
std::set<std::string> dependedOn(const std::string& depends) {
    std::set<std::string> names;
    static const std::regex name(R"((?:^|[,|])\s*([a-z0-9][a-z0-9+.-]+))");
    for (auto it = std::sregex_iterator(depends.begin(), depends.end(), name); it != std::sregex_iterator(); ++it)
        names.insert((*it)[1]);
    return names;
}

// Every regular file and symlink under root, as paths relative to it.
std::set<std::string> filesUnder(const fs::path& root) {
    std::set<std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (!e.is_directory()) files.insert(fs::relative(e.path(), root).string());
    return files;
}

TEST(DebPackage, IsNamedAndDescribedForDebian) {
    ASSERT_TRUE(fs::exists(debFile())) << debFile() << " was not built";
    EXPECT_EQ(field("Package"), "ombry");
    EXPECT_EQ(field("Version"), OMBRY_VERSION);
    EXPECT_EQ(field("Architecture"), trimmed(sh("dpkg --print-architecture").text));
    EXPECT_EQ(field("Section"), "video");
    EXPECT_EQ(field("Description").substr(0, 31), "Run the playback of live shows\n");
    EXPECT_FALSE(field("Maintainer").empty());
}

// Each library the executable names is provided by a package the .deb depends on; the pieces Qt and the
// windows load at run time are declared too.
TEST(DebPackage, DependsOnEveryLinkedLibraryAndTheRuntimePlugins) {
    ASSERT_TRUE(fs::exists(debFile()));
    const auto depends = dependedOn(field("Depends"));
    for (const char* runtime : {"qt6-qpa-plugins", "fonts-material-design-icons-iconfont", "libegl1", "libgl1"})
        EXPECT_TRUE(depends.count(runtime)) << runtime;

    const fs::path exe = fs::path(OMBRY_BUILD_DIR) / "src/ombry";
    std::map<std::string, std::string> resolved;  // soname → path, as the loader finds it
    static const std::regex ldd(R"(^\s*(\S+) => (/\S+))");
    for (const auto& l : sh("ldd " + quoted(exe)).lines())
        if (std::smatch m; std::regex_search(l, m, ldd)) resolved[m[1]] = m[2];
    static const std::regex needed(R"(\(NEEDED\)\s+Shared library: \[(.+)\])");
    std::vector<std::string> sonames;
    for (const auto& l : sh("readelf -d " + quoted(exe)).lines())
        if (std::smatch m; std::regex_search(l, m, needed)) sonames.push_back(m[1]);
    ASSERT_GT(sonames.size(), 10u);
    // dpkg records a library under /usr/lib or /lib; the loader may name either. One query for all.
    std::string query = "dpkg -S";
    for (const auto& soname : sonames) {
        ASSERT_TRUE(resolved.count(soname)) << soname;
        const std::string path = fs::canonical(resolved[soname]).string();
        resolved[soname] = path;
        query += " " + test::quoted(path);
        if (path.rfind("/usr/", 0) == 0) query += " " + test::quoted(path.substr(4));
    }
    std::map<std::string, std::string> owners;  // path → package
    static const std::regex owner(R"(^([^:,\s]+)[^ ]*: (/\S+)$)");
    for (const auto& l : sh(query + " 2>/dev/null").lines())
        if (std::smatch m; std::regex_search(l, m, owner)) owners[m[2]] = m[1];
    for (const auto& soname : sonames) {
        SCOPED_TRACE(soname);
        const std::string& path = resolved[soname];
        auto it = owners.find(path);
        if (it == owners.end() && path.rfind("/usr/", 0) == 0) it = owners.find(path.substr(4));
        ASSERT_NE(it, owners.end()) << path << " belongs to no package";
        EXPECT_TRUE(depends.count(it->second)) << it->second << " is not in Depends: " << field("Depends");
    }
}

class UnpackedPackage : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(fs::exists(debFile()));
        root = fs::canonical(test::tempDir("root"));
        const auto unpacked = sh("dpkg -x " + quoted(debFile()) + " " + quoted(root) + " 2>&1");
        ASSERT_EQ(unpacked.status, 0) << unpacked.text;
    }
    fs::path root;
};

TEST_F(UnpackedPackage, HoldsTheInstallTreeUnderUsrStripped) {
    std::set<std::string> top;
    for (const auto& e : fs::directory_iterator(root)) top.insert(e.path().filename().string());
    EXPECT_EQ(top, std::set<std::string>{"usr"});

    const fs::path prefix = fs::canonical(test::tempDir("prefix"));
    const auto installed =
        sh(std::string(OMBRY_CMAKE) + " --install " + quoted(OMBRY_BUILD_DIR) + " --prefix " + quoted(prefix) + " 2>&1");
    ASSERT_EQ(installed.status, 0) << installed.text;
    const auto files = filesUnder(root / "usr");
    EXPECT_EQ(files, filesUnder(prefix));
    for (const char* f : {"bin/ombry", "share/applications/com.dovel.Ombry.desktop",
                          "share/metainfo/com.dovel.Ombry.metainfo.xml", "share/mime/packages/ombry.xml",
                          "share/icons/hicolor/scalable/apps/com.dovel.Ombry.svg", "share/ombry/app-info.json",
                          "share/ombry/OutputBundle/index.html", "share/ombry/UploadPage/upload.html"})
        EXPECT_TRUE(files.count(f)) << f;

    const auto sections = sh("readelf -S " + quoted(root / "usr/bin/ombry"));
    ASSERT_EQ(sections.status, 0);
    EXPECT_EQ(sections.text.find(".debug_info"), std::string::npos);
    EXPECT_EQ(fs::status(root / "usr/bin/ombry").permissions() & fs::perms::all,
              fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read |
                  fs::perms::others_exec);
}

TEST_F(UnpackedPackage, SelfTestsAndCarriesValidDesktopFiles) {
    const fs::path exe = root / "usr/bin/ombry";
    auto out = sh(quoted(exe) + " --selftest 2>&1");
    ASSERT_FALSE(out.lines().empty());
    EXPECT_EQ(out.lines().front(), "self-test: " + (root / "usr").string());
    EXPECT_EQ(out.lines().back(), "self-test passed") << out.text;
    EXPECT_EQ(out.status, 0);

    out = sh(quoted(exe) + " --version");
    ASSERT_FALSE(out.lines().empty());
    EXPECT_EQ(out.lines().front(), "Ombry " OMBRY_VERSION);

    out = sh("desktop-file-validate " + quoted(root / "usr/share/applications/com.dovel.Ombry.desktop") + " 2>&1");
    EXPECT_EQ(out.status, 0) << out.text;
    EXPECT_EQ(out.text, "");
    out = sh("appstreamcli validate --no-net " + quoted(root / "usr/share/metainfo/com.dovel.Ombry.metainfo.xml") +
             " 2>&1");
    EXPECT_EQ(out.status, 0) << out.text;
}

}  // namespace
}  // namespace ombry
