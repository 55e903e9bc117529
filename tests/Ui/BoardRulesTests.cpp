// The board's pure rules as tables: texts, the empty-board rule, scroll speeds, card looks, drop geometry.
#include <gtest/gtest.h>

#include <QLocale>

#include <cmath>
#include <limits>

#include "Ui/Board/BoardRules.hpp"

using namespace ombry;
using namespace ombry::ui::board_rules;

namespace {

BoardSection sectionWith(std::size_t clips) {
    BoardSection s;
    s.id = "s";
    for (std::size_t i = 0; i < clips; ++i) {
        MediaItem m;
        m.id = "m" + std::to_string(i);
        s.items.push_back(m);
    }
    return s;
}

// Two rows of three 100×50 cards, 12 apart across and 14 down: a0 a1 a2 / b0 b1 b2.
struct Grid {
    std::vector<std::string> ids{"a0", "a1", "a2", "b0", "b1", "b2"};
    FrameMap frames;
    Grid() {
        for (int i = 0; i < 6; ++i) frames[ids[std::size_t(i)]] = QRectF((i % 3) * 112, (i / 3) * 64, 100, 50);
    }
};

}  // namespace

TEST(BoardRules, DurationLabelHasOneFractionDigitInTheLocale) {
    QLocale::setDefault(QLocale::c());
    EXPECT_EQ(durationLabel(0), "0.0 s");
    EXPECT_EQ(durationLabel(2), "2.0 s");
    EXPECT_EQ(durationLabel(0.6), "0.6 s");
    EXPECT_EQ(durationLabel(std::numeric_limits<double>::quiet_NaN()), "0.0 s");
    QLocale::setDefault(QLocale(QLocale::German));
    EXPECT_EQ(durationLabel(0.6), "0,6 s");
    QLocale::setDefault(QLocale::c());
}

TEST(BoardRules, EmptyBoardRule) {
    struct Case {
        std::vector<std::size_t> sections;  // clips per section
        bool selected;
        bool empty;
    } cases[] = {
        {{}, false, true},         {{}, true, true},           {{0, 0}, false, true},
        {{0, 3}, false, false},    {{0}, true, false},         {{0, 0}, true, false},
    };
    for (const auto& c : cases) {
        std::vector<BoardSection> sections;
        for (auto n : c.sections) sections.push_back(sectionWith(n));
        EXPECT_EQ(showsEmptyBoard(sections, c.selected), c.empty) << c.sections.size() << " selected " << c.selected;
    }
    EXPECT_EQ(emptyBoardTitle(false), "No media yet.");
    EXPECT_EQ(emptyBoardTitle(true), "No media matches your search.");
}

TEST(BoardRules, SectionTexts) {
    EXPECT_EQ(itemCount(0), "0 items");
    EXPECT_EQ(itemCount(1), "1 item");
    EXPECT_EQ(itemCount(12), "12 items");
    EXPECT_EQ(emptySectionHint("unsorted"), QString::fromUtf8("Empty \u2014 drag clips here to remove them from playlists."));
    EXPECT_EQ(emptySectionHint("abc"),
              QString::fromUtf8("Empty \u2014 drop media or files here to add them to this playlist."));
}

TEST(BoardRules, PlaybackChipsAndTheClampedInterval) {
    Group g;
    g.advanceSeconds = 7.9;
    g.advanceOnEnd = true;
    auto chips = playbackChips(g);
    ASSERT_EQ(chips.size(), 2u);
    EXPECT_EQ(chips[0].symbol, "timer");
    EXPECT_EQ(chips[0].text, "7s");
    EXPECT_EQ(chips[0].help, "Advances every 7 seconds");
    EXPECT_EQ(chips[1].symbol, "forward.end");
    g = {};
    g.loopPlaylist = true;
    g.advanceOnEnd = false;
    chips = playbackChips(g);
    ASSERT_EQ(chips.size(), 1u);
    EXPECT_EQ(chips[0].symbol, "repeat");
    EXPECT_TRUE(playbackChips(Group{}).empty());

    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        double seconds;
        long long whole;
    } cases[] = {{7.9, 7},   {1, 1},     {0.5, 1},     {0, 1},       {-3, 1},
                 {86400, 86400}, {1e300, 86400}, {inf, 1}, {-inf, 1}, {std::nan(""), 1}};
    for (const auto& c : cases) EXPECT_EQ(advanceWholeSeconds(c.seconds), c.whole) << c.seconds;
}

