#include "Ui/Shell/MainWindowRules.hpp"

#include <algorithm>
#include <cmath>
#include <regex>

namespace ombry::ui::mainwindow {

std::optional<Dividers> firstRunDividers(int w, int handle) {
    if (w <= 0) return std::nullopt;
    const int program = int(std::max(370.0, 0.28 * w));
    return Dividers{firstSidebarWidth, w - program - handle};
}

std::vector<int> firstRunSizes(int w, int handle) {
    const auto d = firstRunDividers(w, handle);
    if (!d) return {};
    const int sidebar = d->sidebar;
    const int board = d->program - sidebar - handle;
    const int program = w - d->program - handle;
    return {sidebar, board, program};
}

int projectNameWidth(int w) {
    const int steps = int(std::floor((w - 917) / 24.0));
    return std::max(200, steps * 24);
}

QuitQuestion quitQuestion(bool live, const std::string& summary) {
    QuitQuestion q;
    q.message = live ? QStringLiteral("Quit Ombry while on air?") : QStringLiteral("Quit Ombry?");
    if (summary.empty()) {
        q.informative = QStringLiteral("Quitting stops all output immediately.");
    } else {
        QString s = QString::fromStdString(summary);
        // The first character (a whole UTF-16 pair when it is one) upper-cased, the rest unchanged.
        const int n = s.at(0).isHighSurrogate() && s.size() > 1 ? 2 : 1;
        s = s.left(n).toUpper() + s.mid(n);
        q.informative = s + QStringLiteral(". Quitting stops all output immediately.");
    }
    return q;
}

std::optional<std::string> strippedTilingState(const std::string& saved) {
    const auto brace = saved.find('{');
    if (brace == std::string::npos) return std::nullopt;
    return saved.substr(0, brace);
}

std::optional<QRect> legacyFrame(const std::string& text, const std::vector<QRect>& screens) {
    static const std::regex number(R"([-+]?(\d+\.?\d*|\.\d+)([eE][-+]?\d+)?)");
    std::vector<double> v;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), number); it != std::sregex_iterator() && v.size() < 5; ++it)
        v.push_back(std::stod(it->str()));
    if (v.size() != 4) return std::nullopt;
    const QRect r(int(std::lround(v[0])), int(std::lround(v[1])), int(std::lround(v[2])), int(std::lround(v[3])));
    if (v[2] < minWidth || !(v[3] > 0)) return std::nullopt;
    for (const QRect& s : screens)
        if (s.intersects(r)) return r;
    return std::nullopt;
}

}  // namespace ombry::ui::mainwindow
