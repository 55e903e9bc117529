#pragma once
// The one look of the windows: dark palette, the shared colours, fonts and the style sheet.
#include <QColor>
#include <QFont>
#include <QString>

class QApplication;
class QWidget;

namespace ombry::ui::theme {

// White at 0.045: faint fill behind rows and pickers.
QColor surface();
// White at 0.08: thin lines.
QColor hairline();
// The standard red of live markers.
QColor live();
// The standard orange of a program cut to black.
QColor black();

// The layer colours of badges and rows.
QColor layerBackground();  // blue
QColor layerMedia();       // teal
QColor layerOverlay();     // purple
QColor layerAudio();       // pink
QColor yellow();
QColor orange();

QColor windowBackground();
// Secondary and tertiary text (labels, captions, dim icons).
QColor secondaryText();
QColor tertiaryText();
QColor separator();

// The small monospaced caption type of read-outs over the picture.
QFont monoCaption();
// `font` at `pixels` pixels and `weight`.
QFont sized(QFont font, int pixels, QFont::Weight weight = QFont::Normal);
// A label's (or any widget's) text in `colour`, through its palette.
void colourText(QWidget* widget, const QColor& colour);

// The translucent tinted button of the panels (a glass look): the tint at low opacity over the window, a
// thin border of it, text in the tint; brighter while pressed, dim while disabled.
QString glassButtonStyle(const QColor& tint, int radius, int fontPixels);

// Sets the dark palette, the fonts and the style sheet on the application.
void apply(QApplication& app);
QString styleSheet();

}  // namespace ombry::ui::theme
