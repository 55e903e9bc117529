#pragma once
#include <functional>

namespace ombry {

// A process-wide pool of detached threads ("dispatch channels") that run the message senders' delivery
// work. A source is a work block with a reference count and a count of pending fires: each fire gets one
// run, a source never runs on two channels at once, and the pool never keeps more threads than sources.
struct SyphonDispatchSource;

inline constexpr const char* syphonDispatchThreadName = "info.v002.syphon.dispatch";

// Null for an empty block. The caller holds the one reference.
SyphonDispatchSource* SyphonDispatchSourceCreate(std::function<void()> block);
// Runs once the last reference is gone: on the channel thread that dropped it after a run, otherwise on a
// channel of its own, never on the releasing thread.
void SyphonDispatchSourceSetCompletionBlock(SyphonDispatchSource* source, std::function<void()> completion);
// Returns at once.
void SyphonDispatchSourceFire(SyphonDispatchSource* source);
void SyphonDispatchSourceRelease(SyphonDispatchSource* source);

struct SyphonDispatchCounts {
    int sources = 0;   // live sources
    int channels = 0;  // channel threads not told to quit
    int running = 0;   // sources launched and not yet finished
};
SyphonDispatchCounts syphonDispatchCounts();

}  // namespace ombry
