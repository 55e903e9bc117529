#pragma once
// The allocator's share of a long show: decoder threads start and end with every take, and glibc gives each
// new thread an arena of its own up to eight per core, whose freed pages it keeps. These bound that.

namespace ombry::platform {

// Limits the allocator to a few arenas and has pictures (a megabyte and more) mapped on their own, so that
// a frame freed is a frame given back; call once at start-up, before the threads. Leaves limits set in the
// environment (MALLOC_ARENA_MAX, MALLOC_MMAP_THRESHOLD_) alone.
void boundAllocator();

// Hands freed pages of every arena back to the system: for a thread that has just torn down a player,
// never the frame loop. At most once per `minInterval` seconds; true when it trimmed.
bool returnFreedMemory(double minInterval = 2.0);

}  // namespace ombry::platform
