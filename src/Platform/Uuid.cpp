#include "Platform/Uuid.hpp"

#include <uuid/uuid.h>

#include <cctype>
#include <mutex>

namespace ombry {
namespace {
std::mutex genMutex;
std::function<std::string()> generator;
}  // namespace

std::string makeUuid() {
    {
        std::lock_guard lock(genMutex);
        if (generator) return generator();
    }
    uuid_t u;
    uuid_generate_random(u);
    char buf[37];
    uuid_unparse_upper(u, buf);
    return std::string(buf);
}

bool isUuid(const std::string& s) {
    if (s.size() != 36) return false;
    for (size_t i = 0; i < s.size(); ++i) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (s[i] != '-') return false;
        } else if (!std::isxdigit(static_cast<unsigned char>(s[i]))) {
            return false;
        }
    }
    return true;
}

void setUuidGenerator(std::function<std::string()> gen) {
    std::lock_guard lock(genMutex);
    generator = std::move(gen);
}

}  // namespace ombry
