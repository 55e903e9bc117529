// Every test process gets its own data, config and runtime folders, a silent log and in-memory
// user defaults, so no test touches the real home folder or another test's files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "Platform/Defaults.hpp"
#include "Platform/Log.hpp"
#include "support/TestEnv.hpp"


int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    const fs::path root = ombry::test::processRoot();
    for (const char* sub : {"data", "config", "runtime", "state"}) fs::create_directories(root / sub);
    ::setenv("XDG_DATA_HOME", (root / "data").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", (root / "runtime").c_str(), 1);
    ::setenv("XDG_STATE_HOME", (root / "state").c_str(), 1);
    fs::permissions(root / "runtime", fs::perms::owner_all, fs::perm_options::replace);

    static ombry::CapturingLogSink quietLog;
    ombry::setLogSink(&quietLog);
    static ombry::MemoryDefaults defaults;
    ombry::setStandardDefaults(&defaults);

    ::testing::InitGoogleTest(&argc, argv);
    int rc = RUN_ALL_TESTS();
    std::error_code ec;
    fs::remove_all(root, ec);
    return rc;
}
