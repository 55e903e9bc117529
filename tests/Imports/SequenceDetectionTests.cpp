#include <gtest/gtest.h>

#include <algorithm>

#include "Engine/Intake/SequenceImport.hpp"
#include "support/TestEnv.hpp"

using namespace ombry;
namespace fs = std::filesystem;

namespace {

// "dir/<prefix><n><suffix>" for n in [from, to], zero-filled to `width` digits.
std::vector<std::string> run(const std::string& prefix, int from, int to, const std::string& suffix = ".png",
                             int width = 4, const std::string& dir = "/drop/") {
    std::vector<std::string> out;
    for (int n = from; n <= to; ++n) {
        std::string digits = std::to_string(n);
        if (int(digits.size()) < width) digits.insert(0, size_t(width) - digits.size(), '0');
        out.push_back(dir + prefix + digits + suffix);
    }
    return out;
}

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace

TEST(SequenceDetection, FrameExtensionsAreTheLibraryImagesWithoutVectors) {
    EXPECT_EQ(SequenceImport::frameExtensions(),
              (std::set<std::string>{"png", "jpg", "jpeg", "gif", "webp", "bmp", "avif"}));
}

TEST(SequenceDetection, TrailingNumberAndPrefix) {
    struct Case {
        std::string stem;
        std::optional<std::int64_t> number;
        std::string prefix;
    };
    const Case cases[] = {
        {"shot_0012", 12, "shot_"},
        {"0001", 1, ""},
        {"intro", std::nullopt, "intro"},
        {"", std::nullopt, ""},
        {"a1234567890", 234567890, "a"},          // only the last nine digits count
        {"x1000000001", 1, "x"},
        {"999999999", 999999999, ""},
        {"12345678901234567890", 234567890, ""},  // never above nine digits, never overflows
        {"take 2 v03", 3, "take 2 v"},
        {"frame\u0663", std::nullopt, "frame\u0663"},  // Arabic-Indic three is no ASCII digit
        {"frame\uFF13", std::nullopt, "frame\uFF13"},  // nor is a full-width three
        {"frame1\u0301", std::nullopt, "frame1\u0301"},  // a digit carrying a combining mark ends the run
        {"n\u060012", 2, "n\u06001"},  // the prepended number sign joins the first digit into one character
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SequenceImport::trailingNumber(c.stem), c.number) << c.stem;
        EXPECT_EQ(SequenceImport::stemPrefix(c.stem), c.prefix) << c.stem;
    }
}

TEST(SequenceDetection, NameFromGroupingKey) {
    const std::pair<std::string, std::string> cases[] = {
        {"shot_", "shot"}, {"my shot - ", "my shot"}, {"", "Sequence"}, {"___", "Sequence"},
        {". -_", "Sequence"}, {"_a_b.", "a_b"}, {"Logo Loop", "Logo Loop"},
    };
    for (const auto& [key, name] : cases) EXPECT_EQ(SequenceImport::name(key), name) << key;
}

TEST(SequenceDetection, RunsOfEightAndMore) {
    struct Case {
        const char* what;
        std::vector<std::string> paths;
        std::optional<SequenceImport::Detection> expected;
    };
    const auto eight = run("shot_", 1, 8);
    const Case cases[] = {
        {"eight frames are a run", eight, SequenceImport::Detection{"shot", eight}},
        {"seven are not", run("shot_", 1, 7), std::nullopt},
        {"two qualifying groups give none", run("a_", 1, 8) + run("b_", 1, 8), std::nullopt},
        {"a smaller group beside a run stays out of it", run("a_", 1, 8) + run("b_", 1, 3),
         SequenceImport::Detection{"a", run("a_", 1, 8)}},
        {"digits-only stems make \"Sequence\"", run("", 1, 8), SequenceImport::Detection{"Sequence", run("", 1, 8)}},
        {"upper-case extensions count", run("s", 1, 8, ".PNG"), SequenceImport::Detection{"s", run("s", 1, 8, ".PNG")}},
        {"vector images never form a run", run("v", 1, 10, ".svg"), std::nullopt},
        {"no extension, no frame", run("n", 1, 10, ""), std::nullopt},
        {"hidden files are skipped", run(".h", 1, 10), std::nullopt},
        {"the key is case-sensitive", run("Shot_", 1, 4) + run("shot_", 5, 8), std::nullopt},
        {"nothing at all", {}, std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(SequenceImport::detect(c.paths), c.expected) << c.what;
}

TEST(SequenceDetection, OrderIsNumericThenByPath) {
    // frame9 .. frame16 given in text order come back 9, 10, ..., 16.
    std::vector<std::string> paths = run("frame", 9, 16, ".jpg", 1);
    std::vector<std::string> textOrder = paths;
    std::sort(textOrder.begin(), textOrder.end());
    ASSERT_NE(textOrder, paths);
    auto d = SequenceImport::detect(textOrder);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->frames, paths);

    // More than nine digits: both stems are frame 1, ordered by path as code points (upper case first);
    // folders do not split a group, and a path given twice is two frames.
    std::vector<std::string> tied = {"/b/x2000000001.png", "/a/x1000000001.png", "/B/x1000000001.png"};
    auto more = run("x", 2, 7, ".png", 10, "/c/");
    more.push_back("/c/x0000000003.png");
    d = SequenceImport::detect(tied + more);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->name, "x");
    const std::vector<std::string> head(d->frames.begin(), d->frames.begin() + 3);
    EXPECT_EQ(head, (std::vector<std::string>{"/B/x1000000001.png", "/a/x1000000001.png", "/b/x2000000001.png"}));
    EXPECT_EQ(d->frames.size(), 10u);
    EXPECT_EQ(std::count(d->frames.begin(), d->frames.end(), "/c/x0000000003.png"), 2);

    // Canonically equivalent spellings tie, so the sort keeps their input order.
    const std::string composed = "/\u00E9/f1.png", decomposed = "/e\u0301/f1.png";
    for (const auto& first : {composed, decomposed}) {
        const auto second = first == composed ? decomposed : composed;
        d = SequenceImport::detect(std::vector<std::string>{first, second} + run("f", 2, 7, ".png", 1, "/z/"));
        ASSERT_TRUE(d);
        EXPECT_EQ(d->frames[0], first);
        EXPECT_EQ(d->frames[1], second);
    }
}

TEST(SequenceDetection, ExpandOpensFoldersOneLevel) {
    const fs::path dir = test::tempDir("expand");
    test::writeFile(dir / "a.png", "x");
    test::writeFile(dir / ".hidden.png", "x");
    test::writeFile(dir / "sub" / "deep.png", "x");
    auto entries = SequenceImport::expand(dir.string());
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ(entries, (std::vector<std::string>{(dir / "a.png").string(), (dir / "sub").string()}));

    const fs::path hiddenOnly = test::tempDir("hidden");
    test::writeFile(hiddenOnly / ".DS_Store", "x");
    EXPECT_TRUE(SequenceImport::expand(hiddenOnly.string()).empty());

    const std::string missing = (dir / "missing").string();
    EXPECT_EQ(SequenceImport::expand(missing), std::vector<std::string>{missing});
    EXPECT_EQ(SequenceImport::expand((dir / "a.png").string()), std::vector<std::string>{(dir / "a.png").string()});
}
