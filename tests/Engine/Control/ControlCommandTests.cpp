// The remote command grammar: every row of the table, the first matching row deciding, strict URI handling
// and the C library's number reading.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "Engine/Control/ControlCommand.hpp"
#include "Engine/Control/UriReference.hpp"

using namespace ombry;
using namespace ombry::control;

namespace {

using V = TransportVerb;
using Expect = std::optional<ControlCommand>;
const Expect none = std::nullopt;

struct Case {
    const char* target;
    Expect expected;
};

const Case grammar[] = {
    // Slashes, case and the "api" prefix.
    {"/api/transport/play", Play{}},
    {"/api/transport/play/", Play{}},
    {"//api//transport/play", Play{}},
    {"api/transport/play", Play{}},
    {"/API/transport/play", none},
    {"/api/Transport/play", none},
    {"/api", none},
    {"/", none},
    {"", none},
    {"/api/transport", none},
    {"/v1/transport/play", none},
    {"/x/api/transport/play", none},
    // A full URL: only its path and query count.
    {"http://192.168.1.20:7341/api/transport/pause?k=secret", Pause{}},
    {"http://[::1]:7341/api/clip/next", NextClip{}},
    {"ws://user:pw@host/api/clip/prev", PrevClip{}},
    {"http://host", none},
    {"http://ho st/api/clip/next", none},
    {"http://[zz]/api/clip/next", none},
    {"http://host:80x/api/clip/next", none},
    // Row 1: trigger by id, decoded twice.
    {"/api/trigger/id/intro", TriggerId{"intro"}},
    {"/api/trigger/id/a%252Fb", TriggerId{"a/b"}},
    {"/api/trigger/id/a%2Fb", none},
    {"/api/trigger/id/50%25", TriggerId{"50%"}},
    {"/api/trigger/id/%25zz", TriggerId{"%zz"}},
    {"/api/trigger/id/caf%C3%A9", TriggerId{"caf\xC3\xA9"}},
    {"/api/trigger/id/%25C3", TriggerId{"%C3"}},  // a second decoding that is not UTF-8 fails too
    {"/api/trigger/id/9F3A-1?k=x#frag", TriggerId{"9F3A-1"}},
    {"/api/trigger/id", none},
    {"/api/trigger/id/a/b", none},
    {"/api/trigger/name/intro", none},
    // Row 2: trigger by index.
    {"/api/trigger/index/3", TriggerIndex{3}},
    {"/api/trigger/index/+3", TriggerIndex{3}},
    {"/api/trigger/index/007", TriggerIndex{7}},
    {"/api/trigger/index/9223372036854775807", TriggerIndex{INT64_MAX}},
    {"/api/trigger/index/9223372036854775808", none},
    {"/api/trigger/index/99999999999999999999999", none},
    {"/api/trigger/index/0", none},
    {"/api/trigger/index/-2", none},
    {"/api/trigger/index/3.0", none},
    {"/api/trigger/index/+", none},
    {"/api/trigger/index/++3", none},
    {"/api/trigger/index/0x3", none},
    {"/api/trigger/index/%203", none},
    {"/api/trigger/index/3/x", none},
    {"/api/trigger/index", none},
    // Rows 3 to 7: the primary layer.
    {"/api/transport/pause", Pause{}},
    {"/api/transport/toggle", PlayPause{}},
    {"/api/transport/restart", Restart{}},
    {"/api/transport/seek?by=-5", SeekBy{-5}},
    {"/api/transport/seek?by=x&to=12.5", SeekTo{12.5}},
    {"/api/transport/seek?by=2&to=9", SeekBy{2}},
    {"/api/transport/seek?to=9&by=2", SeekBy{2}},
    {"/api/transport/seek?by&by=3", none},
    {"/api/transport/seek?by&to=4", SeekTo{4}},
    {"/api/transport/seek?by=&to=4", SeekTo{4}},
    {"/api/transport/seek?by=1&by=3", SeekBy{1}},
    {"/api/transport/seek?BY=1", none},
    {"/api/transport/seek", none},
    {"/api/transport/seek?", none},
    {"/api/transport/seek?b%79=7", SeekBy{7}},  // names are decoded too
    // Row 8: a named layer.
    {"/api/transport/media", none},
    {"/api/transport/media/seek?to=3", TransportLayer{LayerId::media, V::seekTo(3)}},
    {"/api/transport/audio/seek?by=-10", TransportLayer{LayerId::audio, V::seekBy(-10)}},
    {"/api/transport/media/seek", none},
    {"/api/transport/overlay/toggle/extra", TransportLayer{LayerId::overlay, V::toggle()}},
    {"/api/transport/background/play", TransportLayer{LayerId::background, V::play()}},
    {"/api/transport/media/pause", TransportLayer{LayerId::media, V::pause()}},
    {"/api/transport/media/restart", TransportLayer{LayerId::media, V::restart()}},
    {"/api/transport/media/stop", none},
    {"/api/transport/program/play", none},
    {"/api/transport/Media/play", none},
    // Rows 9 to 13.
    {"/api/clip/next", NextClip{}},
    {"/api/clip/prev", PrevClip{}},
    {"/api/clip/next?x=1#top", NextClip{}},
    {"/api/clip/first", none},
    {"/api/black/on", Black{ToggleOp::on}},
    {"/api/black/off", Black{ToggleOp::off}},
    {"/api/black/toggle", Black{ToggleOp::toggle}},
    {"/api/black/ON", none},
    {"/api/black", none},
    {"/api/clear/all/now", ClearAll{}},
    {"/api/clear/audio", ClearLayer{LayerId::audio}},
    {"/api/clear/everything", none},
    {"/api/clear", none},
    // Row 14: decibels.
    {"/api/volume/set?db=-12", VolumeSetDB{-12}},
    {"/api/volume/set?db=1e1", VolumeSetDB{10}},
    {"/api/volume/set?db=%2D3", VolumeSetDB{-3}},
    {"/api/volume/set?db=+4", VolumeSetDB{4}},     // a plus sign in a query stays a plus sign
    {"/api/volume/set?db=0x10", VolumeSetDB{16}},  // the C library reads hexadecimal
    {"/api/volume/set?db=.5", VolumeSetDB{0.5}},
    {"/api/volume/set?db=-6.", VolumeSetDB{-6}},
    {"/api/volume/set?db=%20-3", none},
    {"/api/volume/set?db=%09-3", none},
    {"/api/volume/set?db=-3%20", none},
    {"/api/volume/set?db=12px", none},
    {"/api/volume/set?db=-3%00", none},
    {"/api/volume/set?db=1,5", none},
    {"/api/volume/set?db=", none},
    {"/api/volume/set?db", none},
    {"/api/volume/set?DB=-3", none},
    {"/api/volume/set", none},
    // Non-finite numbers are refused in every spelling; an overflow is infinite.
    {"/api/volume/set?db=inf", none},
    {"/api/volume/set?db=-INF", none},
    {"/api/volume/set?db=Infinity", none},
    {"/api/volume/set?db=nan", none},
    {"/api/volume/set?db=NaN", none},
    {"/api/volume/set?db=-nan(0x1)", none},
    {"/api/volume/set?db=1e999", none},
    {"/api/volume/set?db=1e-999", VolumeSetDB{0}},
    {"/api/transport/seek?by=nan&to=inf", none},
    {"/api/transport/seek?by=inf&to=3", SeekTo{3}},
    {"/api/transport/media/seek?to=nan", none},
    {"/api/volume/media?v=nan", none},
    // Row 15: whole steps.
    {"/api/volume/step?by=-2", VolumeStep{-2}},
    {"/api/volume/step?by=0", VolumeStep{0}},
    {"/api/volume/step?by=+1", VolumeStep{1}},
    {"/api/volume/step?by=-9223372036854775808", VolumeStep{INT64_MIN}},
    {"/api/volume/step?by=9223372036854775808", none},
    {"/api/volume/step?by=1.5", none},
    {"/api/volume/step?by=1e1", none},
    {"/api/volume/step?by=-", none},
    {"/api/volume/step", none},
    // Row 16: a layer's gain, not limited here.
    {"/api/volume/overlay?v=0.5", LayerVolume{LayerId::overlay, 0.5}},
    {"/api/volume/overlay?v=7", LayerVolume{LayerId::overlay, 7}},
    {"/api/volume/audio?v=-1", LayerVolume{LayerId::audio, -1}},
    {"/api/volume/overlay", none},
    {"/api/volume/master?v=1", none},
    // Row 17.
    {"/api/mute/toggle", Mute{ToggleOp::toggle}},
    {"/api/mute/on", Mute{ToggleOp::on}},
    {"/api/mute/off/now", Mute{ToggleOp::off}},
    {"/api/mute", none},
    {"/api/mute/yes", none},
    // What the strict reader refuses where a tolerant one would guess.
    {"/api/clip/next ", none},
    {" /api/clip/next", none},
    {"/api/clip/ne xt", none},
    {"/api/clip/next?x=a b", none},
    {"/api/clip/%zznext", none},
    {"/api/clip/next%", none},
    {"/api/clip/next?x=%2", none},
    {"/api/clip/next#a#b", none},
    {"/api/clip/next\n", none},
    {"/api/clip/<next>", none},
    {"/api/clip/next?x=\"", none},
    {"/api/clip/n%FFext", none},       // decodes to bytes that are not UTF-8
    {"/api/clip/next?%FF=1", none},
    {"/api/clip/\xC3\xA9", none},      // raw non-ASCII must be encoded
    {"a:b/api/clip/next", none},       // a scheme without "//" and a path that does not start with api
    {"1a:b/api/clip/next", none},      // a colon in a relative path's first segment
    {"/api/clip/next?a:b@c/d?e", NextClip{}},
    {"/api/cl%69p/n%65xt", NextClip{}},
    {"/api%2Fclip%2Fnext", NextClip{}},  // an encoded slash separates segments
};

}  // namespace

