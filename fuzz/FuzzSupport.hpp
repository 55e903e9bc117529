#pragma once
// What the fuzz targets share: a failed property aborts with a line saying which, so that libFuzzer keeps
// the input; a private folder for the files a reader needs.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include <unistd.h>

#include "Platform/Log.hpp"

#define FUZZ_CHECK(cond)                                                               \
    do {                                                                               \
        if (!(cond)) {                                                                 \
            std::fprintf(stderr, "fuzz: %s:%d: %s failed\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                              \
        }                                                                              \
    } while (0)

namespace ombry::fuzz {

// A fresh folder of this process under the temporary folder; also its HOME and XDG folders, so that the
// store the readers write to is never the user's.
inline const std::filesystem::path& scratch() {
    static const std::filesystem::path dir = [] {
        std::string tmpl = (std::filesystem::temp_directory_path() / "ombry-fuzz-XXXXXX").string();
        if (!mkdtemp(tmpl.data())) std::abort();
        std::filesystem::path d = tmpl;
        setenv("HOME", d.c_str(), 1);
        setenv("XDG_DATA_HOME", (d / "data").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (d / "config").c_str(), 1);
        setenv("XDG_CACHE_HOME", (d / "cache").c_str(), 1);
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(scratch(), ec);
        });
        return d;
    }();
    return dir;
}

// Keeps diagnostic lines out of the fuzzer's output, and out of memory over millions of runs.
inline void quietLog() {
    struct Quiet final : LogSink {
        void write(const LogRecord&) override {}
    };
    static Quiet quiet;
    static ScopedLogSink scope{quiet};
}

inline std::string_view text(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

}  // namespace ombry::fuzz

namespace ombry::fuzz {

// Well-formed UTF-8: no overlong forms, surrogates or code points past U+10FFFF.
inline bool isUtf8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t n;
        char32_t cp;
        if (c < 0x80) { ++i; continue; }
        if (c >= 0xC2 && c <= 0xDF) { n = 1; cp = c & 0x1F; }
        else if (c >= 0xE0 && c <= 0xEF) { n = 2; cp = c & 0x0F; }
        else if (c >= 0xF0 && c <= 0xF4) { n = 3; cp = c & 0x07; }
        else return false;
        for (std::size_t k = 1; k <= n; ++k) {
            if (i + k >= s.size()) return false;
            const auto cc = static_cast<unsigned char>(s[i + k]);
            if ((cc & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        if ((n == 2 && cp < 0x800) || (n == 3 && (cp < 0x10000 || cp > 0x10FFFF)) || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += n + 1;
    }
    return true;
}

}  // namespace ombry::fuzz
