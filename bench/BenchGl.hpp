#pragma once
// The one headless GL context of a benchmark program; exits when there is none.
#include <cstdio>
#include <cstdlib>

#include "Platform/Gpu/GpuContext.hpp"

namespace ombry::bench {

inline GpuContext& glContext() {
    static GpuContextResult made = makeHeadlessGpuContext();
    if (!made.context) {
        std::fprintf(stderr, "no GL context: %s\n", made.error.c_str());
        std::exit(1);
    }
    return *made.context;
}

}  // namespace ombry::bench