TEST(BoardRules, EdgeScrollSpeed) {
    struct Case {
        double distance;
        double speed;
    } cases[] = {{-40, 1000}, {0, 1000}, {30, 250}, {59, 25}, {59.9, 25}, {60, 0}, {200, 0}};
    for (const auto& c : cases) EXPECT_NEAR(edgeSpeed(c.distance), c.speed, 1e-9) << c.distance;

    const QRectF visible(0, 0, 400, 600);
    struct Point {
        QPointF at;
        double velocity;
    } points[] = {
        {{200, -10}, -1000},  // above the top edge
        {{200, 570}, 250},    // 30 pt inside the bottom edge
        {{200, 541}, 25},     // 59 pt inside
        {{200, 300}, 0},
        {{-25, 590}, 0},      // 25 pt left of the view: no scrolling
        {{-15, 590}, 1000 * std::pow(50.0 / 60, 2)},  // within the 20 pt side tolerance
        {{425, 590}, 0},
    };
    for (const auto& p : points) EXPECT_NEAR(scrollVelocity(visible, p.at), p.velocity, 1e-9) << p.at.x() << "," << p.at.y();
    // Both zones in a short view: the faster wins, a tie goes toward the end.
    EXPECT_GT(scrollVelocity(QRectF(0, 0, 400, 100), {200, 50}), 0);
    EXPECT_LT(scrollVelocity(QRectF(0, 0, 400, 100), {200, 40}), 0);
}

