#include "Ui/Shell/Application.hpp"

#include "Ui/Settings/OnboardingView.hpp"

#include <QApplication>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>

#include <thread>

#include <fmt/format.h>

#include "App/ServerLinks.hpp"
#include "Engine/Library/Store.hpp"
#include "Platform/Bluetooth/BluezPeripheral.hpp"
#include "Platform/Dnssd/Advertiser.hpp"
#include "Platform/Log.hpp"
#include "Ui/Qt/DisplayOutputWindow.hpp"
#include "Ui/Qt/NativeStageView.hpp"

namespace ombry::ui {

std::function<void(std::function<void()>)> Application::cloudQuitBeacon;

Application::Application() : panels_([this]() -> QWidget* { return window_.get(); }) {
    setMainQueue(&queue_);
    // The fatal alert blocks until the operator presses "Quit"; the process then ends with status 1.
    Issue::setFatalPresenter([](const std::string& message, const std::string& informative) {
        QMessageBox box(QMessageBox::Critical, QStringLiteral("Ombry"), QString::fromStdString(message));
        box.setInformativeText(QString::fromStdString(informative));
        box.addButton(QStringLiteral("Quit"), QMessageBox::AcceptRole);
        box.exec();
    });
    auto made = QtGpuContext::create();
    if (!made.context) {
        logLine(LogLevel::error, "app", "GL context: " + made.error, false);
        Issue::fatal(IssueCode::rendererFailed);
    }
    gpu_.reset(static_cast<QtGpuContext*>(made.context.release()));
    // The stage's programs compile on a thread of their own while the state and the window are made here;
    // launch() waits for them before the first show.
    std::unique_ptr<StageProgramBuild> programs;
    if (QOpenGLContext::supportsThreadedOpenGL()) programs = StageProgramBuild::start(gpu_->createShared());

    AppEnvironment env;
    env.screens = &screens_;
    env.panels = &panels_;
    env.clipboard = &clipboard_;
    env.makeRenderer = [this, pending = std::make_shared<std::unique_ptr<StageProgramBuild>>(std::move(programs))](
                           MeterEngine* meters) {
        RendererOptions options;
        const QScreen* screen = QGuiApplication::primaryScreen();
        const double rate = screen && screen->refreshRate() > 1 ? screen->refreshRate() : 60.0;
        options.frameClock = std::make_unique<VsyncFrameClock>(rate, vsync_);
        return NativeStageRenderer::create(*gpu_, meters, std::move(options), std::move(*pending));
    };
    env.beep = [] { QApplication::beep(); };
    ServerLinkOptions links;
    links.advertiser = dnssd::makeAvahiAdvertiser();
    links.peripherals = bt::bluezPeripheralFactory();
    links.hostName = AppState::hostName();
    addServerLinks(env, std::move(links));
    state_ = std::make_unique<AppState>(std::move(env));
    state_->displays().setWindowFactory(
        std::make_unique<QtDisplayWindowFactory>(state_->previewRenderer(), *gpu_, screens_, vsync_));
    signals_ = std::make_unique<StateSignals>(*state_);

    updater_ = std::make_unique<UpdaterController>(Preferences::shared(), dialogs_, UpdaterController::installed(),
                                                   [this]() -> QWidget* { return window_.get(); });
    ViewContext context{*state_, *signals_, Preferences::shared(), dialogs_, windows_, pointer_,
                        [](NativeStageRenderer& renderer, QWidget* parent) -> QWidget* {
                            return new ProgramPreviewNative(renderer, parent);
                        },
                        &reveal_, updater_.get()};
    window_ = std::make_unique<MainWindowController>(std::move(context));
    window_->onCloseRequested = [this] { requestQuit(true); };
    // The controller's display, for the rule that keeps program windows off it.
    state_->mainWindowDisplay = [this]() -> std::optional<DisplayId> {
        QScreen* screen = window_ ? window_->screen() : nullptr;
        if (!screen) return std::nullopt;
        return screens_.idOf(screen);
    };

    // The window's close decides; nothing else ends the loop behind its back.
    QApplication::setQuitOnLastWindowClosed(false);
}

Application::~Application() {
    window_.reset();
    // The event loop that frees a preview abandoned in a stuck swap has ended: one whose presenter returns
    // soon is freed here, while the renderer and its context still exist; one still stuck is left.
    if (const int left = NativeStageView::freeAbandoned(NativeStageView::stopTimeout))
        Diag::note("DSP", fmt::format("{} preview(s) still stuck in a swap at exit", left));
    // After the window and its settings pane, which follow it.
    updater_.reset();
    signals_.reset();
    state_.reset();
    gpu_.reset();
    setMainQueue(nullptr);
}

void Application::openDocument(const std::filesystem::path& file) {
    std::error_code ec;
    const auto absolute = std::filesystem::absolute(file, ec);
    state_->projects().openProject(ec ? file : absolute);
}

void Application::launch() {
    // Before any window shows, as when the renderer cannot be made at all.
    state_->awaitRenderer();
    const StageProgramStats& built = state_->previewRenderer().compositor().programStats();
    logLine(LogLevel::info, "app",
            fmt::format("stage programs built in {:.0f} ms on {}; the window waited {:.0f} ms for them",
                        built.buildSeconds * 1000,
                        built.builtOn == std::this_thread::get_id() ? "the main thread" : "a worker thread",
                        built.waitedSeconds * 1000),
            false);
    bringForward();
    // The first-run sheet, once, over the main window.
    presentOnboardingIfNeeded(window_.get(), Preferences::shared());
    state_->start();
}

void Application::bringForward() {
    window_->showWindow();
    window_->raise();
    window_->activateWindow();
}

void Application::requestQuit(bool ask) {
    if (quitting_ || (asking_ && ask)) return;
    const bool onAir = state_->program.isLive() || state_->outputReady();
    if (ask && onAir && !window_->quitConfirmed) {
        asking_ = true;
        window_->confirmQuitWhileOnAir([this](bool quit) {
            asking_ = false;
            if (quitting_) return;
            if (!quit) {
                window_->showWindow();
                return;
            }
            window_->quitConfirmed = true;
            shutdown();
        });
        return;
    }
    shutdown();
}

void Application::shutdown() {
    quitting_ = true;
    auto beacon = std::exchange(cloudQuitBeacon, nullptr);
    if (!beacon) return finishShutdown();
    // The inbox's offline notice, awaited at most two seconds.
    QTimer::singleShot(quitBeaconTimeoutMs, this, [this] { finishShutdown(); });
    beacon([this] { QMetaObject::invokeMethod(this, [this] { finishShutdown(); }, Qt::QueuedConnection); });
}

void Application::finishShutdown() {
    if (finished_) return;
    finished_ = true;
    window_->closeForQuit();
    // Outputs stop and the project and settings are on disk before the loop ends.
    for (DisplayId id : state_->displays().openDisplays()) state_->displays().close(id);
    state_->library.writeDoc();
    QApplication::quit();
}

}  // namespace ombry::ui
