#pragma once
#include <string>

namespace ombry {

// Names the calling thread. The kernel keeps only 15 bytes, so the full name is also kept per thread.
void setCurrentThreadName(const std::string& name);
// The full name given to setCurrentThreadName, or "" for a thread never named that way.
const std::string& currentThreadName();

}  // namespace ombry
