#pragma once
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "Platform/Clock.hpp"
#include "Platform/Gpu/VideoFrame.hpp"
#include "Platform/MainQueue.hpp"
#include "Platform/Media/MediaAsset.hpp"
#include "Platform/Media/MediaPlayer.hpp"

namespace ombry::test {

// Makes (once per process) a small media file with the ffmpeg CLI: `args` are the input and codec
// options; the file goes to `name` in a process-wide fixture folder. Empty path when ffmpeg fails.
std::filesystem::path mediaFixture(const std::string& name, const std::string& args);

// Runs a shell command; its exit status.
int run(const std::string& command);

// Frames of the counting clips encode their number n as luma 4n: the centre pixel gives it back.
int frameNumber(const VideoFrame& f);

// Centre pixel's alpha (0 to 255), from the A plane or the BGRA bytes.
int centreAlpha(const VideoFrame& f);

// A JPEG of `size` (an even "WxH") whose upright picture has quadrants red (top left), green (top right),
// blue (bottom left) and white (bottom right), stored turned and tagged with EXIF orientation `tag`
// (1 to 8) so that applying the tag stands it upright again. `lossless`: a lossless JPEG, which
// libjpeg-turbo cannot read and FFmpeg can.
std::filesystem::path orientedJpeg(int tag, const std::string& size = "32x16", bool lossless = false);

// 2 s, 30 fps, 64x48 H.264 (lossless, B-frames), frame numbers in luma; no audio.
std::filesystem::path countingClip(double seconds = 2.0);

// A virtual main queue, a silent output, and players opened and prerolled on them.
struct PlayerRig {
    ManualQueue q;
    ScopedMainQueue scope{q};
    std::shared_ptr<media::AudioOutput> out = media::AudioOutput::createNull(false);

    std::unique_ptr<media::MediaPlayer> open(const std::filesystem::path& path, media::PlayerOptions opt = {});
    bool preroll(media::MediaPlayer& p);
    // Waits for the picture on show at the current virtual time to be `n`.
    bool frameIs(media::MediaPlayer& p, int n);
    int shown(media::MediaPlayer& p);
};

// Plays a 1 s counting clip looping from 0.2 s (frame 6): the first pass and two more, the virtual clock
// stepping a frame at a time from `lead` seconds into the first. Every frame must show in turn.
struct LoopRun {
    bool everyFrame = false;
    int ends = 0;    // end notices (none expected)
    int passes = 0;  // crossings of 0.5 s
};
LoopRun loopCountingClip(PlayerRig& rig, media::MediaPlayer& p, double lead = 0);

}  // namespace ombry::test
