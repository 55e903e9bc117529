// The remote wire records: what is written, what is left out, and what the strict readers refuse.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "Engine/Control/ControlSnapshot.hpp"

using namespace ombry;

namespace {

ControlSnapshot fullSnapshot() {
    ControlSnapshot s;
    s.host = "Stage Left";
    s.rev = 42;
    s.live = true;
    s.masterVolumeDB = -6.5;
    s.layers.media = ControlLayer{"m1", "Intro", MediaKind::video, true, 0.8, 1.7e12, 3.25, 12.5};
    s.layers.overlay = ControlLayer{"m2", "Logo", MediaKind::image, false, 1, std::nullopt, std::nullopt, std::nullopt};
    s.clips = {
        ControlClip{1, "m1", "Intro", MediaKind::video, LayerId::media, "Opening", 12.5, true, 1.6e12},
        ControlClip{2, "m3", "Tone", MediaKind::audio, LayerId::audio, std::nullopt, std::nullopt, false,
                    std::nullopt},
    };
    s.transport = ControlTransport{LayerId::media, 3.25, 12.5, true};
    s.groups = std::vector<ControlGroup>{{"Opening", "#ff8800", "star"}, {"Bare", std::nullopt, std::nullopt}};
    return s;
}

}  // namespace

TEST(ControlSnapshotJson, WritesEveryFieldUnderItsKeyAndLeavesAbsentOptionalsOut) {
    const Json j = Json::parse(wireText(fullSnapshot()));
    const Json expected = Json::parse(R"({
        "type": "state", "apiVersion": 3, "host": "Stage Left", "rev": 42, "black": false, "live": true,
        "masterVolumeDB": -6.5, "muted": false,
        "layers": {
            "background": null,
            "media": {"mediaId": "m1", "name": "Intro", "kind": "video", "playing": true, "volume": 0.8,
                      "activatedAt": 1.7e12, "currentTime": 3.25, "duration": 12.5},
            "overlay": {"mediaId": "m2", "name": "Logo", "kind": "image", "playing": false, "volume": 1},
            "audio": null
        },
        "clips": [
            {"index": 1, "id": "m1", "name": "Intro", "kind": "video", "layer": "media", "playlist": "Opening",
             "duration": 12.5, "live": true, "thumbAt": 1.6e12},
            {"index": 2, "id": "m3", "name": "Tone", "kind": "audio", "layer": "audio", "live": false}
        ],
        "transport": {"layer": "media", "currentTime": 3.25, "duration": 12.5, "playing": true},
        "groups": [{"name": "Opening", "color": "#ff8800", "icon": "star"}, {"name": "Bare"}]
    })");
    EXPECT_EQ(j, expected) << j.dump(2);
}

TEST(ControlSnapshotJson, AnEmptyProgramKeepsFourNullLayersAndAnEmptyGroupList) {
    const Json j = Json::parse(wireText(ControlSnapshot{}));
    EXPECT_EQ(j["layers"], Json::parse(R"({"background":null,"media":null,"overlay":null,"audio":null})"));
    EXPECT_EQ(j["groups"], Json::array());
    EXPECT_EQ(j["clips"], Json::array());
    EXPECT_FALSE(j.contains("transport"));
    EXPECT_FALSE(j.contains("host"));
    EXPECT_EQ(j["apiVersion"], 3);
}

TEST(ControlSnapshotJson, ReadsBackWhatItWritesAndTakesNullOptionalsAsAbsent) {
    const ControlSnapshot s = fullSnapshot();
    EXPECT_EQ(decodeJsonText<ControlSnapshot>(wireText(s)), s);

    Json j = toJson(s);
    j["host"] = nullptr;
    j["transport"] = nullptr;
    j.erase("groups");
    j.erase("apiVersion");
    j["clips"][0]["thumbAt"] = nullptr;
    const auto read = decodeJson<ControlSnapshot>(j);
    EXPECT_FALSE(read.host);
    EXPECT_FALSE(read.transport);
    EXPECT_FALSE(read.groups);
    EXPECT_FALSE(read.apiVersion);
    EXPECT_FALSE(read.clips[0].thumbAt);
    // Layer keys may be missing on reading; an unknown kind is a video, as everywhere.
    j["layers"].erase("background");
    j["layers"]["media"]["kind"] = "hologram";
    EXPECT_EQ(decodeJson<ControlSnapshot>(j).layers.media->kind, MediaKind::video);
}

