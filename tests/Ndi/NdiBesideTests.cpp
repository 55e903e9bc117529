#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "Platform/Ndi/NdiRuntime.hpp"
#include "Platform/Paths.hpp"
#include "support/TestEnv.hpp"

namespace ombry {
namespace {

namespace fs = std::filesystem;

// This program's folder holds a copy of the fake runtime (see the build file).
TEST(NdiRuntimeBesideExecutable, IsFoundWithoutTheVariableAndWhenTheVariablesFolderLacksIt) {
    const fs::path beside = paths::executableDir() / ndi::libraryName;
    ASSERT_TRUE(fs::exists(beside)) << beside;
    for (const bool variableSet : {false, true}) {
        SCOPED_TRACE(variableSet ? "variable names an empty folder" : "no variable");
        if (variableSet)
            ::setenv(ndi::runtimeDirVariable, test::tempDir("no-ndi").c_str(), 1);
        else
            ::unsetenv(ndi::runtimeDirVariable);
        const auto loaded = ndi::loadRuntime();
        ASSERT_TRUE(loaded.runtime) << loaded.error;
        EXPECT_EQ(fs::path(loaded.runtime->path()), beside);
        EXPECT_TRUE(loaded.runtime->initialize && loaded.runtime->sendCreate);
    }
    ::unsetenv(ndi::runtimeDirVariable);
}

TEST(NdiRuntimeBesideExecutable, TheVariablesFolderComesFirst) {
    ::setenv(ndi::runtimeDirVariable, FAKE_NDI_DIR, 1);
    const auto loaded = ndi::loadRuntime();
    ASSERT_TRUE(loaded.runtime) << loaded.error;
    EXPECT_EQ(fs::path(loaded.runtime->path()), fs::path(FAKE_NDI_DIR) / ndi::libraryName);
    ::unsetenv(ndi::runtimeDirVariable);
}

}  // namespace
}  // namespace ombry
