#pragma once
// The remote-control tests' fixture: the application state over the real renderer on the headless context
// and the virtual clock, with what the tests of commands and of the snapshot read.
#include <algorithm>
#include <cmath>
#include <limits>

#include "AppStateFixture.hpp"
#include "Engine/Control/ControlSnapshot.hpp"

namespace ombry::app_test {

class ControlTest : public AppStateTest {
protected:
    // A playback report of the layer's cue at `seconds`, as the renderer would give it.
    void report(LayerId layer, double seconds) {
        const auto& cue = onAir(layer);
        ASSERT_TRUE(cue);
        app->program.recordStatus(TransportStatus{layer, cue->cueId, cue->mediaId, seconds, 60, cue->playing, false});
    }
    Json snapshotJson() { return Json::parse(wireText(app->controlSnapshot())); }
    // A clip the library holds without a file: the snapshot reads only the library.
    static MediaItem clip(const std::string& id, MediaKind kind = MediaKind::video, double order = 0) {
        MediaItem m;
        m.id = id;
        m.name = "Clip " + id;
        m.kind = kind;
        m.path = "/nowhere/" + id + ".mov";
        m.order = order;
        return m;
    }
    static Group group(const std::string& id, std::vector<std::string> ids) {
        Group g;
        g.id = id;
        g.name = "Playlist " + id;
        g.mediaIds = std::move(ids);
        return g;
    }
};

}  // namespace ombry::app_test
