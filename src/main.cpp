// The application entry. Until the windows exist, it starts the headless engine pieces that are built
// and reports where it keeps its files.
#include <cstdio>
#include <cstring>

#include "Platform/Paths.hpp"
#include "Platform/Product.hpp"
#include "Platform/Version.hpp"

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("%s %s\n", ombry::product::name, ombry::version::shortVersion);
            return 0;
        }
    }
    std::printf("%s %s\n", ombry::product::name, ombry::version::shortVersion);
    std::printf("support folder: %s\n", (ombry::paths::dataHome() / ombry::product::name).c_str());
    std::printf("The show engine is under construction: no window is opened yet.\n");
    return 0;
}
