#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <unordered_set>

#include "Engine/Model/Protocol.hpp"

using namespace ombry;

namespace {

const char* kMinimalItem = R"({"id":"A1","kind":"video","name":"Intro","path":"/m/intro.mov","addedAt":0})";

MediaItem fullItem() {
    MediaItem m;
    m.id = "8F0C2C8E-1111-4222-8333-944455556666";
    m.kind = MediaKind::audio;
    m.name = "Walk-in";
    m.path = "/shows/walk in.wav";
    m.duration = 184.5;
    m.width = 1920;
    m.height = 1080;
    m.fps = 29.97;
    m.sampleRate = 48000;
    m.bitDepth = 24;
    m.channels = 2;
    m.probed = true;
    m.probeVersion = 2;
    m.addedAt = 1.7e12;
    m.transitionType = TransitionType::slide;
    m.layer = LayerId::overlay;
    m.endAction = EndAction::clear;
    m.loop = false;
    m.fillMode = FillMode::fill;
    m.trimStart = 1.25;
    m.trimEnd = 90;
    m.order = 3.5;
    m.thumbAt = 1.7e12 + 5;
    m.origin = MediaOrigin::upload;
    m.contentHash = "ab12";
    return m;
}

Json withKey(const char* base, const std::string& key, const Json& value) {
    Json j = Json::parse(base);
    j[key] = value;
    return j;
}

Json withoutKey(const char* base, const std::string& key) {
    Json j = Json::parse(base);
    j.erase(key);
    return j;
}

}  // namespace

TEST(MediaItem, MinimalItemReadsAndWritesBackFiveKeys) {
    MediaItem m = decodeJsonText<MediaItem>(kMinimalItem);
    EXPECT_EQ(m.id, "A1");
    EXPECT_EQ(m.kind, MediaKind::video);
    EXPECT_EQ(m.addedAt, 0);
    MediaItem expected;
    expected.id = "A1";
    expected.name = "Intro";
    expected.path = "/m/intro.mov";
    EXPECT_EQ(m, expected);  // every optional absent
    EXPECT_EQ(toJson(m), Json::parse(kMinimalItem));
}

TEST(MediaItem, FullItemRoundTripsWithIntegersWithoutFraction) {
    const MediaItem m = fullItem();
    Json j = toJson(m);
    EXPECT_EQ(j.size(), 25u);
    EXPECT_EQ(decodeJson<MediaItem>(j), m);
    EXPECT_EQ(decodeJsonText<MediaItem>(j.dump()), m);
    for (const char* key : {"width", "height", "sampleRate", "bitDepth", "channels", "probeVersion"})
        EXPECT_TRUE(j[key].is_number_integer()) << key;
    EXPECT_EQ(j["width"].dump(), "1920");
    EXPECT_EQ(j["layer"], "overlay");
    EXPECT_EQ(j["origin"], "upload");
}

TEST(MediaItem, UnreadableItems) {
    struct Case {
        const char* what;
        Json json;
    };
    const std::vector<Case> cases = {
        {"no addedAt", withoutKey(kMinimalItem, "addedAt")},
        {"null addedAt", withKey(kMinimalItem, "addedAt", nullptr)},
        {"no id", withoutKey(kMinimalItem, "id")},
        {"no kind", withoutKey(kMinimalItem, "kind")},
        {"no name", withoutKey(kMinimalItem, "name")},
        {"no path", withoutKey(kMinimalItem, "path")},
        {"kind a number", withKey(kMinimalItem, "kind", 1)},
        {"name a number", withKey(kMinimalItem, "name", 7)},
        {"addedAt a string", withKey(kMinimalItem, "addedAt", "0")},
        {"width a string", withKey(kMinimalItem, "width", "1920")},
        {"width with a fraction", withKey(kMinimalItem, "width", 1919.5)},
        {"width beyond 64 bits", withKey(kMinimalItem, "width", 9223372036854775808ULL)},
        {"probed a string", withKey(kMinimalItem, "probed", "true")},
        {"loop a number", withKey(kMinimalItem, "loop", 1)},
        {"duration a bool", withKey(kMinimalItem, "duration", true)},
        {"unknown transition", withKey(kMinimalItem, "transitionType", "wipe")},
        {"layer in other case", withKey(kMinimalItem, "layer", "Media")},
        {"unknown end action", withKey(kMinimalItem, "endAction", "stop")},
        {"unknown fill mode", withKey(kMinimalItem, "fillMode", "stretch")},
        {"unknown origin", withKey(kMinimalItem, "origin", "usb")},
        {"transition a number", withKey(kMinimalItem, "transitionType", 0)},
        {"an array", Json::array()},
        {"a string", Json("item")},
    };
    for (const auto& c : cases) EXPECT_THROW(decodeJson<MediaItem>(c.json), DecodeError) << c.what;
}

