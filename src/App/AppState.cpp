#include "App/AppState.hpp"

#include <algorithm>
#include <stdexcept>
#include <thread>

#include "Engine/Library/Store.hpp"
#include "Platform/Memory.hpp"
#include "Platform/Paths.hpp"
#include "Render/AssetWarmer.hpp"

namespace ombry {

std::filesystem::path outputBundleDir() {
    if (auto found = paths::resource("OutputBundle"); !found.empty()) return found;
    // Not shipped: where an installed copy would be, so the output server reports the missing pages itself.
    return paths::executableDir() / "resources" / "OutputBundle";
}

int AppState::probeLimitFor(unsigned cores) { return std::clamp<int>(int(std::min(cores, 64u)), 1, 6); }

AppState::AppState(AppEnvironment env)
    : program(StageConfig{initialStageWidth, initialStageHeight, initialStageFps, "transparent"}),
      env_(std::move(env)) {
    // Before the engines start their threads: a show runs for hours and its decoders come and go.
    platform::boundAllocator();
    if (!env_.fatal) env_.fatal = [](IssueCode code) { Issue::fatal(code); };
    if (!env_.warm) env_.warm = [](const std::string& path) { AssetWarmer::warm(path); };
    if (!env_.screens || !env_.panels || !env_.clipboard || !env_.makeRenderer)
        throw std::invalid_argument("AppState needs screens, panels, clipboard and a renderer factory");

    // 1. The engines.
    displays_ = std::make_unique<DisplayOutputManager>(*env_.screens);
    probeLimit_ = probeLimitFor(env_.activeCores ? env_.activeCores : std::thread::hardware_concurrency());
    meterEngine_ = std::make_unique<MeterEngine>();
    projects_ = std::make_unique<AppProjects>(library, program, *this, *env_.panels);
    savedPlaylists_ = std::make_unique<AppSavedPlaylists>(library, *this, *env_.clipboard);

    // 3, 4. The output page folder, for the output server that the start-up runs.
    outputBundle_ = outputBundleDir();

    // 5. Without a renderer there is no program: the operator is told and the process ends.
    previewRenderer_ = env_.makeRenderer(meterEngine_.get());
    if (!previewRenderer_) {
        env_.fatal(IssueCode::rendererFailed);
        throw std::runtime_error("renderer unavailable");  // a fatal seam that returns still builds nothing
    }

    // 6. Settings; a missing or unreadable file keeps the defaults and writes nothing.
    if (auto stored = Store::loadDoc<AppSettings>(Store::dir() / "settings.json")) setSettings(std::move(*stored));

    // 7. Callbacks, before anything below changes the program or the library.
    makeIntake();
    wire();

    // 8 to 11.
    loadSideFiles();
    projects_->openInitialProject();
}

void AppState::awaitRenderer() {
    if (previewRenderer_->awaitPrograms()) return;
    env_.fatal(IssueCode::rendererFailed);
    throw std::runtime_error("renderer unavailable");  // a fatal seam that returns still shows nothing
}

AppState::~AppState() {
    *alive_ = false;
    IssueLog::shared().onChange = nullptr;
    advanceTask_.cancel();
    remoteDropTask_.cancel();
    companionDropTask_.cancel();
    cloudPlaylistPushTask_.cancel();
    stopCloudWork();
}

void AppState::loadSideFiles() {
    mediaRegistry_ = MediaRegistry::load();
    mediaTombstones_ = MediaTombstones::load();
    savedPlaylists_->load();
}

void AppState::setSelection(std::set<SidebarItem> selection) {
    if (selection == selection_) return;
    selection_ = std::move(selection);
    selectedIds_.clear();
    selectionAnchorId_.reset();
    notify(Aspect::sidebarSelection);
    notify(Aspect::clipSelection);
}

void AppState::setProjectNameWidth(int width) {
    if (width == projectNameWidth_) return;
    projectNameWidth_ = width;
    notify(Aspect::project);
}

void AppState::setSlidesLinkSheetOpen(bool open) {
    if (open == slidesLinkSheetOpen_) return;
    slidesLinkSheetOpen_ = open;
    notify(Aspect::imports);
}

void AppState::clearUnsupportedFilePrompt() {
    if (!intake_->unsupportedFilePrompt()) return;
    intake_->clearUnsupportedFilePrompt();
    notify(Aspect::imports);
}

void AppState::clearCapacityAlert() {
    if (!intake_->capacityAlert()) return;
    intake_->clearCapacityAlert();
    notify(Aspect::imports);
}

}  // namespace ombry
