#include "Platform/Ndi/NdiRuntime.hpp"

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <type_traits>
#include <vector>

#include "Platform/Paths.hpp"

namespace ombry::ndi {

struct RuntimeLoader {
    static RuntimeResult load() {
        std::vector<std::string> candidates;
        if (const char* dir = std::getenv(runtimeDirVariable); dir && *dir)
            candidates.push_back((std::filesystem::path(dir) / libraryName).string());
        // Where users drop the vendor library.
        candidates.push_back((paths::executableDir() / libraryName).string());
        candidates.emplace_back(libraryName);

        std::string errors;
        for (const std::string& path : candidates) {
            void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
            if (!handle) {
                const char* e = ::dlerror();
                errors += (errors.empty() ? "" : "; ") + std::string(e ? e : path + ": cannot be loaded");
                continue;
            }
            std::shared_ptr<Runtime> rt(new Runtime());
            rt->handle_ = handle;
            rt->path_ = path;
            std::string missing;
            auto bind = [&](auto& fn, const char* symbol) {
                fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(::dlsym(handle, symbol));
                if (!fn) missing += (missing.empty() ? "" : ", ") + std::string(symbol);
            };
            bind(rt->initialize, "NDIlib_initialize");
            bind(rt->sendCreate, "NDIlib_send_create");
            bind(rt->sendDestroy, "NDIlib_send_destroy");
            bind(rt->sendVideoV2, "NDIlib_send_send_video_v2");
            bind(rt->sendAudioV2, "NDIlib_send_send_audio_v2");
            bind(rt->sendGetNoConnections, "NDIlib_send_get_no_connections");
            if (missing.empty()) return {std::move(rt), {}};
            errors += (errors.empty() ? "" : "; ") + path + " lacks " + missing;
        }
        return {nullptr, errors};
    }
};

Runtime::~Runtime() {
    if (handle_) ::dlclose(handle_);
}

RuntimeResult loadRuntime() { return RuntimeLoader::load(); }

}  // namespace ombry::ndi
