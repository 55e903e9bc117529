// Names, destinations, manifests, content hashes and the upload sink of the ingest path.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cctype>
#include <system_error>

#include "Engine/Intake/ContentHash.hpp"
#include "Engine/Intake/MediaIngest.hpp"
#include "Engine/Model/TextBytes.hpp"
#include "Engine/Intake/UploadSink.hpp"
#include "support/TestEnv.hpp"

using namespace ombry;
namespace fs = std::filesystem;

namespace {

struct SanitizeCase {
    std::string raw;
    std::string expected;
    // Failure messages show the bytes escaped.
    friend void PrintTo(const SanitizeCase& c, std::ostream* os) {
        *os << ::testing::PrintToString(c.raw) << " -> " << ::testing::PrintToString(c.expected);
    }
};

// "03_hidden_mp4": the case's place and its expected name in letters and digits, stable for -R.
std::string caseName(const ::testing::TestParamInfo<SanitizeCase>& info) {
    std::string name = (info.index < 10 ? "0" : "") + std::to_string(info.index) + "_";
    for (char ch : info.param.expected)
        name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
    return name;
}

class Sanitize : public ::testing::TestWithParam<SanitizeCase> {};

TEST_P(Sanitize, GivesTheSafeName) { EXPECT_EQ(MediaIngest::sanitizedFilename(GetParam().raw), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Cases, Sanitize,
    ::testing::Values(SanitizeCase{"", "upload"}, SanitizeCase{"   ", "upload"}, SanitizeCase{"\t", "upload"},
                      SanitizeCase{"C:\\Users\\me\\.hidden.mp4", "hidden.mp4"}, SanitizeCase{"a:b/c.mov", "c.mov"},
                      SanitizeCase{"a:b.mov", "ab.mov"}, SanitizeCase{".mp4", "mp4"},
                      SanitizeCase{"clip\n2.mp4", "clip2.mp4"}, SanitizeCase{"\u200Fclip.mp4", "clip.mp4"},
                      SanitizeCase{"  ..clip.mp4 \t", "clip.mp4"}, SanitizeCase{"dir/", "dir"}, SanitizeCase{"/", "upload"},
                      SanitizeCase{"\\\\server\\share\\a b.MOV", "a b.MOV"}, SanitizeCase{"...", "upload"},
                      SanitizeCase{"x\x01y\x7F.png", "xy.png"},
                      // What one step uncovers the next takes off: no trailing blank or dot, no hidden name.
                      SanitizeCase{"a .", "a"}, SanitizeCase{"clip .mp4 .", "clip.mp4"}, SanitizeCase{"a..", "a"},
                      SanitizeCase{"a. mp4", "a.mp4"}, SanitizeCase{". .mov", "upload.mov"},
                      SanitizeCase{".\u0301x.png", "\u0301x.png"},
                      // Not UTF-8: the stray byte becomes U+FFFD, so the name can go into the project.
                      SanitizeCase{"bad\xFFname.mp4", "bad\uFFFDname.mp4"}),
    caseName);

TEST(SanitizeLength, AsciiStemIsCutTo200BytesKeepingTheExtension) {
    EXPECT_EQ(MediaIngest::sanitizedFilename(std::string(300, 'a') + ".mp4"), std::string(200, 'a') + ".mp4");
    EXPECT_EQ(MediaIngest::sanitizedFilename(std::string(200, 'a') + ".mp4"), std::string(200, 'a') + ".mp4");
}

TEST(SanitizeLength, MultiByteStemIsCutAtAWholeGrapheme) {
    // "é" as e + combining acute (3 bytes a grapheme); 67 of them = 201 bytes.
    std::string stem;
    for (int i = 0; i < 67; ++i) stem += "e\u0301";
    const std::string out = MediaIngest::sanitizedFilename(stem + ".mov");
    std::string expected;
    for (int i = 0; i < 66; ++i) expected += "e\u0301";
    EXPECT_EQ(out, expected + ".mov");
    // A flag is one grapheme of two 4-byte scalars: 26 flags (208 bytes) keep 25, never half a flag.
    const std::string flag = "\U0001F1EB\U0001F1F7";
    std::string flags;
    for (int i = 0; i < 26; ++i) flags += flag;
    std::string kept;
    for (int i = 0; i < 25; ++i) kept += flag;
    EXPECT_EQ(MediaIngest::sanitizedFilename(flags + ".png"), kept + ".png");
    // A grapheme joined by a zero-width joiner (a format character) goes whole.
    EXPECT_EQ(MediaIngest::sanitizedFilename("a\U0001F468\u200D\U0001F469b.png"), "ab.png");
}

// A second pass changes nothing, over the table above and over names built from the awkward pieces.
TEST(SanitizeStable, ASecondPassChangesNothing) {
    const std::vector<std::string> pieces{".",      " ",  "\t", "a",  "\u0301", "\u00A0", "/",  ":", "\\",
                                          "\u200D", "\xC3\xA9", "\xFF", "mp4", "..", "e\u0301", std::string(60, 'x')};
    std::vector<std::string> names{"a .", "clip .mp4 .", "a..", ".\u0301x.png", std::string(199, 'a') + " b.mov"};
    std::uint32_t seed = 12345;
    for (int n = 0; n < 4000; ++n) {
        std::string name;
        const int count = 1 + n % 9;
        for (int i = 0; i < count; ++i) {
            seed = seed * 1664525u + 1013904223u;
            name += pieces[(seed >> 8) % pieces.size()];
        }
        names.push_back(name);
    }
    for (const auto& raw : names) {
        const std::string once = MediaIngest::sanitizedFilename(raw);
        EXPECT_EQ(MediaIngest::sanitizedFilename(once), once) << showBytes(raw);
        ASSERT_FALSE(once.empty());
        EXPECT_NE(once.front(), '.') << showBytes(raw);
        EXPECT_NE(once.back(), ' ') << showBytes(raw);
        EXPECT_NE(once.back(), '.') << showBytes(raw);
        EXPECT_EQ(once.find_first_of("/:"), std::string::npos) << showBytes(raw);
        EXPECT_LE(MediaIngest::splitExtension(once).first.size(), MediaIngest::maxStemBytes);
    }
}

TEST(UniqueDestination, NumbersTheNameAfterTheTakenOnes) {
    const fs::path dir = test::tempDir("unique");
    EXPECT_EQ(MediaIngest::uniqueDestination("clip.mp4", dir), dir / "clip.mp4");
    test::writeFile(dir / "clip.mp4", "1");
    test::writeFile(dir / "clip 2.mp4", "2");
    EXPECT_EQ(MediaIngest::uniqueDestination("clip.mp4", dir), dir / "clip 3.mp4");
    test::writeFile(dir / "notes", "n");
    EXPECT_EQ(MediaIngest::uniqueDestination("notes", dir), dir / "notes 2");
    // A dangling link takes the name too, and a folder as well.
    fs::create_symlink(dir / "gone", dir / "link.png");
    EXPECT_EQ(MediaIngest::uniqueDestination("link.png", dir), dir / "link 2.png");
    fs::create_directory(dir / "d.mov");
    EXPECT_EQ(MediaIngest::uniqueDestination("d.mov", dir), dir / "d 2.mov");
    EXPECT_FALSE(fs::exists(dir / "clip 3.mp4"));  // nothing reserved
}

TEST(Manifest, SideFileFollowsTheWholeNameAndRoundTrips) {
    const fs::path dir = test::tempDir("manifest");
    const fs::path landed = dir / "clip 2.mp4";
    EXPECT_EQ(MediaIngest::sideFile(landed), dir / "clip 2.mp4.obingest.json");
    EXPECT_TRUE(MediaIngest::isSideFile("clip 2.mp4.obingest.json"));
    EXPECT_FALSE(MediaIngest::isSideFile("clip 2.mp4"));

    ASSERT_TRUE(MediaIngest::writeManifest({}, landed));
    EXPECT_EQ(test::readFile(MediaIngest::sideFile(landed)), "{}");
    auto empty = MediaIngest::readManifest(landed);
    ASSERT_TRUE(empty);
    EXPECT_EQ(*empty, MediaIngest::Manifest{});

    const MediaIngest::Manifest full{"Intro", "p-1", "Walk-in"};
    ASSERT_TRUE(MediaIngest::writeManifest(full, landed));
    const std::string text = test::readFile(MediaIngest::sideFile(landed));
    EXPECT_EQ(text.find('\n'), std::string::npos) << "compact";
    EXPECT_EQ(MediaIngest::readManifest(landed), full);

    test::writeFile(MediaIngest::sideFile(landed), "{not json");
    EXPECT_FALSE(MediaIngest::readManifest(landed));
    test::writeFile(MediaIngest::sideFile(landed), R"({"displayName":null,"playlistId":"x"})");
    EXPECT_EQ(MediaIngest::readManifest(landed), (MediaIngest::Manifest{std::nullopt, "x", std::nullopt}));
}

TEST(UploadPlaylistInfoJson, BothKeysRequired) {
    EXPECT_EQ(toJson(UploadPlaylistInfo{"a", "Walk-in"}).dump(), R"({"id":"a","name":"Walk-in"})");
    EXPECT_EQ(decodeJson<UploadPlaylistInfo>(Json::parse(R"({"id":"a","name":"b"})")), (UploadPlaylistInfo{"a", "b"}));
    EXPECT_THROW(decodeJson<UploadPlaylistInfo>(Json::parse(R"({"id":"a"})")), DecodeError);
}

TEST(ContentHashTest, KnownDigestsAndMissingFile) {
    const fs::path dir = test::tempDir("hash");
    test::writeFile(dir / "empty", "");
    EXPECT_EQ(ContentHash::sha256(dir / "empty"), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    test::writeFile(dir / "abc", "abc");
    EXPECT_EQ(ContentHash::sha256(dir / "abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_FALSE(ContentHash::sha256(dir / "missing"));
    // Across chunk boundaries: 1 MiB + 1 bytes of 'a' against the digest of the same bytes fed at once.
    std::string big(ContentHash::chunkBytes + 1, 'a');
    test::writeFile(dir / "big", big);
    test::writeFile(dir / "big2", big);
    const auto h = ContentHash::sha256(dir / "big");
    ASSERT_TRUE(h);
    EXPECT_EQ(h->size(), 64u);
    EXPECT_EQ(h->find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_EQ(h, ContentHash::sha256(dir / "big2"));
    big.back() = 'b';
    test::writeFile(dir / "big2", big);
    EXPECT_NE(h, ContentHash::sha256(dir / "big2"));
    std::atomic<bool> stop{true};
    EXPECT_FALSE(ContentHash::sha256(dir / "big", &stop));
}

TEST(UploadSinkTest, StreamsThenHandsOnTheWholeFile) {
    const fs::path dir = test::tempDir("sink");
    test::writeFile(dir / "u.mp4", "old content that is longer");
    std::optional<fs::path> handed;
    std::string atHandOver;
    auto sink = UploadSink::create(dir / "u.mp4", [&](const fs::path& p) {
        handed = p;
        atHandOver = test::readFile(p);
    });
    ASSERT_TRUE(sink);
    EXPECT_EQ(fs::file_size(dir / "u.mp4"), 0u) << "an existing file is replaced";
    const std::string a = "hello ", b = "world";
    sink->write(a);
    sink->write(b);
    EXPECT_FALSE(handed);
    sink->finish();
    EXPECT_EQ(handed, dir / "u.mp4");
    EXPECT_EQ(atHandOver, "hello world");
    EXPECT_FALSE(sink->open());
    sink->write(a);  // after finish: nothing
    sink->finish();
    EXPECT_EQ(test::readFile(dir / "u.mp4"), "hello world");
}

TEST(UploadSinkTest, CancelDeletesWithoutHandingOn) {
    const fs::path dir = test::tempDir("sink");
    bool handed = false;
    auto sink = UploadSink::create(dir / "c.mov", [&](const fs::path&) { handed = true; });
    ASSERT_TRUE(sink);
    sink->write("x");
    sink->cancel();
    EXPECT_FALSE(fs::exists(dir / "c.mov"));
    EXPECT_FALSE(handed);
    // Destroying an open sink neither deletes nor hands on.
    auto kept = UploadSink::create(dir / "k.mov", [&](const fs::path&) { handed = true; });
    kept.reset();
    EXPECT_TRUE(fs::exists(dir / "k.mov"));
    EXPECT_FALSE(handed);
}

TEST(UploadSinkTest, CreationAndWriteFailures) {
    EXPECT_FALSE(UploadSink::create("/nonexistent-folder/x.mp4", {}));
    if (::geteuid() != 0 || fs::exists("/dev/full")) {
        auto sink = UploadSink::create("/dev/full", {});
        ASSERT_TRUE(sink);
        EXPECT_THROW(sink->write("x"), std::system_error);
    }
}

}  // namespace
