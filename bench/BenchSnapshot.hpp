#pragma once
// The remote-control snapshot the benchmarks send and encode.
#include <string>
#include <utility>

#include "Engine/Control/ControlSnapshot.hpp"

namespace ombry::bench {

// A snapshot as the application builds it: `n` clips, 10 playlists, three layers on air.
inline ControlSnapshot snapshotOf(int n) {
    ControlSnapshot s;
    s.host = "Stage Left";
    s.rev = 1234;
    s.live = true;
    s.masterVolumeDB = -6;
    s.layers.media = ControlLayer{"media-0", "Clip 0.mov", MediaKind::video, true, 1, 1.7e12, 12.25, 300};
    s.layers.overlay = ControlLayer{"media-1", "Logo.png", MediaKind::image, false, 1, 1.7e12, {}, {}};
    s.layers.audio = ControlLayer{"media-2", "Bed.wav", MediaKind::audio, true, 0.5, 1.7e12, 80.5, 240};
    s.transport = ControlTransport{LayerId::media, 12.25, 300, true};
    for (int g = 0; g < 10; ++g) s.groups->push_back({"Playlist " + std::to_string(g), "#5f6670", "folder"});
    for (int i = 0; i < n; ++i) {
        ControlClip c;
        c.index = i + 1;
        c.id = "6F1C2A4E-3B7D-4F0A-9E21-" + std::to_string(100000000000 + i);
        c.name = "Clip " + std::to_string(i) + ".mov";
        c.kind = i % 7 == 0 ? MediaKind::image : MediaKind::video;
        if (i < n * 4 / 5) c.playlist = "Playlist " + std::to_string(i % 10);
        if (c.kind == MediaKind::video) c.duration = 12.5 + i;
        c.live = i < 3;
        c.thumbAt = 1.7e12 + i;
        s.clips.push_back(std::move(c));
    }
    return s;
}

// The playheads of snapshotOf's media and audio layers, running from now.
inline PlayheadAnchors playingAnchors() {
    const double now = transportNow();
    return {{LayerId::media, TransportAnchor{12.25, now, true, 300}}, {LayerId::audio, TransportAnchor{80.5, now, true, 240}}};
}

}  // namespace ombry::bench
