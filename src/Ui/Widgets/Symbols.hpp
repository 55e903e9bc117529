#pragma once
// Symbols by the names the views use ("play.fill", "list.bullet"), drawn from the Material icons font by
// ligature name, in any colour at any size.
#include <QColor>
#include <QFont>
#include <QIcon>
#include <QPixmap>
#include <QString>

#include <optional>
#include <string_view>

class QPainter;

namespace ombry::ui::symbols {

// The Material ligature of a symbol name; none for a name the table does not hold.
std::optional<std::string_view> ligature(std::string_view name);
// The icon font at this pixel size; loaded from the installed font on first use.
QFont font(int pixelSize);
// Whether the icon font was found.
bool available();
// Draws the symbol centred in the rectangle; a name without a glyph draws nothing.
void draw(QPainter& painter, const QRectF& rect, std::string_view name, const QColor& color);
QPixmap pixmap(std::string_view name, int size, const QColor& color, qreal devicePixelRatio = 1);
QIcon icon(std::string_view name, int size, const QColor& color);

}  // namespace ombry::ui::symbols
