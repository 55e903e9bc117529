#pragma once
// The toolbar's rules without a widget: the project name cut in the middle to the width it is given.
#include <QFont>
#include <QString>

#include <functional>

namespace ombry::ui::toolbar {

// Text width in pixels.
using Measure = std::function<qreal(const QString&)>;

// The project label's font: 16 px, semibold.
QFont projectLabelFont();

// Of k kept characters, floor(k × 58 / 100) go in front of "…" and the rest behind it.
int frontCharacters(int kept);

// The name when it fits; else its first and last characters around "…", keeping the most characters that
// fit (at least two in front and two behind, fitting or not; a name of four characters or fewer is kept
// whole). Characters are what a reader counts
// (grapheme clusters), so an accent or an emoji is never cut in two.
QString middleTruncated(const QString& name, qreal width, const Measure& measure);
// Measured in the project label's font.
QString middleTruncated(const QString& name, qreal width);

}  // namespace ombry::ui::toolbar