TEST(ControlSnapshotJson, ReadersRefuseMissingRequiredFieldsWrongTypesAndUnknownLayers) {
    const Json good = toJson(fullSnapshot());
    const std::vector<std::pair<std::string, std::function<void(Json&)>>> breakages = {
        {"no type", [](Json& j) { j.erase("type"); }},
        {"another type", [](Json& j) { j["type"] = "transport"; }},
        {"no rev", [](Json& j) { j.erase("rev"); }},
        {"null black", [](Json& j) { j["black"] = nullptr; }},
        {"string volume", [](Json& j) { j["masterVolumeDB"] = "-6"; }},
        {"no layers", [](Json& j) { j.erase("layers"); }},
        {"unknown layer key", [](Json& j) { j["layers"]["program"] = nullptr; }},
        {"layer without name", [](Json& j) { j["layers"]["media"].erase("name"); }},
        {"clip with unknown layer", [](Json& j) { j["clips"][0]["layer"] = "program"; }},
        {"clip without index", [](Json& j) { j["clips"][1].erase("index"); }},
        {"transport without playing", [](Json& j) { j["transport"].erase("playing"); }},
        {"group without name", [](Json& j) { j["groups"][1].erase("name"); }},
    };
    for (const auto& [what, breakIt] : breakages) {
        Json j = good;
        breakIt(j);
        EXPECT_THROW(decodeJson<ControlSnapshot>(j), DecodeError) << what;
    }
}

TEST(ControlSnapshotJson, NamesAreEscapedAndBytesThatAreNotUtf8Replaced) {
    ControlSnapshot s;
    s.clips.push_back(ControlClip{1, "id", "say \"hi\"\\\n\t\x01 caf\xC3\xA9", MediaKind::video, LayerId::media,
                                  "bad \xFF end", std::nullopt, false, std::nullopt});
    const Json j = Json::parse(wireText(s));
    EXPECT_EQ(j["clips"][0]["name"], "say \"hi\"\\\n\t\x01 caf\xC3\xA9");
    EXPECT_EQ(j["clips"][0]["playlist"], "bad \xEF\xBF\xBD end");
}

TEST(ControlSnapshotJson, ANumberThatIsNotFiniteCannotBeWritten) {
    ControlSnapshot s = fullSnapshot();
    s.layers.media->currentTime = std::numeric_limits<double>::quiet_NaN();
    EXPECT_THROW(wireText(s), EncodeError);
    EXPECT_THROW(wireText(ControlTransportMessage{LayerId::media, 1, std::numeric_limits<double>::infinity(), true}),
                 EncodeError);
}

TEST(ControlTransportMessageJson, WritesTheTickAndReadsItBack) {
    const ControlTransportMessage m{LayerId::audio, 7.5, 30, false};
    const Json j = Json::parse(wireText(m));
    EXPECT_EQ(j, Json::parse(R"({"type":"transport","layer":"audio","currentTime":7.5,"duration":30,
                                 "playing":false})"));
    EXPECT_EQ(decodeJson<ControlTransportMessage>(j), m);
    Json other = j;
    other["type"] = "state";
    EXPECT_THROW(decodeJson<ControlTransportMessage>(other), DecodeError);
    other = j;
    other["layer"] = "Audio";
    EXPECT_THROW(decodeJson<ControlTransportMessage>(other), DecodeError);
}

// MARK: the live snapshot

