// The main of widget tests: the process folders and in-memory defaults of every test, then a QApplication
// on the offscreen platform with a pinned font at scale 1. A Qt warning fails the test that caused it.
#ifdef OMBRY_UI_TEST_APP_GL
#include "Ui/Qt/QtGpu.hpp"  // epoxy before Qt's headers
#endif
#include <gtest/gtest.h>

#include <QApplication>
#include <QFont>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <filesystem>

#include "Platform/Defaults.hpp"
#include "Platform/Log.hpp"
#include "support/TestEnv.hpp"
#include "UiTestSupport.hpp"
#include "../XvfbServer.hpp"


namespace {

QtMessageHandler previous = nullptr;

void failOnWarnings(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtWarningMsg || type == QtCriticalMsg || type == QtFatalMsg) {
        // What the offscreen platform cannot do (raise, grab the keyboard …) is not a fault of the test.
        const bool allowed = message.startsWith(QStringLiteral("This plugin does not support")) ||
                             ombry::ui_test::warningAllowed(message);
        if (!allowed) ADD_FAILURE() << "Qt " << (type == QtWarningMsg ? "warning" : "error") << ": "
                                    << message.toStdString();
    }
    if (previous) previous(type, context, message);
}

}  // namespace

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    const fs::path root = ombry::test::processRoot();
    for (const char* sub : {"data", "config", "runtime", "state"}) fs::create_directories(root / sub);
    ::setenv("XDG_DATA_HOME", (root / "data").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", (root / "runtime").c_str(), 1);
    ::setenv("XDG_STATE_HOME", (root / "state").c_str(), 1);
    fs::permissions(root / "runtime", fs::perms::owner_all, fs::perm_options::replace);
    // Real-window tests (OMBRY_UI_XVFB set) run on a private X server of their own.
    std::unique_ptr<ombry::test::XvfbServer> xvfb;
    bool realWindows = std::getenv("OMBRY_UI_XVFB") != nullptr;
#ifdef OMBRY_UI_TEST_XVFB
    realWindows = true;
#endif
    if (realWindows) {
        xvfb = std::make_unique<ombry::test::XvfbServer>();
        if (!xvfb->running()) {
            std::fprintf(stderr, "no X server: %s\n", xvfb->error().c_str());
            return 1;
        }
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    }
    // One 1920×1080 offscreen screen without window frames, so sizes are those of a desktop.
    if (const char* p = std::getenv("QT_QPA_PLATFORM"); !p || std::string(p) == "offscreen") {
        const fs::path config = root / "offscreen.json";
        std::FILE* f = std::fopen(config.c_str(), "w");
        std::fputs(R"({"synchronousWindowSystemEvents": false, "windowFrameMargins": false, "screens": [)"
                   R"({"name": "Screen 1", "x": 0, "y": 0, "width": 1920, "height": 1080, "logicalDpi": 96,)"
                   R"( "logicalBaseDpi": 96, "dpr": 1}]})",
                   f);
        std::fclose(f);
        ::setenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + config.string()).c_str(), 1);
    }
    ::setenv("QT_SCALE_FACTOR", "1", 1);
    ::unsetenv("QT_SCREEN_SCALE_FACTORS");
    ::setenv("QT_ENABLE_HIGHDPI_SCALING", "0", 1);

    static ombry::CapturingLogSink quietLog;
    ombry::setLogSink(&quietLog);
    static ombry::MemoryDefaults defaults;
    ombry::setStandardDefaults(&defaults);

    previous = qInstallMessageHandler(failOnWarnings);
#ifdef OMBRY_UI_TEST_APP_GL
    // Program windows share the stage texture, as in the application.
    ombry::ui::prepareApplicationGl();
#endif
    QApplication app(argc, argv);
    QApplication::setFont(QFont(QStringLiteral("DejaVu Sans"), 10));

    ::testing::InitGoogleTest(&argc, argv);
    int rc = RUN_ALL_TESTS();
    if (xvfb) QApplication::closeAllWindows();
    std::error_code ec;
    fs::remove_all(root, ec);
    return rc;
}
