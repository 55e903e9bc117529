#pragma once

namespace ombry::media {

// Format of the decoded audio a player hands to its processor: the file's own rate and channel count.
struct AudioFormat {
    double sampleRate = 44100;
    int channels = 2;
    bool isFloat32 = true;
    bool interleaved = false;
};

// One block of decoded float32 samples, processed in place. Planar: planes[c] for each channel;
// interleaved: planes[0] holds frames * channels samples.
struct AudioBlock {
    int frames = 0;
    int channels = 0;
    bool interleaved = false;
    float* const* planes = nullptr;
};

// The hook a player calls on its audio thread for every decoded block, before the monitor output.
// Implementations take no locks and do not allocate in process().
class AudioProcessor {
public:
    virtual ~AudioProcessor() = default;
    virtual void prepare(const AudioFormat& format) = 0;
    virtual void process(AudioBlock& block) = 0;
    virtual void unprepare() {}
};

}  // namespace ombry::media
