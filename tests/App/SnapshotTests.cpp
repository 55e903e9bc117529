// The snapshot remotes receive, built from the application state and compared as parsed JSON.
#include "ControlFixture.hpp"

using namespace ombry;
using namespace ombry::app_test;
using namespace ombry::control;

TEST_F(ControlTest, AnEmptyProgramHasFourNullLayersNoTransportAndAnEmptyPlaylistList) {
    make();
    app->library.setMedia({clip("a"), clip("b", MediaKind::audio)});
    Json j = snapshotJson();
    EXPECT_EQ(j["type"], "state");
    EXPECT_EQ(j["apiVersion"], 3);
    EXPECT_EQ(j["live"], false);
    EXPECT_EQ(j["black"], false);
    EXPECT_EQ(j["muted"], false);
    EXPECT_EQ(j["masterVolumeDB"], 0);
    EXPECT_EQ(j["rev"], app->program.state().rev);
    EXPECT_EQ(j["layers"], Json::parse(R"({"background":null,"media":null,"overlay":null,"audio":null})"));
    EXPECT_FALSE(j.contains("transport"));
    EXPECT_EQ(j["groups"], Json::array());
    ASSERT_EQ(j["clips"].size(), 2u);
    for (const auto& c : j["clips"]) EXPECT_EQ(c["live"], false);
    if (AppState::hostName()) {
        EXPECT_EQ(j["host"], *AppState::hostName());
    } else {
        EXPECT_FALSE(j.contains("host"));
    }
}

TEST_F(ControlTest, RemoteClipNumbersRunThroughThePlaylistsThenTheClipsInNone) {
    make();
    std::vector<MediaItem> media;
    for (int i = 1; i <= 9; ++i) media.push_back(clip("c" + std::to_string(i), MediaKind::video, 10 - i));
    media[8].kind = MediaKind::audio;
    media[7].kind = MediaKind::image;
    media[6].layer = LayerId::overlay;
    media[0].duration = 12.5;
    media[0].thumbAt = 1.7e12;
    app->library.setMedia(media);
    Group first = group("g1", {"c1", "c2", "gone", "c3"});
    first.color = "#ff8800";
    first.icon = "star";
    app->library.setGroups({first, group("g2", {"c4", "c5"})});

    const Json clips = snapshotJson()["clips"];
    ASSERT_EQ(clips.size(), 9u) << clips.dump(1);
    // The clips in no playlist come last, in their board order (by `order`: c9 before c6).
    const std::vector<std::string> ids{"c1", "c2", "c3", "c4", "c5", "c9", "c8", "c7", "c6"};
    for (std::size_t i = 0; i < ids.size(); ++i) {
        EXPECT_EQ(clips[i]["index"], i + 1);
        EXPECT_EQ(clips[i]["id"], ids[i]);
        EXPECT_EQ(clips[i].contains("playlist"), i < 5) << ids[i];
    }
    EXPECT_EQ(clips[0], Json::parse(R"({"index":1,"id":"c1","name":"Clip c1","kind":"video","layer":"media",
        "playlist":"Playlist g1","duration":12.5,"live":false,"thumbAt":1.7e12})"));
    EXPECT_EQ(clips[3]["playlist"], "Playlist g2");
    EXPECT_EQ(clips[5]["layer"], "audio");
    EXPECT_EQ(clips[6]["layer"], "media") << "an image without its own layer";
    EXPECT_EQ(clips[7]["layer"], "overlay");
    EXPECT_FALSE(clips[1].contains("duration"));
    EXPECT_FALSE(clips[1].contains("thumbAt"));
    EXPECT_EQ(snapshotJson()["groups"], Json::parse(R"([{"name":"Playlist g1","color":"#ff8800","icon":"star"},
                                                       {"name":"Playlist g2"}])"));

    // The number a remote was shown is the one it takes.
    EXPECT_EQ(app->controlBoardClips().size(), 9u);
    EXPECT_EQ(app->controlBoardClips()[5].id, "c9");
}

TEST_F(ControlTest, AClipInTwoPlaylistsIsListedTwiceNamingTheFirst) {
    make();
    app->library.setMedia({clip("a"), clip("b")});
    app->library.setGroups({group("g1", {"a"}), group("g2", {"b", "a"})});
    const Json clips = snapshotJson()["clips"];
    ASSERT_EQ(clips.size(), 3u);
    EXPECT_EQ(clips[0]["id"], "a");
    EXPECT_EQ(clips[2]["id"], "a");
    EXPECT_EQ(clips[2]["index"], 3);
    EXPECT_EQ(clips[0]["playlist"], "Playlist g1");
    EXPECT_EQ(clips[2]["playlist"], "Playlist g1");
    EXPECT_EQ(clips[1]["playlist"], "Playlist g2");
}

