#include "Ui/Shell/ToolbarRules.hpp"

#include <QFontMetricsF>
#include <QTextBoundaryFinder>

#include <vector>

namespace ombry::ui::toolbar {

QFont projectLabelFont() {
    static const QFont font = [] {
        QFont f;
        f.setPixelSize(16);
        f.setWeight(QFont::DemiBold);
        return f;
    }();
    return font;
}

int frontCharacters(int kept) { return kept * 58 / 100; }

QString middleTruncated(const QString& name, qreal width, const Measure& measure) {
    if (measure(name) <= width) return name;
    // Grapheme boundaries: the positions where a reader's character starts.
    std::vector<qsizetype> starts;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, name);
    for (qsizetype at = 0; at >= 0 && at < name.size(); at = finder.toNextBoundary()) starts.push_back(at);
    const int n = int(starts.size());
    auto character = [&](int i) { return i < n ? starts[std::size_t(i)] : name.size(); };
    auto candidate = [&](int kept) {
        const int front = frontCharacters(kept), back = kept - front;
        return name.left(character(front)) + QChar(0x2026) + name.mid(character(n - back));
    };
    // Four characters or fewer: cutting would only make the name longer (or repeat its characters).
    if (n <= 4) return name;
    int lo = 4, hi = n;
    while (lo < hi) {
        const int mid = (lo + hi + 1) / 2;
        if (measure(candidate(mid)) <= width)
            lo = mid;
        else
            hi = mid - 1;
    }
    return candidate(lo);
}

QString middleTruncated(const QString& name, qreal width) {
    const QFontMetricsF metrics(projectLabelFont());
    return middleTruncated(name, width, [&metrics](const QString& s) { return metrics.horizontalAdvance(s); });
}

}  // namespace ombry::ui::toolbar
