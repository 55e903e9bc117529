#pragma once
#include <functional>
#include <string>

namespace ombry {

// A new random UUID as an upper-case string ("E621E1F8-C36C-495A-93FC-0C247A3E6E5F").
std::string makeUuid();
// True for the 36-character 8-4-4-4-12 hexadecimal form (either case).
bool isUuid(const std::string& s);
// Tests may make ids predictable; an empty function restores random ids.
void setUuidGenerator(std::function<std::string()> gen);

}  // namespace ombry
