#include <gtest/gtest.h>

#include "App/ProjectOps.hpp"
#include "App/SavedPlaylistOps.hpp"
#include "Engine/Model/Issues.hpp"
#include "Engine/Library/Store.hpp"
#include "Engine/Model/TextBytes.hpp"
#include "Platform/Product.hpp"
#include "support/TestEnv.hpp"

using namespace ombry;
namespace fs = std::filesystem;

namespace {

// Records what the operations ask of the application state.
struct RecordingApp : AppServices {
    std::set<SidebarItem> current{SidebarItem::allPlaylists()};
    std::vector<std::set<SidebarItem>> selections;
    int probes = 0;
    const std::set<SidebarItem>& selection() const override { return current; }
    void setSelection(std::set<SidebarItem> s) override {
        selections.push_back(s);
        current = std::move(s);
    }
    void probeMissing() override { ++probes; }
};

struct ScriptedPanels : FilePanels {
    std::optional<fs::path> answer;
    std::vector<SavePanelRequest> saves;
    std::vector<OpenPanelRequest> opens;
    std::optional<fs::path> runSavePanel(const SavePanelRequest& r) override {
        saves.push_back(r);
        return answer;
    }
    std::optional<fs::path> runOpenPanel(const OpenPanelRequest& r) override {
        opens.push_back(r);
        return answer;
    }
};

MediaItem clip(const std::string& id, const std::string& path) {
    MediaItem m;
    m.id = id;
    m.kind = MediaKind::video;
    m.name = fs::path(path).filename().string();
    m.path = path;
    m.addedAt = 1;
    return m;
}

struct ProjectsTest : ::testing::Test {
    ManualQueue q;
    ScopedMainQueue scope{q};
    Library library;
    ProgramStore program;
    RecordingApp app;
    ScriptedPanels panels;
    MemoryClipboard clipboard;
    AppProjects projects{library, program, app, panels};
    AppSavedPlaylists saved{library, app, clipboard};
    int libraryChanges = 0;

    void SetUp() override {
        // The support folder is per process: start each test from an empty one.
        for (const auto& e : fs::directory_iterator(Store::dir()))
            if (e.path() != Store::projectsDir() && e.path() != Store::mediaDir() &&
                e.path() != Store::thumbnailDir())
                fs::remove_all(e.path());
        for (const auto& e : fs::directory_iterator(Store::projectsDir())) fs::remove_all(e.path());
        IssueLog::shared().clear();
        library.onChange = [this] { ++libraryChanges; };
    }
    ProjectDoc readProject(const fs::path& p) { return decodeJsonText<ProjectDoc>(test::readFile(p)); }
    fs::path writeProject(const std::string& name, ProjectDoc doc) {
        fs::path p = Store::projectsDir() / (name + ".ombry");
        Store::saveDoc(doc, p);
        return p;
    }
};

}  // namespace

TEST_F(ProjectsTest, FirstStartCreatesAnUntitledProjectWithTheDefaultStage) {
    program.setStage([](StageConfig& s) { s.width = 640; });
    projects.openInitialProject();
    const fs::path untitled = Store::projectsDir() / "Untitled.ombry";
    ASSERT_EQ(projects.currentProjectURL(), untitled);
    ProjectDoc doc = readProject(untitled);
    EXPECT_EQ(doc.name, "Untitled");
    EXPECT_TRUE(doc.media.empty());
    EXPECT_EQ(program.state().stage, StageConfig{});
    EXPECT_EQ(projects.currentProjectId(), doc.id);
    EXPECT_EQ(libraryChanges, 0);
    EXPECT_TRUE(app.selections.empty());
    RecentsStore recents = decodeJsonText<RecentsStore>(test::readFile(RecentsStore::file()));
    EXPECT_EQ(recents.lastOpenPath, untitled.string());
}

TEST_F(ProjectsTest, StartUpReopensTheLastProject) {
    ProjectDoc show = ProjectDoc::make("Show");
    show.stage = StageConfig{1280, 720, 30, "transparent"};
    const fs::path path = writeProject("Show", show);
    RecentsStore r;
    r.remember({"OTHER", "Other", "/nowhere/Other.ombry", 1});
    r.remember({show.id, "Show", path.string(), 2});
    r.save();
    projects.openInitialProject();
    EXPECT_EQ(projects.currentProjectURL(), path);
    EXPECT_EQ(library.projectName(), "Show");
    EXPECT_EQ(program.state().stage.width, 1280);
    ASSERT_EQ(projects.recentsStore().recents.size(), 1u);  // the vanished one was dropped
    EXPECT_EQ(projects.recentsStore().recents[0].id, show.id);
}

