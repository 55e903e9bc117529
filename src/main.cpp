// The application entry: the command line, the self-test, then the window and the show.
#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Platform/LogFile.hpp"
#include "Platform/Memory.hpp"
#include "App/SelfTest.hpp"
#include "Platform/Product.hpp"
#include "Platform/Version.hpp"
#include "Ui/Qt/QtGpu.hpp"
#include "Ui/Shell/Application.hpp"
#include "Ui/Shell/CommandLine.hpp"
#include "Ui/Shell/QuitSignals.hpp"
#include "Ui/Shell/SingleInstance.hpp"
#include "Ui/Shell/Theme.hpp"

int main(int argc, char** argv) {
    // Before any thread: a show runs for hours and its decoders come and go.
    ombry::platform::boundAllocator();
    using namespace ombry;
    using namespace ombry::ui;
    std::vector<std::string> args(argv + 1, argv + argc);
    const CommandLine line = parseCommandLine(args);
    switch (line.action) {
        case CommandLine::Action::refuse:
            std::fprintf(stderr, "%s\n", line.error.c_str());
            return 2;
        case CommandLine::Action::help:
            std::fputs(helpText("ombry").c_str(), stdout);
            return 0;
        case CommandLine::Action::version:
            std::printf("%s %s\n", product::name, version::shortVersion);
            return 0;
        case CommandLine::Action::selftest: {
            // Before anything else, and without a display: it checks the installed tree only.
            const auto tree = selftest::runningTree();
            const auto checks = selftest::run(tree);
            for (const auto& l : selftest::report(tree, checks)) std::printf("%s\n", l.c_str());
            std::fflush(stdout);
            return selftest::exitStatus(checks);
        }
        case CommandLine::Action::run:
            break;
    }

    // Without a display Qt would abort with a message of its own.
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if ((!platform || !*platform) && !std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY")) {
        std::fprintf(stderr, "Ombry needs a graphical desktop session: no display was found (DISPLAY is not set).\n");
        return 1;
    }

    prepareApplicationGl();
    QApplication qt(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Ombry"));
    QApplication::setApplicationVersion(QString::fromLatin1(version::shortVersion));
    QApplication::setDesktopFileName(QStringLiteral("com.dovel.Ombry"));
    theme::apply(qt);

    // One Ombry per session: a later start hands its document to the running one.
    SingleInstance instance;
    if (instance.handOver(line.document)) return 0;

    // Beside the system log, a small file the Help menu can show.
    static TeeLogSink logs(makeSystemLogSink(), std::make_unique<RotatingFileSink>(logsDir()));
    setLogSink(&logs);
    Application app;
    instance.listen([&app](const std::filesystem::path& document) {
        if (!document.empty()) app.openDocument(document);
        app.bringForward();
    });
    // SIGTERM and SIGINT quit without a question, through the same shutdown as the Quit command.
    QuitSignals quitSignals([&app](int) { app.requestQuit(false); });
    if (line.document) app.openDocument(*line.document);
    app.launch();
    return QApplication::exec();
}
