#include "support/TestEnv.hpp"

#include <unistd.h>

#include <atomic>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace ombry::test {

fs::path processRoot() {
    static const fs::path root = [] {
        fs::path base = fs::temp_directory_path() / ("ombry-test-" + std::to_string(::getpid()));
        fs::remove_all(base);
        fs::create_directories(base);
        return base;
    }();
    return root;
}

fs::path tempDir(const std::string& name) {
    static std::atomic<int> counter{0};
    fs::path p = processRoot() / (name + "-" + std::to_string(counter++));
    fs::create_directories(p);
    return p;
}

void writeFile(const fs::path& p, const std::string& text) {
    if (p.has_parent_path()) fs::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary);
    out << text;
}

std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

}  // namespace ombry::test
