#pragma once

namespace ombry::platform {

// What a thread does, which decides how far its priority is raised.
enum class ThreadRole {
    audio,      // real-time sound: a late pass is an audible gap
    presenter,  // display presentation: a late swap is a dropped frame
};

// How far raiseThreadPriority got.
enum class PriorityResult {
    realtime,  // a real-time scheduling class (SCHED_FIFO)
    nice,      // the system refused real-time; the thread's nice value was lowered instead
    unchanged, // the system allowed neither
};

// Raises the calling thread's scheduling priority where the system allows it. Best effort: never
// fails, at most writes a debug line. Call it at the top of the thread's body.
PriorityResult raiseThreadPriority(ThreadRole role);

}  // namespace ombry::platform