TEST_F(ProjectsTest, LegacyLibraryIsMigratedOnceAndKept) {
    LibraryDoc legacy{{clip("A", "/media/a.mov")}, {}};
    Group g;
    g.id = "G";
    g.name = "Old";
    g.mediaIds = {"A"};
    legacy.groups.push_back(g);
    Store::saveDoc(legacy, Store::dir() / "library.json");

    projects.openInitialProject();
    const fs::path def = Store::projectsDir() / "Default.ombry";
    ASSERT_EQ(projects.currentProjectURL(), def);
    ProjectDoc first = readProject(def);
    EXPECT_EQ(first.name, "Default");
    EXPECT_EQ(first.media.at(0).id, "A");
    EXPECT_EQ(first.groups.at(0).mediaIds, std::vector<std::string>{"A"});
    EXPECT_TRUE(fs::exists(Store::dir() / "library.json"));

    // Next start without a usable last project: the existing Default is opened, not made again.
    fs::remove(RecentsStore::file());
    AppProjects again{library, program, app, panels};
    again.openInitialProject();
    EXPECT_EQ(again.currentProjectURL(), def);
    EXPECT_EQ(again.currentProjectId(), first.id);
}

TEST_F(ProjectsTest, StartUpNeverWritesOverAnUnreadableDocument) {
    test::writeFile(Store::projectsDir() / "Untitled.ombry", "{\"from\": \"a newer version\"}");
    projects.openInitialProject();
    EXPECT_EQ(projects.currentProjectURL(), Store::projectsDir() / "Untitled 2.ombry");
    EXPECT_EQ(library.projectName(), "Untitled 2");
    EXPECT_EQ(test::readFile(Store::projectsDir() / "Untitled.ombry"), "{\"from\": \"a newer version\"}");

    // The same for the migration target.
    test::writeFile(Store::projectsDir() / "Default.ombry", "garbage");
    Store::saveDoc(LibraryDoc{}, Store::dir() / "library.json");
    fs::remove(RecentsStore::file());
    AppProjects again{library, program, app, panels};
    again.openInitialProject();
    EXPECT_EQ(again.currentProjectURL(), Store::projectsDir() / "Default 2.ombry");
    EXPECT_EQ(test::readFile(Store::projectsDir() / "Default.ombry"), "garbage");
}

TEST_F(ProjectsTest, OpeningAProject) {
    projects.openInitialProject();
    program.setStage([](StageConfig& s) { s.fps = 25; });
    ProjectDoc show = ProjectDoc::make("Show");
    show.media = {clip("A", "/media/a.mov")};
    const fs::path path = writeProject("Show", show);
    app.current = {SidebarItem::playlist("X")};

    projects.openProject(path);
    EXPECT_EQ(library.projectId(), show.id);
    EXPECT_EQ(app.current, std::set<SidebarItem>{SidebarItem::allPlaylists()});
    EXPECT_EQ(app.probes, 1);
    EXPECT_EQ(libraryChanges, 1);
    EXPECT_EQ(program.state().stage.fps, 60);
    EXPECT_EQ(projects.recentsStore().recents.front().path, path.string());

    projects.openProject(path);  // already open: not even re-read
    EXPECT_EQ(app.probes, 1);

    const fs::path bad = Store::projectsDir() / "notes.ombry";
    test::writeFile(bad, "hello");
    projects.openProject(bad);
    projects.openProject(Store::projectsDir() / "missing.ombry");
    projects.openProject(bad);
    EXPECT_EQ(projects.currentProjectURL(), path);
    ASSERT_EQ(IssueLog::shared().recent().size(), 2u);
    const Issue& issue = IssueLog::shared().recent()[0];
    EXPECT_EQ(issue.code, IssueCode::projectOpenFailed);
    EXPECT_EQ(issue.subject, "notes.ombry");
    EXPECT_EQ(issue.count, 2);
}

