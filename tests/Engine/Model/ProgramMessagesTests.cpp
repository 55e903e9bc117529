#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "Engine/Model/Protocol.hpp"
#include "Platform/MainQueue.hpp"

using namespace ombry;

namespace {

ActiveCue sampleCue() {
    ActiveCue c;
    c.cueId = "C1";
    c.mediaId = "M1";
    c.kind = MediaKind::video;
    c.src = "/media/M1";
    c.playing = true;
    c.loop = false;
    c.volume = 0.5;
    c.endAction = EndAction::hold;
    c.transition = {TransitionType::fade, 300};
    return c;
}

template <class T>
const T* as(const OutputMessage& m) {
    return std::get_if<T>(&m);
}

}  // namespace

TEST(ProgramState, NewProgramWritesFourLayersWithOnlyTheirIds) {
    const std::string text = compactJson(toJson(StateMessage{ProgramState{}}));
    EXPECT_EQ(text,
              R"({"state":{"black":false,"layers":{"audio":{"id":"audio"},"background":{"id":"background"},)"
              R"("media":{"id":"media"},"overlay":{"id":"overlay"}},"masterVolume":1.0,"rev":0,)"
              R"("stage":{"background":"transparent","fps":60,"height":1080,"width":1920}},"type":"state"})");
}

TEST(ProgramState, CueOptionalsAreWrittenOnlyWhenPresentAndRoundTrip) {
    ActiveCue cue = sampleCue();
    Json j = toJson(cue);
    EXPECT_EQ(j.size(), 9u);
    for (const char* key : {"fillMode", "trimStart", "trimEnd"}) EXPECT_FALSE(j.contains(key)) << key;
    EXPECT_EQ(j["transition"], Json::parse(R"({"type":"fade","durationMs":300})"));

    cue.fillMode = FillMode::fill;
    cue.trimStart = 0;
    cue.trimEnd = 12.5;
    ProgramState state;
    state.rev = 7;
    state.black = true;
    state.masterVolume = 0.25;
    state.stage = {1280, 720, 50, "#112233"};
    state.layers.overlay.active = cue;
    Json written = toJson(state);
    EXPECT_EQ(written["layers"]["overlay"]["active"]["trimStart"], 0);
    EXPECT_EQ(decodeJson<ProgramState>(written), state);

    ProgramState changed = state;
    changed.layers.overlay.active->trimEnd.reset();
    EXPECT_NE(changed, state);

    // Each layer key must hold its own layer.
    written["layers"]["media"]["id"] = "overlay";
    EXPECT_THROW(decodeJson<ProgramState>(written), DecodeError);
    EXPECT_THROW(decodeJsonText<StageConfig>(R"({"width":1920,"height":1080,"fps":60})"), DecodeError);
    EXPECT_THROW(decodeJsonText<TransitionSpec>(R"({"type":"fade","durationMs":"300"})"), DecodeError);
}

TEST(ProgramState, NonFiniteVolumeFailsTheWrite) {
    ProgramState state;
    state.layers.media.active = sampleCue();
    state.layers.media.active->volume = std::nan("");
    try {
        compactJson(toJson(StateMessage{state}));
        ADD_FAILURE();
    } catch (const EncodeError& e) {
        EXPECT_EQ(e.path(), "state.layers.media.active.volume");
    }
}

TEST(TransportCommand, TimeOnlyWithSeek) {
    EXPECT_EQ(compactJson(toJson(TransportCommandMessage{LayerId::media, "pause", std::nullopt})),
              R"({"action":"pause","layer":"media","type":"transport"})");
    EXPECT_EQ(compactJson(toJson(TransportCommandMessage{LayerId::audio, "seek", 0.0})),
              R"({"action":"seek","layer":"audio","time":0.0,"type":"transport"})");
}

TEST(TransportStatus, StrictAndPageReadings) {
    TransportStatus s{LayerId::overlay, "C", "M", 3.5, 10, true, false};
    TransportStatus back = decodeJson<TransportStatus>(toJson(s));
    EXPECT_EQ(toJson(back), toJson(s));
    EXPECT_THROW(decodeJsonText<TransportStatus>(R"({"layer":"media","cueId":"C","mediaId":"M"})"), DecodeError);

    auto page = [](const char* text) { return TransportStatus::fromPage(Json::parse(text)); };
    EXPECT_FALSE(page("{}"));
    EXPECT_FALSE(page("[]"));
    EXPECT_FALSE(page(R"({"layer":"program","cueId":"C","mediaId":"M"})"));
    EXPECT_FALSE(page(R"({"layer":"media","cueId":"C"})"));
    EXPECT_FALSE(page(R"({"layer":"media","cueId":5,"mediaId":"M"})"));
    auto loose = page(R"({"layer":"media","cueId":"C","mediaId":"M","playing":"true","duration":"9","ended":true})");
    ASSERT_TRUE(loose);
    EXPECT_EQ(loose->currentTime, 0);
    EXPECT_EQ(loose->duration, 0);
    EXPECT_FALSE(loose->playing);
    EXPECT_TRUE(loose->ended);
    Json nonFinite = Json::parse(R"({"layer":"media","cueId":"C","mediaId":"M"})");
    nonFinite["currentTime"] = std::numeric_limits<double>::infinity();
    nonFinite["duration"] = std::nan("");
    auto huge = TransportStatus::fromPage(nonFinite);
    ASSERT_TRUE(huge);
    EXPECT_EQ(huge->currentTime, 0);
    EXPECT_EQ(huge->duration, 0);
}