TEST(MediaItem, NullAndUnknownKeys) {
    Json j = Json::parse(kMinimalItem);
    for (const char* key : {"transitionType", "duration", "layer", "contentHash", "probed"}) j[key] = nullptr;
    j["futureField"] = {{"x", 1}};
    MediaItem m = decodeJson<MediaItem>(j);
    EXPECT_FALSE(m.transitionType);
    EXPECT_FALSE(m.duration);
    EXPECT_FALSE(m.layer);
    EXPECT_FALSE(m.contentHash);
    EXPECT_FALSE(m.probed);
    EXPECT_EQ(toJson(m).size(), 5u);  // nulls and unknown keys are not written back
}

TEST(MediaItem, KindReadsUnknownStringsAsVideo) {
    const std::vector<std::pair<const char*, MediaKind>> cases = {
        {"video", MediaKind::video}, {"image", MediaKind::image}, {"audio", MediaKind::audio},
        {"clip", MediaKind::video},  {"Image", MediaKind::video}, {"", MediaKind::video},
    };
    for (const auto& [raw, kind] : cases) EXPECT_EQ(decodeJson<MediaItem>(withKey(kMinimalItem, "kind", raw)).kind, kind) << raw;
    // The exact reader still knows only the three strings.
    EXPECT_FALSE(fromRaw<MediaKind>("clip"));
}

TEST(MediaItem, IntegralFloatReadsAsInteger) {
    EXPECT_EQ(decodeJson<MediaItem>(withKey(kMinimalItem, "width", 1920.0)).width, 1920);
    EXPECT_EQ(decodeJson<MediaItem>(withKey(kMinimalItem, "addedAt", 5)).addedAt, 5.0);
}

TEST(MediaItem, NonFiniteNumberReadsAsZeroSoTheItemStaysWritable) {
    Json j = Json::parse(kMinimalItem);
    j["duration"] = std::numeric_limits<double>::infinity();
    j["trimEnd"] = std::nan("");
    MediaItem m = decodeJson<MediaItem>(j);
    EXPECT_EQ(m.duration, 0.0);
    EXPECT_EQ(m.trimEnd, 0.0);
    EXPECT_NO_THROW(toJson(m));
    // A literal beyond a double is not JSON that can be read at all.
    std::string text = kMinimalItem;
    text.insert(text.size() - 1, ",\"duration\":1e400");
    EXPECT_THROW(decodeJsonText<MediaItem>(text), DecodeError);
}

TEST(MediaItem, NonFiniteNumberFailsTheWrite) {
    for (double bad : {std::nan(""), std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()}) {
        MediaItem m = fullItem();
        m.duration = bad;
        try {
            toJson(m);
            ADD_FAILURE() << "wrote " << bad;
        } catch (const EncodeError& e) {
            EXPECT_EQ(e.path(), "duration");
        }
    }
    MediaItem m = fullItem();
    m.addedAt = std::nan("");
    EXPECT_THROW(toJson(m), EncodeError);
    LibraryDoc doc{{fullItem(), m}, {}};
    try {
        encodeJson(doc);
        ADD_FAILURE();
    } catch (const EncodeError& e) {
        EXPECT_EQ(e.path(), "media[1].addedAt");
    }
}

