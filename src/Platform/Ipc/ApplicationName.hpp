#pragma once
#include <string>

namespace ombry {

// The name other programs show for this one: the display name the application gave itself at start-up
// when it did, else the process name, else "". Any thread.
std::string applicationName();
// Set once by the application (its user-visible name); "" goes back to the process name.
void setApplicationDisplayName(const std::string& name);

}  // namespace ombry
