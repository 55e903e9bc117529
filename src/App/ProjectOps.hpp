#pragma once
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "App/AppServices.hpp"
#include "Engine/Library/Library.hpp"
#include "Engine/Model/ProgramStore.hpp"
#include "Engine/Library/ProjectDoc.hpp"
#include "Platform/FilePanels.hpp"

namespace ombry {

// Opening, creating and saving projects, and the recent-projects record: the application state's project
// operations. Main thread only.
class AppProjects {
public:
    AppProjects(Library& library, ProgramStore& program, AppServices& app, FilePanels& panels);

    // Observable; onChange is called after they change.
    const std::optional<std::filesystem::path>& currentProjectURL() const { return currentProjectURL_; }
    const std::string& currentProjectId() const { return currentProjectId_; }
    const RecentsStore& recentsStore() const { return recentsStore_; }
    std::function<void()> onChange;

    // Once, at start-up: the last project, else the migrated legacy library, else an untitled project.
    // Never writes over an existing document.
    void openInitialProject();
    // Reports "PRJ-01" when the file is not a readable project; the open project then stays.
    void openProject(const std::filesystem::path& url);
    // A path that is not UTF-8 text is refused by all three ("PRJ-01" to open, "PRJ-02" to create or save,
    // with a sentence that says why), and nothing changes.
    void newProject(const std::string& name, const std::filesystem::path& url);
    void saveProjectAs(const std::filesystem::path& url);

    void promptNewProject();
    void promptOpenProject();
    void promptSaveProjectAs();

private:
    void adoptProject(const ProjectDoc& doc, const std::filesystem::path& url, bool fireChange);
    std::optional<std::pair<ProjectDoc, std::filesystem::path>> migrateLegacyLibraryIfNeeded();

    Library& library_;
    ProgramStore& program_;
    AppServices& app_;
    FilePanels& panels_;
    std::optional<std::filesystem::path> currentProjectURL_;
    std::string currentProjectId_;
    RecentsStore recentsStore_;
};

}  // namespace ombry
