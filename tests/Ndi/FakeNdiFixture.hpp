#pragma once
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdlib>

#include "Engine/Model/Issues.hpp"
#include "FakeNdi.hpp"
#include "Platform/MainQueue.hpp"
#include "Platform/Ndi/NdiRuntime.hpp"
#include "support/TestEnv.hpp"

namespace ombry::test {

// Points the runtime loader at the fake and keeps the fake loaded for the test, so the test can steer it
// and read what it recorded.
class FakeNdi {
public:
    FakeNdi() {
        ::setenv(ndi::runtimeDirVariable, FAKE_NDI_DIR, 1);
        handle_ = ::dlopen(FAKE_NDI_DIR "/libndi.so.6", RTLD_NOW | RTLD_LOCAL);
        if (!handle_) return;
        auto get = reinterpret_cast<FakeNdiState* (*)()>(::dlsym(handle_, "fakeNdiState"));
        state_ = get ? get() : nullptr;
        if (state_) state_->reset();
    }
    ~FakeNdi() {
        if (handle_) ::dlclose(handle_);
        ::unsetenv(ndi::runtimeDirVariable);
    }
    FakeNdi(const FakeNdi&) = delete;
    FakeNdi& operator=(const FakeNdi&) = delete;

    bool loaded() const { return state_ != nullptr; }
    FakeNdiState& operator*() { return *state_; }
    FakeNdiState* operator->() { return state_; }

private:
    void* handle_ = nullptr;
    FakeNdiState* state_ = nullptr;
};

// Points the loader at an empty folder. False when a runtime can be loaded anyway (one installed on the
// machine, or the fake still resident from an earlier test of this process).
inline bool hideRuntime() {
    ::setenv(ndi::runtimeDirVariable, tempDir("no-ndi").c_str(), 1);
    if (void* resident = ::dlopen(ndi::libraryName, RTLD_NOW | RTLD_NOLOAD)) {
        ::dlclose(resident);
        return false;
    }
    return !ndi::loadRuntime().runtime;
}

// The issues of the log with this code.
inline std::vector<Issue> issuesWith(IssueCode code) {
    std::vector<Issue> found;
    for (const Issue& i : IssueLog::shared().recent())
        if (i.code == code) found.push_back(i);
    return found;
}

}  // namespace ombry::test