TEST(MediaItem, EqualityAndHashCoverEveryField) {
    const MediaItem base = fullItem();
    const std::vector<std::function<void(MediaItem&)>> edits = {
        [](MediaItem& m) { m.id = "B"; },
        [](MediaItem& m) { m.kind = MediaKind::video; },
        [](MediaItem& m) { m.name = "Other"; },
        [](MediaItem& m) { m.path = "/x"; },
        [](MediaItem& m) { m.duration.reset(); },
        [](MediaItem& m) { m.width = 1280; },
        [](MediaItem& m) { m.height.reset(); },
        [](MediaItem& m) { m.fps = 25; },
        [](MediaItem& m) { m.sampleRate = 44100; },
        [](MediaItem& m) { m.bitDepth = 16; },
        [](MediaItem& m) { m.channels = 6; },
        [](MediaItem& m) { m.probed = false; },
        [](MediaItem& m) { m.probeVersion = 1; },
        [](MediaItem& m) { m.addedAt = 1; },
        [](MediaItem& m) { m.transitionType = TransitionType::cut; },
        [](MediaItem& m) { m.layer = LayerId::media; },
        [](MediaItem& m) { m.endAction.reset(); },
        [](MediaItem& m) { m.loop.reset(); },  // absent is not false
        [](MediaItem& m) { m.fillMode = FillMode::fit; },
        [](MediaItem& m) { m.trimStart = 0; },
        [](MediaItem& m) { m.trimEnd = 91; },
        [](MediaItem& m) { m.order = 4; },
        [](MediaItem& m) { m.thumbAt.reset(); },
        [](MediaItem& m) { m.origin = MediaOrigin::cloud; },
        [](MediaItem& m) { m.contentHash = "cd34"; },
    };
    ASSERT_EQ(edits.size(), 25u);
    std::unordered_set<MediaItem> set{base};
    for (size_t i = 0; i < edits.size(); ++i) {
        MediaItem changed = base;
        edits[i](changed);
        EXPECT_NE(changed, base) << "field " << i;
        EXPECT_NE(std::hash<MediaItem>{}(changed), std::hash<MediaItem>{}(base)) << "field " << i;
        set.insert(changed);
    }
    EXPECT_EQ(set.size(), 26u);
    MediaItem copy = base;
    EXPECT_EQ(copy, base);
    EXPECT_EQ(std::hash<MediaItem>{}(copy), std::hash<MediaItem>{}(base));

    MediaItem absent, unset;
    unset.probed = false;
    EXPECT_NE(absent, unset);
    EXPECT_NE(std::hash<MediaItem>{}(absent), std::hash<MediaItem>{}(unset));
}

TEST(Group, ReadsWritesAndCompares) {
    Group g = decodeJsonText<Group>(R"({"id":"G","name":"Walk-in","mediaIds":[]})");
    EXPECT_TRUE(g.mediaIds.empty());
    EXPECT_EQ(toJson(g).size(), 3u);
    EXPECT_THROW(decodeJsonText<Group>(R"({"id":"G","name":"Walk-in"})"), DecodeError);
    EXPECT_THROW(decodeJsonText<Group>(R"({"id":"G","name":"W","mediaIds":["a",2]})"), DecodeError);
    EXPECT_THROW(decodeJsonText<Group>(R"({"id":"G","name":"W","mediaIds":"a"})"), DecodeError);
    EXPECT_THROW(decodeJsonText<Group>(R"({"id":"G","name":"W","mediaIds":[],"transitionType":"Fade"})"), DecodeError);

    Group full{"G2", "Show", {"a", "b"}, "#FF8800", "star.fill", "🎬", TransitionType::fade, 12.5, true, false};
    EXPECT_EQ(toJson(full).size(), 10u);
    EXPECT_EQ(decodeJson<Group>(toJson(full)), full);
    Group other = full;
    other.mediaIds = {"b", "a"};
    EXPECT_NE(other, full);
    other = full;
    other.loopPlaylist.reset();
    EXPECT_NE(other, full);
    EXPECT_NE(std::hash<Group>{}(other), std::hash<Group>{}(full));
    full.advanceSeconds = std::numeric_limits<double>::infinity();
    EXPECT_THROW(toJson(full), EncodeError);
}