TEST(BoardRules, CardLookPrecedence) {
    struct Case {
        bool live, selected, hovered, offline;
        CardBorder border;
        CardBadge badge;
        const char* tip;
        const char* value;
    } cases[] = {
        {true, true, true, true, CardBorder::live, CardBadge::live, "File missing \u2014 right-click to relink", "Live"},
        {true, false, false, false, CardBorder::live, CardBadge::live, "Click to take off air", "Live"},
        {false, true, true, false, CardBorder::selected, CardBadge::none, "Click to take live", "Video"},
        {false, false, true, true, CardBorder::hovered, CardBadge::offline, "File missing \u2014 right-click to relink",
         "Offline"},
        {false, false, false, false, CardBorder::plain, CardBadge::none, "Click to take live", "Video"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(cardBorder(c.live, c.selected, c.hovered), c.border);
        EXPECT_EQ(cardBadge(c.live, c.offline), c.badge);
        EXPECT_EQ(tooltip(c.live, c.offline), QString::fromUtf8(c.tip));
        EXPECT_EQ(accessibleValue(c.live, c.offline, "Video"), c.value);
    }
    EXPECT_EQ(borderWidth(CardBorder::live), 2);
    EXPECT_EQ(borderWidth(CardBorder::selected), 2);
    EXPECT_EQ(borderWidth(CardBorder::hovered), 1);
    EXPECT_EQ(borderWidth(CardBorder::plain), 1);
}

TEST(BoardRules, LayerChips) {
    MediaItem m;
    m.kind = MediaKind::audio;
    EXPECT_EQ(layerChipText(effectiveLayer(m)), "AUD");
    m.kind = MediaKind::video;
    EXPECT_EQ(layerChipText(effectiveLayer(m)), "MED");
    m.kind = MediaKind::image;
    m.layer = LayerId::overlay;
    EXPECT_EQ(layerChipText(effectiveLayer(m)), "OVL");
    EXPECT_EQ(layerChipText(LayerId::background), "BG");
    EXPECT_NE(layerChipTint(LayerId::media), layerChipTint(LayerId::audio));
    m.duration = 59.6;
    EXPECT_EQ(displayDuration(m), "1:00");
    m.duration = 0;
    EXPECT_EQ(displayDuration(m), "");
}

TEST(BoardRules, DropIndexOnTwoRowsOfThree) {
    const Grid g;
    struct Case {
        QPointF at;
        int index;
    } cases[] = {
        {{10, -5}, 0},         // above the first row
        {{112 + 20, 70}, 4},   // left half of b1
        {{112 + 80, 70}, 5},   // right half of b1
        {{112 + 50, 70}, 5},   // exactly b1's mid x: not before it
        {{5, 64}, 3},          // exactly on b0's top edge, left of its middle
        {{300, 57}, 3},        // in the gap between the rows
        {{10, 200}, 6},        // below everything
        {{330, 20}, 3},        // right of a2's middle: before the next row
        {{10, std::nan("")}, 6},
    };
    for (const auto& c : cases) EXPECT_EQ(dropIndex(g.ids, g.frames, c.at), c.index) << c.at.x() << "," << c.at.y();
    EXPECT_EQ(dropIndex(g.ids, {}, {0, 0}), 6);  // no frames: append
    EXPECT_EQ(dropIndex({}, {}, {0, 0}), 0);
    FrameMap partial = g.frames;
    partial.erase("a0");
    EXPECT_EQ(dropIndex(g.ids, partial, {5, 20}), 1);  // a card without a frame is passed over
}

TEST(BoardRules, InsertionLine) {
    const Grid g;
    EXPECT_EQ(insertionLine(g.ids, g.frames, 4), (InsertionLine{112 - 6, 64, 114}));
    EXPECT_EQ(insertionLine(g.ids, g.frames, 6), (InsertionLine{324 + 6, 64, 114}));
    EXPECT_EQ(insertionLine(g.ids, g.frames, 0), (InsertionLine{-6, 0, 50}));
    EXPECT_FALSE(insertionLine({}, {}, 0));
    EXPECT_FALSE(insertionLine(g.ids, {}, 2));
}

TEST(BoardRules, MarqueeRectAndIntersections) {
    EXPECT_EQ(marqueeRect({50, 80}, {10, 20}), QRectF(10, 20, 40, 60));
    const Grid g;
    EXPECT_EQ(idsIntersecting(g.frames, QRectF(90, 40, 30, 30)), (std::set<std::string>{"a0", "a1", "b0", "b1"}));
    EXPECT_EQ(idsIntersecting(g.frames, QRectF(101, 51, 10, 12)), std::set<std::string>{});  // the gaps
}

#include "Ui/Board/IncomingSection.hpp"

namespace ir = ombry::ui::incoming_rules;

TEST(IncomingRules, SubtitleDetailsAndFractions) {
    EXPECT_EQ(ir::subtitle(1, false), "1 upload downloading");
    EXPECT_EQ(ir::subtitle(3, true), QString::fromUtf8("3 uploads downloading \u00B7 1 sequence encoding"));
    EXPECT_EQ(ir::subtitle(0, true), "1 sequence encoding");
    EXPECT_EQ(ir::encodeDetail(240, 0.37), QString::fromUtf8("Encoding 240 frames \u00B7 37%"));
    EXPECT_EQ(ir::percent(0.999), 99);
    EXPECT_EQ(ir::percent(1), 100);
    QLocale::setDefault(QLocale::c());
    const QString total = QLocale().formattedDataSize(12'000'000, 1, QLocale::DataSizeSIFormat);
    EXPECT_EQ(total, "12.0 MB") << "decimal units";
    EXPECT_EQ(ir::transferred(0, 12'000'000), QString::fromUtf8("Waiting\u2026 \u00B7 ") + total);
    EXPECT_EQ(ir::transferred(3'400'000, 12'000'000), "3.4 MB of " + total);
    struct Case {
        std::int64_t received, total;
        double fraction;
    } cases[] = {{0, 100, 0}, {50, 100, 0.5}, {150, 100, 1}, {50, 0, 0}, {50, -4, 0}};
    for (const auto& c : cases) EXPECT_DOUBLE_EQ(ir::fraction(c.received, c.total), c.fraction);
    EXPECT_EQ(ir::downloadSymbol(std::nullopt), "arrow.down.circle");
    EXPECT_EQ(ir::downloadSymbol(MediaKind::audio), "music.note");
    EXPECT_EQ(ir::accessibleValue("DOWNLOADING", 0), "Downloading, 0 percent");
    EXPECT_EQ(ir::accessibleValue("ENCODING", 0.376), "Encoding, 37 percent");
}
