// The application entry: the command line, the self-test, then the window and the show.
#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Platform/Memory.hpp"
#include "Platform/Product.hpp"
#include "Platform/Version.hpp"
#include "Ui/Qt/QtGpu.hpp"
#include "Ui/Shell/Application.hpp"
#include "Ui/Shell/CommandLine.hpp"
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
        case CommandLine::Action::selftest:
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

    Application app;
    if (line.document) app.openDocument(*line.document);
    app.launch();
    return QApplication::exec();
}
