#include "App/ProjectOps.hpp"

#include "Engine/Model/Issues.hpp"
#include "Engine/Library/Store.hpp"
#include "Engine/Model/TextBytes.hpp"
#include "Platform/Clock.hpp"

namespace fs = std::filesystem;

namespace ombry {
namespace {

// "<stem>.ombry" in the projects folder when that file is free or a readable project; otherwise
// "<stem> 2.ombry", "<stem> 3.ombry" ... so an existing file is never written over. A readable one is
// returned as it is; a free one gets the document that `make` builds for its name, written there.
std::pair<ProjectDoc, fs::path> openOrCreate(const std::string& stem,
                                             const std::function<ProjectDoc(const std::string&)>& make) {
    for (int n = 1;; ++n) {
        const std::string name = n == 1 ? stem : stem + " " + std::to_string(n);
        const fs::path url = Store::projectsDir() / (name + ".ombry");
        auto read = Store::readDoc<ProjectDoc>(url);
        if (read.value) return {*read.value, url};
        if (read.exists) continue;
        ProjectDoc doc = make(name);
        Store::saveDoc(doc, url);
        return {doc, url};
    }
}

bool samePath(const fs::path& a, const fs::path& b) { return a.lexically_normal() == b.lexically_normal(); }

// The recents and the next launch keep a project's path as UTF-8 text: a path that is not would be
// replaced there, and the project lost at the next start. Nothing when the path can be used.
std::optional<std::string> nameRefusal(const fs::path& url) {
    if (isUtf8(url.native())) return std::nullopt;
    const std::string name = url.filename().native();
    if (!isUtf8(name))
        return "\u201C" + showBytes(name) +
               "\u201D can't be used: the project's name isn't valid UTF-8 text. Choose another name, then try again.";
    return "\u201C" + showBytes(name) + "\u201D can't be used: the name of its folder \u201C" +
           showBytes(url.parent_path().native()) +
           "\u201D isn't valid UTF-8 text. Choose another folder, then try again.";
}

// Refused projects are reported as the operation's failure, with the sentence attached.
bool refused(const fs::path& url, IssueCode code) {
    const auto why = nameRefusal(url);
    if (!why) return false;
    IssueLog::shared().report(code, showBytes(url.filename().native()), *why, true);
    return true;
}

}  // namespace

AppProjects::AppProjects(Library& library, ProgramStore& program, AppServices& app, FilePanels& panels)
    : library_(library), program_(program), app_(app), panels_(panels) {}

void AppProjects::adoptProject(const ProjectDoc& doc, const fs::path& url, bool fireChange) {
    library_.adopt(doc, url, fireChange);
    currentProjectURL_ = url;
    currentProjectId_ = doc.id;
    const StageConfig stage = doc.stage.value_or(StageConfig{});
    program_.setStage([&](StageConfig& s) { s = stage; });
    recentsStore_.remember({doc.id, doc.name, url.string(), appClock().wallMs()});
    recentsStore_.save();
    if (onChange) onChange();
}

void AppProjects::openInitialProject() {
    recentsStore_ = RecentsStore::load();
    if (recentsStore_.lastOpenPath) {
        const fs::path last = *recentsStore_.lastOpenPath;
        if (auto doc = Store::readDoc<ProjectDoc>(last).value) {
            adoptProject(*doc, last, false);
            return;
        }
    }
    if (auto migrated = migrateLegacyLibraryIfNeeded()) {
        adoptProject(migrated->first, migrated->second, false);
        return;
    }
    auto [doc, url] = openOrCreate("Untitled", [](const std::string& name) { return ProjectDoc::make(name); });
    adoptProject(doc, url, false);
}

std::optional<std::pair<ProjectDoc, fs::path>> AppProjects::migrateLegacyLibraryIfNeeded() {
    // The legacy file is only read; it stays where it is.
    auto legacy = Store::readDoc<LibraryDoc>(Store::dir() / "library.json");
    if (!legacy.value) return std::nullopt;
    return openOrCreate("Default", [&](const std::string& name) {
        ProjectDoc doc = ProjectDoc::make(name);
        doc.media = legacy.value->media;
        doc.groups = legacy.value->groups;
        return doc;
    });
}

void AppProjects::openProject(const fs::path& url) {
    if (currentProjectURL_ && samePath(*currentProjectURL_, url)) return;
    if (refused(url, IssueCode::projectOpenFailed)) return;
    auto read = Store::readDoc<ProjectDoc>(url);
    if (!read.value) {
        IssueLog::shared().report(IssueCode::projectOpenFailed, url.filename().string(), std::nullopt, true);
        return;
    }
    program_.clearAll();
    app_.setSelection({SidebarItem::allPlaylists()});
    adoptProject(*read.value, url, true);
    app_.probeMissing();
}

void AppProjects::newProject(const std::string& name, const fs::path& url) {
    if (refused(url, IssueCode::projectSaveFailed)) return;
    ProjectDoc doc = ProjectDoc::make(name);
    Store::saveDoc(doc, url);
    program_.clearAll();
    app_.setSelection({SidebarItem::allPlaylists()});
    adoptProject(doc, url, true);
}

void AppProjects::saveProjectAs(const fs::path& url) {
    if (refused(url, IssueCode::projectSaveFailed)) return;
    ProjectDoc doc = ProjectDoc::make(url.stem().string());
    doc.media = library_.media();
    doc.groups = library_.groups();
    doc.stage = library_.stage();
    Store::saveDoc(doc, url);
    adoptProject(doc, url, true);
}

void AppProjects::promptNewProject() {
    auto url = panels_.runSavePanel({"Untitled.ombry", Store::projectsDir(), true, projectMimeType});
    if (url) newProject(url->stem().string(), *url);
}

void AppProjects::promptOpenProject() {
    auto url = panels_.runOpenPanel({std::nullopt, false, false, projectMimeType, {}, {}});
    if (url) openProject(*url);
}

void AppProjects::promptSaveProjectAs() {
    auto url = panels_.runSavePanel({library_.projectName() + ".ombry", Store::projectsDir(), true, projectMimeType});
    if (url) saveProjectAs(*url);
}

}  // namespace ombry
