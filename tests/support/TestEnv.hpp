#pragma once
#include <filesystem>
#include <string>

namespace ombry::test {

// The test process's own temporary root (its test homes and folders), removed when the process ends.
std::filesystem::path processRoot();
// A fresh folder under the test process's own temporary root, removed when the process ends.
std::filesystem::path tempDir(const std::string& name = "t");

// Writes text to a file, creating folders.
void writeFile(const std::filesystem::path& p, const std::string& text);
std::string readFile(const std::filesystem::path& p);

}  // namespace ombry::test
