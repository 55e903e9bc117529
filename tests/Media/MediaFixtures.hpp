#pragma once
#include <filesystem>
#include <string>

#include "Platform/Media/VideoFrame.hpp"

namespace ombry::test {

// Makes (once per process) a small media file with the ffmpeg CLI: `args` are the input and codec
// options; the file goes to `name` in a process-wide fixture folder. Empty path when ffmpeg fails.
std::filesystem::path mediaFixture(const std::string& name, const std::string& args);

// Runs a shell command; its exit status.
int run(const std::string& command);

// Frames of the counting clips encode their number n as luma 4n: the centre pixel gives it back.
int frameNumber(const media::VideoFrame& f);

// Centre pixel's alpha (0 to 255), from the A plane or the BGRA bytes.
int centreAlpha(const media::VideoFrame& f);

// 2 s, 30 fps, 64x48 H.264 (lossless, B-frames), frame numbers in luma; no audio.
std::filesystem::path countingClip(double seconds = 2.0);

}  // namespace ombry::test