TEST_F(ProjectsTest, NewAndSaveAsThroughThePanels) {
    projects.openInitialProject();
    Group g = library.createGroup(std::string("Keep"));
    library.setStage(StageConfig{800, 600, 50, "#000000"});

    const fs::path copy = test::tempDir("elsewhere") / "Tour.ombry";
    panels.answer = copy;
    projects.promptSaveProjectAs();
    ASSERT_EQ(panels.saves.size(), 1u);
    EXPECT_EQ(panels.saves[0].suggestedName, "Untitled.ombry");
    EXPECT_EQ(panels.saves[0].directory, Store::projectsDir());
    EXPECT_TRUE(panels.saves[0].canCreateFolders);
    EXPECT_EQ(panels.saves[0].mimeType, projectMimeType);
    ProjectDoc saved = readProject(copy);
    EXPECT_EQ(saved.name, "Tour");
    EXPECT_NE(saved.id, decodeJsonText<ProjectDoc>(test::readFile(Store::projectsDir() / "Untitled.ombry")).id);
    EXPECT_EQ(saved.groups.at(0).id, g.id);
    EXPECT_EQ(saved.stage->width, 800);
    EXPECT_EQ(projects.currentProjectURL(), copy);
    EXPECT_TRUE(app.selections.empty());  // save as leaves the selection alone

    // Save As suggests the open project's own name; a new project always starts as "Untitled".
    panels.answer.reset();
    projects.promptSaveProjectAs();  // cancelled
    projects.promptNewProject();     // cancelled
    ASSERT_EQ(panels.saves.size(), 3u);
    for (const auto& [request, suggested] : {std::pair{panels.saves[1], "Tour.ombry"},
                                             std::pair{panels.saves[2], "Untitled.ombry"}}) {
        EXPECT_EQ(request.suggestedName, suggested);
        EXPECT_EQ(request.directory, Store::projectsDir()) << suggested;
        EXPECT_TRUE(request.canCreateFolders) << suggested;
        EXPECT_EQ(request.mimeType, projectMimeType) << suggested;
    }
    EXPECT_EQ(projects.currentProjectURL(), copy);
    EXPECT_TRUE(panels.opens.empty());

    panels.answer = Store::projectsDir() / "Fresh.ombry";
    projects.promptNewProject();
    EXPECT_EQ(library.projectName(), "Fresh");
    EXPECT_TRUE(library.groups().empty());
    EXPECT_EQ(app.current, std::set<SidebarItem>{SidebarItem::allPlaylists()});
    EXPECT_EQ(projects.recentsStore().recents.size(), 3u);
}

TEST_F(ProjectsTest, ProjectNamesThatAreNotUtf8AreRefusedWithASentence) {
    projects.openInitialProject();
    const auto before = projects.currentProjectURL();
    const fs::path folder = test::tempDir("bytes");
    const fs::path bad = folder / "Caf\xE9.ombry";
    Store::saveDoc(ProjectDoc::make("Cafe"), bad);  // a readable project under a name that is not UTF-8
    const fs::path inBadFolder = folder / "D\xFCr" / "Show.ombry";
    struct Case {
        std::function<void()> run;
        IssueCode code;
        std::string subject;
    };
    const std::vector<Case> cases{
        {[&] { projects.openProject(bad); }, IssueCode::projectOpenFailed, "Caf\\xE9.ombry"},
        {[&] { projects.saveProjectAs(bad); }, IssueCode::projectSaveFailed, "Caf\\xE9.ombry"},
        {[&] { projects.newProject("Show", inBadFolder); }, IssueCode::projectSaveFailed, "Show.ombry"},
    };
    for (const auto& c : cases) {
        IssueLog::shared().clear();
        c.run();
        EXPECT_EQ(projects.currentProjectURL(), before);
        ASSERT_EQ(IssueLog::shared().recent().size(), 1u) << c.subject;
        EXPECT_EQ(IssueLog::shared().recent()[0].code, c.code);
        EXPECT_EQ(IssueLog::shared().recent()[0].subject, c.subject);
    }
    EXPECT_FALSE(fs::exists(inBadFolder));
    for (const auto& r : projects.recentsStore().recents) EXPECT_TRUE(isUtf8(r.path)) << showBytes(r.path);
}

TEST_F(ProjectsTest, OpenPanelAsksForOneProjectFileWhereverTheDesktopStarts) {
    projects.openInitialProject();
    const fs::path show = writeProject("Show", ProjectDoc::make("Show"));

    projects.promptOpenProject();  // cancelled
    EXPECT_EQ(projects.currentProjectURL(), Store::projectsDir() / "Untitled.ombry");
    panels.answer = show;
    projects.promptOpenProject();
    EXPECT_EQ(projects.currentProjectURL(), show);
    EXPECT_EQ(library.projectName(), "Show");

    ASSERT_EQ(panels.opens.size(), 2u);
    for (const OpenPanelRequest& r : panels.opens) {
        EXPECT_EQ(r.directory, std::nullopt);
        EXPECT_FALSE(r.allowsMultiple);
        EXPECT_FALSE(r.canChooseFolders);
        EXPECT_EQ(r.mimeType, projectMimeType);
    }
    EXPECT_TRUE(panels.saves.empty());
}