TEST_F(ControlTest, LayersDescribeTheirCuesAndTheTransportThePrimaryLayer) {
    make();
    const MediaItem still = add(image());
    ASSERT_TRUE(app->trigger(still, false));
    Json j = snapshotJson();
    EXPECT_EQ(j["live"], true);
    const Json& layer = j["layers"]["media"];
    EXPECT_EQ(layer["mediaId"], still.id);
    EXPECT_EQ(layer["name"], still.name);
    EXPECT_EQ(layer["kind"], "image");
    EXPECT_EQ(layer["playing"], false);
    EXPECT_EQ(layer["volume"], 1);
    EXPECT_EQ(layer["activatedAt"], app->program.activatedAt().at(LayerId::media));
    EXPECT_FALSE(layer.contains("currentTime")) << "an image has no time";
    EXPECT_FALSE(layer.contains("duration"));
    EXPECT_EQ(j["transport"]["layer"], "media") << "the image's layer is still primary";
    EXPECT_EQ(j["clips"][0]["live"], true);

    // Video on the overlay and audio on the audio layer, media empty: audio is primary.
    app->program.clearLayer(LayerId::media);
    MediaItem overlay = add(video());
    app->library.setMeta(overlay.id, [](MediaItem& m) { m.layer = LayerId::overlay; });
    overlay = *app->library.item(overlay.id);
    ASSERT_TRUE(app->trigger(overlay, false));
    ASSERT_TRUE(app->trigger(add(audio()), false));
    advance(0.2);
    report(LayerId::audio, 0.5);
    j = snapshotJson();
    EXPECT_EQ(j["transport"]["layer"], "audio");
    EXPECT_EQ(j["layers"]["media"], nullptr);
    EXPECT_TRUE(j["layers"]["overlay"].contains("currentTime"));
    EXPECT_TRUE(j["layers"]["audio"].contains("duration"));
    const auto [current, duration, playing] = app->transportProgress(LayerId::audio);
    EXPECT_EQ(j["transport"]["currentTime"], current);
    EXPECT_EQ(j["transport"]["duration"], duration);
    EXPECT_EQ(j["transport"]["playing"], playing);
    EXPECT_EQ(j["layers"]["audio"]["currentTime"], current);
}

TEST_F(ControlTest, ACueWhoseClipWasDeletedIsNamedByItsId) {
    make();
    const MediaItem a = add(video());
    ASSERT_TRUE(app->trigger(a, false));
    app->library.setMedia({});
    ASSERT_TRUE(onAir());
    EXPECT_EQ(snapshotJson()["layers"]["media"]["name"], a.id);
    EXPECT_EQ(snapshotJson()["clips"], Json::array());
}

TEST_F(ControlTest, MutedAtAFormerLevelReportsMinusSixty) {
    make();
    app->setMasterVolumeDB(-12);
    app->toggleMute();
    const Json j = snapshotJson();
    EXPECT_EQ(j["masterVolumeDB"], -60);
    EXPECT_EQ(j["muted"], true);
}

TEST_F(ControlTest, WhatTheRemotesHoldReadsAsAFreshBuildAtAnyLaterMoment) {
    make();
    const MediaItem a = add(video());
    ASSERT_TRUE(app->trigger(a, false));
    for (double step : {0.3, 0.2, 0.4}) {
        advance(step);  // the renderer's reports anchor the playhead as it plays
        ASSERT_TRUE(control->current && ble->current);
        const std::string fresh = wireText(app->controlSnapshot());
        EXPECT_EQ(control->current->text(transportNow()), fresh);
        EXPECT_EQ(ble->current->text(transportNow()), fresh);
    }
    EXPECT_GT(control->playheadUpdates, 0);

    // A seek back: the playhead is anchored anew without a new state for the remotes.
    const std::size_t pushed = control->snapshots.size();
    const auto cue = *onAir();
    app->previewRenderer().onStatus({LayerId::media, cue.cueId, a.id, 0.1, 60, true, false});
    EXPECT_EQ(control->snapshots.size(), pushed);
    EXPECT_EQ(control->current->text(transportNow()), wireText(app->controlSnapshot()));
    EXPECT_NEAR(Json::parse(control->current->text(transportNow() + 2)).at("transport").at("currentTime").get<double>(),
                2.1, 1e-9);
}

TEST_F(ControlTest, TheRemotesHearOfLevelsThatLeaveTheProgramGainAsItWas) {
    make();
    ASSERT_TRUE(app->trigger(add(image()), false));  // a first snapshot
    const auto rev = app->program.state().rev;
    // From a remote: above 0 dB the gain stays 1.
    ASSERT_EQ(app->performControl(*ControlCommand::parse("/api/volume/set?db=3")).kind, ControlResult::Kind::ok);
    EXPECT_EQ(app->program.state().rev, rev);
    ASSERT_FALSE(control->snapshots.empty());
    EXPECT_EQ(control->snapshots.back().masterVolumeDB, 3);
    EXPECT_EQ(ble->snapshots.back().masterVolumeDB, 3);
    app->performControl(*ControlCommand::parse("/api/volume/set?db=-60"));
    app->toggleMute();  // muted at the level it had: the same gain
    EXPECT_TRUE(control->snapshots.back().muted);
    EXPECT_EQ(control->current->text(transportNow()), wireText(app->controlSnapshot()));
}
