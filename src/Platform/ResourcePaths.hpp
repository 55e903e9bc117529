#pragma once
// Where the shipped resources are looked for (Paths.cpp), for the packaging self-test.
#include <filesystem>
#include <vector>

namespace ombry::paths {

// In this order: "<executable folder>/resources", "<prefix>/share/ombry", and last the source tree this
// program was built from (what resource() falls back to).
std::vector<std::filesystem::path> resourceRoots();
// The first of them that exists: what an installed tree uses; the source tree only when nothing was
// installed. Empty when none exists.
std::filesystem::path resourceRoot();

}  // namespace ombry::paths
