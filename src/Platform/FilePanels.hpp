#pragma once
#include <filesystem>
#include <optional>
#include <string>

namespace ombry {

// Modal open and save panels. Each returns the chosen file, or nothing when cancelled.
struct SavePanelRequest {
    std::string suggestedName;
    std::optional<std::filesystem::path> directory;  // absent: the desktop's default
    bool canCreateFolders = true;
    std::string mimeType;  // only files of this type
};

struct OpenPanelRequest {
    std::optional<std::filesystem::path> directory;
    bool allowsMultiple = false;
    bool canChooseFolders = false;
    std::string mimeType;
};

class FilePanels {
public:
    virtual ~FilePanels() = default;
    virtual std::optional<std::filesystem::path> runSavePanel(const SavePanelRequest& request) = 0;
    virtual std::optional<std::filesystem::path> runOpenPanel(const OpenPanelRequest& request) = 0;
};

}  // namespace ombry
