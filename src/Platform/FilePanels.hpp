#pragma once
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

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
    std::string title;                    // empty: the desktop's default
    std::vector<std::string> extensions;  // lower-case, without the dot; files of these only, when given
};

class FilePanels {
public:
    virtual ~FilePanels() = default;
    virtual std::optional<std::filesystem::path> runSavePanel(const SavePanelRequest& request) = 0;
    virtual std::optional<std::filesystem::path> runOpenPanel(const OpenPanelRequest& request) = 0;
    // Every chosen item, in the panel's order; empty when cancelled.
    virtual std::vector<std::filesystem::path> runOpenPanelMultiple(const OpenPanelRequest& request) {
        if (auto one = runOpenPanel(request)) return {*one};
        return {};
    }
};

}  // namespace ombry