TEST(ControlCommandParse, EveryRowOfTheGrammarFirstMatchingRowDeciding) {
    for (const auto& c : grammar) {
        const auto got = ControlCommand::parse(c.target);
        if (c.expected) {
            ASSERT_TRUE(got) << c.target << " gives nothing, expected " << describe(*c.expected);
            EXPECT_EQ(*got, *c.expected) << c.target;
        } else {
            EXPECT_FALSE(got) << c.target << " gives " << describe(*got);
        }
    }
}

TEST(UriReferenceParse, QueryItemsKeepTheirOrderAndTellAMissingValueFromAnEmptyOne) {
    const auto ref = UriReference::parse("/p%20q?a=1&b&c=&a=2&d=x%3Dy+z#f");
    ASSERT_TRUE(ref);
    EXPECT_EQ(ref->path, "/p q");
    EXPECT_EQ(ref->query, "a=1&b&c=&a=2&d=x%3Dy+z");
    const std::vector<UriQueryItem> items{
        {"a", "1"}, {"b", std::nullopt}, {"c", ""}, {"a", "2"}, {"d", "x=y+z"}};
    EXPECT_EQ(ref->queryItems, items);
    EXPECT_EQ(ref->value("a"), "1");
    EXPECT_EQ(ref->value("b"), std::nullopt);
    EXPECT_EQ(ref->value("c"), "");
    EXPECT_EQ(ref->value("zz"), std::nullopt);
    EXPECT_FALSE(UriReference::parse("/p")->query);
    EXPECT_EQ(UriReference::parse("/p?")->query, "");
}