namespace {

struct PlayheadCase {
    const char* name;
    MediaKind kind;
    std::optional<TransportAnchor> anchor;
    double now;
    std::optional<double> layerTime, layerDuration;  // absent for a still
    ControlTransport transport;
};

// The snapshot as a fresh build at the moment would write it.
ControlSnapshot withPlayheads(ControlSnapshot s, double currentTime, double duration, bool playing) {
    if (s.layers.media->currentTime) {
        s.layers.media->currentTime = currentTime;
        s.layers.media->duration = duration;
    }
    s.transport = ControlTransport{LayerId::media, currentTime, duration, playing};
    return s;
}

}  // namespace

TEST(LiveSnapshot, TimeFieldsAreThoseOfTheMomentOfReadingAndEverythingElseAsBuilt) {
    const PlayheadCase cases[] = {
        {"playing", MediaKind::video, TransportAnchor{3, 100, true, 12.5}, 101.25, 4.25, 12.5,
         {LayerId::media, 4.25, 12.5, true}},
        {"past its duration", MediaKind::video, TransportAnchor{3, 100, true, 12.5}, 200, 12.5, 12.5,
         {LayerId::media, 12.5, 12.5, true}},
        {"length unknown", MediaKind::audio, TransportAnchor{3, 100, true, 0}, 200, 103, 0,
         {LayerId::media, 103, 0, true}},
        {"paused", MediaKind::video, TransportAnchor{5, 100, false, 10}, 200, 5, 10, {LayerId::media, 5, 10, false}},
        {"no anchor", MediaKind::video, std::nullopt, 200, 0, 0, {LayerId::media, 0, 0, false}},
        {"still", MediaKind::image, TransportAnchor{0, 100, false, 0}, 200, std::nullopt, std::nullopt,
         {LayerId::media, 0, 0, false}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ControlSnapshot built = fullSnapshot();  // built at an earlier moment: other times
        built.layers.media->kind = c.kind;
        if (c.kind == MediaKind::image) built.layers.media->currentTime = built.layers.media->duration = std::nullopt;
        PlayheadAnchors anchors;
        if (c.anchor) anchors[LayerId::media] = *c.anchor;
        const auto live = LiveSnapshot::make(built, anchors);

        const std::string text = live->text(c.now);
        const Json j = Json::parse(text);
        EXPECT_EQ(decodeJson<ControlTransport>(j.at("transport")), c.transport);
        const Json& layer = j.at("layers").at("media");
        EXPECT_EQ(layer.contains("currentTime"), c.layerTime.has_value());
        if (c.layerTime) {
            EXPECT_EQ(layer.at("currentTime"), *c.layerTime);
            EXPECT_EQ(layer.at("duration"), *c.layerDuration);
        }
        // Byte for byte what the writer gives for the snapshot with these times.
        EXPECT_EQ(text, wireText(withPlayheads(built, c.transport.currentTime, c.transport.duration,
                                               c.transport.playing)));
        EXPECT_EQ(live->built(), built);
        EXPECT_EQ(live->moving(), c.anchor && c.anchor->playing);
    }
}

TEST(LiveSnapshot, NewAnchorsMoveTheTimesOfACopyOnly) {
    const ControlSnapshot built = fullSnapshot();
    const auto playing = LiveSnapshot::make(built, {{LayerId::media, TransportAnchor{3, 100, true, 12.5}}});
    const auto paused = playing->withAnchors({{LayerId::media, TransportAnchor{8, 104, false, 12.5}}});
    EXPECT_EQ(Json::parse(playing->text(102)).at("transport").at("currentTime"), 5);
    EXPECT_EQ(Json::parse(paused->text(110)).at("transport"),
              Json::parse(R"({"layer":"media","currentTime":8,"duration":12.5,"playing":false})"));
    EXPECT_FALSE(paused->moving());
    EXPECT_TRUE(paused->followsPlayheads());

    // A snapshot without anchors reads as built at any moment.
    const auto fixed = LiveSnapshot::fixed(built);
    EXPECT_FALSE(fixed->followsPlayheads());
    EXPECT_EQ(fixed->text(1e6), wireText(built));
    ControlSnapshot bad = built;
    bad.masterVolumeDB = std::numeric_limits<double>::infinity();
    EXPECT_THROW(LiveSnapshot::make(bad, {}), EncodeError);
}
