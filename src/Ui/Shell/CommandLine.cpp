#include "Ui/Shell/CommandLine.hpp"

namespace ombry::ui {

CommandLine parseCommandLine(const std::vector<std::string>& args) {
    CommandLine c;
    bool optionsEnd = false;
    for (const std::string& a : args) {
        if (!optionsEnd && a == "--") {
            optionsEnd = true;
            continue;
        }
        if (!optionsEnd && a.size() > 1 && a[0] == '-') {
            // The self-test is asked by the whole, exact argument, also beside documents.
            if (a == "--selftest") c.action = CommandLine::Action::selftest;
            else if (a == "--help" || a == "-h") {
                if (c.action == CommandLine::Action::run) c.action = CommandLine::Action::help;
            } else if (a == "--version") {
                if (c.action == CommandLine::Action::run) c.action = CommandLine::Action::version;
            } else {
                c.action = CommandLine::Action::refuse;
                c.error = "Unknown option \"" + a + "\": see ombry --help.";
                return c;
            }
            continue;
        }
        std::filesystem::path p(a);
        if (!c.document && p.extension() == ".ombry") c.document = p;
    }
    return c;
}

std::string helpText(const std::string& program) {
    return "Usage: " + program + " [options] [project.ombry]\n"
           "Runs the playback of live shows. A second start hands its project to the running Ombry.\n"
           "\n"
           "Options:\n"
           "  --help       show this help and exit\n"
           "  --version    show the version and exit\n"
           "  --selftest   check the installed resources and exit (status 0 when all are present)\n";
}

}  // namespace ombry::ui