TEST(UriReferenceParse, PercentDecodingNeedsTwoHexDigitsAndUtf8) {
    EXPECT_EQ(percentDecode("a%2fb%2F"), "a/b/");
    EXPECT_EQ(percentDecode("%E2%82%AC"), "\xE2\x82\xAC");
    for (const char* bad : {"%", "%2", "%g0", "a%2", "%C3", "%ED%A0%80"}) EXPECT_FALSE(percentDecode(bad)) << bad;
}

// Bounded random input through the parser: the fuzz target's check, run in every build and under the
// sanitizers. Texts are built from the grammar's own words and then damaged byte by byte, so that many
// reach deep into the table and many more fail somewhere on the way.
TEST(ControlCommandParse, ArbitraryBytesNeverCrashAndNeverYieldAnUnusableOperand) {
    static const std::string_view words[] = {
        "api", "transport", "trigger", "id", "index", "seek", "play", "toggle", "restart", "volume", "set",
        "step", "media", "audio", "overlay", "black", "mute", "clear", "all", "clip", "next", "on", "3", "-2",
        "a%252Fb", "50%25", "%FF", "x"};
    static const std::string_view commands[] = {
        "/transport/seek", "/transport/media/seek", "/transport/audio/toggle", "/trigger/index/3",
        "/trigger/id/a%252Fb", "/volume/set", "/volume/step", "/volume/overlay", "/black/on", "/clear/all",
        "/clip/next", "/mute/toggle"};
    static const std::string_view separators[] = {"/", "/", "/", "//", "%2F"};
    static const std::string_view keys[] = {"by", "to", "db", "v", "k", "b%79", "BY"};
    static const std::string_view numbers[] = {
        "-5", "12.5", "1e1", "+3", "0x10", "0x1p-3", "%2D3", "inf", "-nan", "1e999", "1.5", "", " 1", "7px",
        "99999999999999999999"};
    std::mt19937_64 rng(20261210);
    const auto pick = [&](const auto& list) { return list[std::uniform_int_distribution<std::size_t>(0, std::size(list) - 1)(rng)]; };
    const auto below = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
    int parsed = 0;
    for (int round = 0; round < 100000; ++round) {
        std::string text = below(4) ? "/api" : "";
        if (below(2)) text.append(pick(commands));
        else for (int i = below(4) + 1; i > 0; --i) text.append(pick(separators)).append(pick(words));
        if (below(2)) {
            text += '?';
            for (int i = below(3) + 1; i > 0; --i) {
                if (text.back() != '?') text += '&';
                text.append(pick(keys));
                if (below(5)) text.append("=").append(pick(numbers));
            }
        }
        if (!below(8)) text += "#top";
        for (int damage = below(2) ? 0 : below(3) + 1; damage > 0; --damage) {
            const std::size_t at = std::uniform_int_distribution<std::size_t>(0, text.size())(rng);
            const char byte = char(below(256));
            switch (below(3)) {
                case 0: text.insert(at, 1, byte); break;
                case 1: if (at < text.size()) text.erase(at, 1); break;
                default: if (at < text.size()) text[at] = byte; break;
            }
        }
        const auto got = ControlCommand::parse(text);
        EXPECT_EQ(got, ControlCommand::parse(text)) << "not a pure function of its text";
        if (!got) continue;
        ++parsed;
        std::visit(
            [&](const auto& c) {
                using C = std::decay_t<decltype(c)>;
                if constexpr (std::is_same_v<C, TriggerIndex>) {
                    EXPECT_GE(c.index, 1) << text;
                } else if constexpr (std::is_same_v<C, SeekBy> || std::is_same_v<C, SeekTo>) {
                    EXPECT_TRUE(std::isfinite(c.seconds)) << text;
                } else if constexpr (std::is_same_v<C, VolumeSetDB>) {
                    EXPECT_TRUE(std::isfinite(c.db)) << text;
                } else if constexpr (std::is_same_v<C, LayerVolume>) {
                    EXPECT_TRUE(std::isfinite(c.gain)) << text;
                } else if constexpr (std::is_same_v<C, TransportLayer>) {
                    EXPECT_TRUE(std::isfinite(c.verb.seconds)) << text;
                }
            },
            got->value);
    }
    EXPECT_GT(parsed, 500) << "the generator no longer reaches the grammar";
}