TEST_F(ProjectsTest, CopyAndPastePlaylists) {
    projects.openInitialProject();
    library.setMedia({clip("A", "/media/a.mov"), clip("B", "/media/b.mov")});
    Group one = library.createGroup(std::string("One"), std::nullopt, "star");
    library.addToGroup(one.id, "A");
    library.addToGroup(one.id, "ghost");
    Group two = library.createGroup(std::string("Two"));
    library.addToGroup(two.id, "B");

    saved.copyPlaylists({"nope"});
    EXPECT_FALSE(saved.canPastePlaylist());
    saved.copyPlaylists({one.id, two.id});
    ASSERT_TRUE(saved.canPastePlaylist());
    auto onClipboard = decodeJsonText<std::vector<SavedPlaylistSnapshot>>(*clipboard.data(product::playlistClipboardType));
    ASSERT_EQ(onClipboard.size(), 2u);
    EXPECT_EQ(onClipboard[0].media.size(), 1u);  // the id without a clip is left out
    EXPECT_EQ(clipboard.data(product::playlistClipboardType)->find('\n'), std::string::npos);

    saved.pastePlaylists();
    saved.pastePlaylists();
    ASSERT_EQ(library.groups().size(), 6u);
    EXPECT_EQ(library.groups()[4].name, "One");
    EXPECT_EQ(library.groups()[5].name, "Two");
    EXPECT_EQ(app.current, (std::set<SidebarItem>{SidebarItem::playlist(library.groups()[4].id),
                                                 SidebarItem::playlist(library.groups()[5].id)}));
    EXPECT_NE(library.groups()[2].mediaIds, library.groups()[4].mediaIds);
    EXPECT_EQ(library.media().size(), 6u);
    EXPECT_EQ(app.probes, 2);

    // A clip whose path is Latin-1 bytes cannot come in by the clipboard: such data is not JSON text.
    const std::string latin1 = "[{\"id\": \"S\", \"name\": \"x\", \"savedAt\": 1, \"media\": [{\"id\": \"A\", "
                               "\"kind\": \"video\", \"name\": \"caf\xe9.mp4\", \"path\": \"/m/caf\xe9.mp4\", "
                               "\"addedAt\": 1}]}]";
    for (const std::string& junk :
         {std::string("[]"), std::string("not json"), std::string("[{\"id\": 1}]"), latin1}) {
        clipboard.clearAndSet(product::playlistClipboardType, junk);
        saved.pastePlaylists();
    }
    EXPECT_EQ(library.groups().size(), 6u);
    EXPECT_EQ(app.probes, 2);
}

TEST_F(ProjectsTest, SavedPlaylistsLibrary) {
    projects.openInitialProject();
    library.setMedia({clip("A", (Store::mediaDir() / "up.mov").string()),
                      clip("B", (Store::mediaDir() / "sub" / "deep.mov").string()), clip("C", "/elsewhere/c.mov")});
    Group g = library.createGroup(std::string("Set"));
    for (auto id : {"A", "B", "C"}) library.addToGroup(g.id, id);

    saved.saveGroupToLibrary(g.id);
    saved.saveGroupToLibrary(g.id);
    saved.saveGroupToLibrary("nope");
    ASSERT_EQ(saved.savedPlaylists().playlists.size(), 2u);
    EXPECT_EQ(SavedPlaylistsStore::load(), saved.savedPlaylists());
    EXPECT_EQ(saved.savedPlaylistManagedFilenames(), std::set<std::string>{"up.mov"});

    const std::string first = saved.savedPlaylists().playlists[0].id;
    auto imported = saved.importSavedPlaylist(first);
    ASSERT_TRUE(imported);
    EXPECT_EQ(library.groups().back().id, *imported);
    EXPECT_EQ(library.groups().back().color, Library::defaultGroupColor);
    EXPECT_EQ(app.probes, 1);
    EXPECT_TRUE(app.selections.empty());
    EXPECT_FALSE(saved.importSavedPlaylist("nope"));

    saved.deleteSavedPlaylist(first);
    EXPECT_EQ(SavedPlaylistsStore::load().playlists.size(), 1u);

    // An unreadable saved-playlists file is kept aside, and the next save starts a new one.
    test::writeFile(SavedPlaylistsStore::file(), "{broken");
    AppSavedPlaylists fresh{library, app, clipboard};
    fresh.load();
    EXPECT_TRUE(fresh.savedPlaylists().playlists.empty());
    bool aside = false;
    for (const auto& e : fs::directory_iterator(Store::dir()))
        aside |= e.path().filename().string().starts_with("savedPlaylists.json.unreadable-");
    EXPECT_TRUE(aside);
}