TEST(LibraryDoc, OneUnreadableItemFailsTheWholeDocument) {
    Json doc = {{"media", {Json::parse(kMinimalItem), withoutKey(kMinimalItem, "addedAt")}}, {"groups", Json::array()}};
    try {
        decodeJson<LibraryDoc>(doc);
        ADD_FAILURE();
    } catch (const DecodeError& e) {
        EXPECT_EQ(e.path(), "media[1].addedAt");
        EXPECT_EQ(std::string(e.what()), "media[1].addedAt: missing");
    }
    doc["media"].erase(1);
    LibraryDoc ok = decodeJson<LibraryDoc>(doc);
    EXPECT_EQ(ok.media.size(), 1u);
    EXPECT_THROW(decodeJsonText<LibraryDoc>(R"({"media":[]})"), DecodeError);
    EXPECT_THROW(decodeJsonText<LibraryDoc>(R"({"media":[],"groups":[{"id":"G","name":"x"}]})"), DecodeError);
    EXPECT_THROW(decodeJsonText<LibraryDoc>("{\"media\":[],"), DecodeError);  // not JSON
    EXPECT_EQ(toJson(ok), doc);
}

TEST(Enumerations, RawStringsAndCaseOrder) {
    EXPECT_EQ(allCases<LayerId>(),
              (std::array{LayerId::background, LayerId::media, LayerId::overlay, LayerId::audio}));
    EXPECT_EQ(allCases<FillMode>(), (std::array{FillMode::fit, FillMode::fill}));
    EXPECT_EQ(allCases<MediaKind>(), (std::array{MediaKind::video, MediaKind::image, MediaKind::audio}));
    EXPECT_EQ(allCases<TransitionType>(), (std::array{TransitionType::cut, TransitionType::fade,
                                                      TransitionType::crossfade, TransitionType::slide,
                                                      TransitionType::zoom}));

    auto roundTrips = [](auto cases, std::vector<std::string> raws) {
        ASSERT_EQ(cases.size(), raws.size());
        for (size_t i = 0; i < raws.size(); ++i) {
            using E = typename decltype(cases)::value_type;
            EXPECT_EQ(rawValue(cases[i]), raws[i]);
            EXPECT_EQ(fromRaw<E>(raws[i]), cases[i]);
            EXPECT_EQ(encodeJson(cases[i]), Json(raws[i]));
        }
    };
    roundTrips(allCases<LayerId>(), {"background", "media", "overlay", "audio"});
    roundTrips(allCases<MediaKind>(), {"video", "image", "audio"});
    roundTrips(allCases<TransitionType>(), {"cut", "fade", "crossfade", "slide", "zoom"});
    roundTrips(allCases<EndAction>(), {"hold", "clear", "loop"});
    roundTrips(allCases<FillMode>(), {"fit", "fill"});
    roundTrips(allCases<MediaOrigin>(), {"local", "upload", "cloud", "lan"});

    for (const char* bad : {"Media", "media ", " media", "MEDIA", "", "program"}) EXPECT_FALSE(fromRaw<LayerId>(bad)) << bad;
    EXPECT_THROW(decodeJson<LayerId>(Json("Media")), DecodeError);
    EXPECT_THROW(decodeJson<EndAction>(Json(1)), DecodeError);
}
