#include "Ui/Shell/MainWindowRules.hpp"

#include <algorithm>
#include <cmath>
#include <regex>
#include <sstream>

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

std::string frameText(const SavedFrame& saved) {
    const QRect& f = saved.frame;
    const QMargins& m = saved.margins;
    std::ostringstream out;
    out << f.x() << ' ' << f.y() << ' ' << f.width() << ' ' << f.height() << ' ' << m.left() << ' ' << m.top() << ' '
        << m.right() << ' ' << m.bottom();
    return out.str();
}

std::optional<SavedFrame> savedFrame(const std::string& text) {
    static const std::regex shape(R"(\s*(-?\d{1,6})(\s+-?\d{1,6}){7}\s*)");
    if (!std::regex_match(text, shape)) return std::nullopt;
    std::istringstream in(text);
    int x, y, w, h, l, t, r, b;
    in >> x >> y >> w >> h >> l >> t >> r >> b;
    if (std::min({l, t, r, b}) < 0 || w <= l + r || h <= t + b) return std::nullopt;
    return SavedFrame{QRect(x, y, w, h), QMargins(l, t, r, b)};
}

SavedFrame fittedFrame(const SavedFrame& saved, const std::vector<QRect>& available) {
    if (available.empty()) return saved;
    const QRect& f = saved.frame;
    QRect area = available.front();
    long long most = 0;
    for (const QRect& a : available) {
        const QRect common = a.intersected(f);
        const long long overlap = common.isEmpty() ? 0 : (long long)common.width() * common.height();
        if (overlap > most) {
            most = overlap;
            area = a;
        }
    }
    const QMargins& m = saved.margins;
    const int w = std::max(std::min(f.width(), area.width()), minWidth + m.left() + m.right());
    const int h = std::max(std::min(f.height(), area.height()), minHeight + m.top() + m.bottom());
    // Past the far edge first, so that a frame larger than the area keeps its near edge on it.
    const int x = std::max(std::min(f.x(), area.x() + area.width() - w), area.x());
    const int y = std::max(std::min(f.y(), area.y() + area.height() - h), area.y());
    return SavedFrame{QRect(x, y, w, h), m};
}

}  // namespace ombry::ui::mainwindow