TEST(OutputMessage, ParsesEveryCaseAndFallsBackToUnknown) {
    const char* unknowns[] = {
        "not json", "[1,2]", "{}", "42", R"("hello")", R"({"type":"Hello"})", R"({"type":5})", R"({"role":"output"})",
        R"({"type":"bye"})", R"({"type":"loaded","layer":"program","cueId":"C"})", R"({"type":"loaded","layer":"media"})",
        R"({"type":"error","cueId":"C","message":"x"})", R"({"type":"status"})", R"({"type":"status","status":[]})",
        R"({"type":"status","status":{"layer":"media","cueId":"C"}})", R"({"type":"pong","t":1e999})",
    };
    for (const char* text : unknowns) EXPECT_TRUE(std::holds_alternative<page::Unknown>(parseOutputMessage(text))) << text;

    auto hello = [](const char* text) {
        const auto message = parseOutputMessage(text);
        return as<page::Hello>(message) ? as<page::Hello>(message)->role : "(not hello)";
    };
    EXPECT_EQ(hello(R"({"type":"hello"})"), "output");
    EXPECT_EQ(hello(R"({"type":"hello","role":3})"), "output");
    EXPECT_EQ(hello(R"({"type":"hello","role":"obs"})"), "obs");

    const auto loaded = parseOutputMessage(R"({"type":"loaded","layer":"overlay","cueId":"C9","extra":1})");
    ASSERT_TRUE(as<page::Loaded>(loaded));
    EXPECT_EQ(as<page::Loaded>(loaded)->layer, LayerId::overlay);
    EXPECT_EQ(as<page::Loaded>(loaded)->cueId, "C9");

    auto error = parseOutputMessage(R"({"type":"error","layer":"media","cueId":"C"})");
    ASSERT_TRUE(as<page::Error>(error));
    EXPECT_EQ(as<page::Error>(error)->message, "");
    const auto decode = parseOutputMessage(R"({"type":"error","layer":"audio","cueId":"C","message":"decode"})");
    EXPECT_EQ(as<page::Error>(decode)->message, "decode");

    auto status = parseOutputMessage(R"({"type":"status","status":{"layer":"media","cueId":"C","mediaId":"M","duration":4}})");
    ASSERT_TRUE(as<page::Status>(status));
    EXPECT_EQ(as<page::Status>(status)->status.currentTime, 0);
    EXPECT_EQ(as<page::Status>(status)->status.duration, 4);

    const auto meterMessage = parseOutputMessage(R"({"type":"meter","l":0.5,"r":"x"})");
    auto meter = as<page::Meter>(meterMessage);
    ASSERT_TRUE(meter);
    EXPECT_EQ(meter->levels.l, 0.5);
    EXPECT_EQ(meter->levels.r, 0);
    EXPECT_EQ(meter->levels.pl, 0);
    EXPECT_EQ(meter->levels.pr, 0);
}

TEST(OutputMessage, PongTimeIsAnIntegerOrZero) {
    const std::vector<std::pair<std::string, std::int64_t>> cases = {
        {R"({"type":"pong","t":1712345678901})", 1712345678901},
        {R"({"type":"pong","t":12.9})", 12},
        {R"({"type":"pong","t":-12.9})", -12},
        {R"({"type":"pong"})", 0},
        {R"({"type":"pong","t":"12"})", 0},
        {R"({"type":"pong","t":1e300})", 0},
        {R"({"type":"pong","t":-1e300})", 0},
        {R"({"type":"pong","t":18446744073709551615})", 0},
        {R"({"type":"pong","t":9223372036854775807})", 9223372036854775807},
    };
    for (const auto& [text, t] : cases) {
        const auto message = parseOutputMessage(text);
        auto pong = as<page::Pong>(message);
        ASSERT_TRUE(pong) << text;
        EXPECT_EQ(pong->t, t) << text;
    }
}

TEST(TransportNow, FollowsTheInstalledUptimeClock) {
    ManualQueue q;
    ScopedMainQueue scope(q);
    const double start = transportNow();
    q.advance(2.5);
    EXPECT_DOUBLE_EQ(transportNow() - start, 2.5);
    q.clock().setWallMs(0);  // the wall clock does not move it
    EXPECT_DOUBLE_EQ(transportNow() - start, 2.5);

    TransportAnchor playing{4, start, true, 10};
    EXPECT_DOUBLE_EQ(playing.playhead(transportNow()), 6.5);
    TransportAnchor paused{4, start, false, 10};
    EXPECT_DOUBLE_EQ(paused.playhead(transportNow()), 4);
}
