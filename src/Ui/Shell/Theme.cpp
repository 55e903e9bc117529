#include "Ui/Shell/Theme.hpp"

#include <QWidget>

#include <QApplication>
#include <QPalette>
#include <QStyleFactory>

namespace ombry::ui::theme {

QColor surface() { return QColor::fromRgbF(1, 1, 1, 0.045f); }
QColor hairline() { return QColor::fromRgbF(1, 1, 1, 0.08f); }
QColor live() { return QColor(255, 69, 58); }
QColor black() { return QColor(255, 159, 10); }
QColor layerBackground() { return QColor(10, 132, 255); }
QColor layerMedia() { return QColor(64, 200, 224); }
QColor layerOverlay() { return QColor(191, 90, 242); }
QColor layerAudio() { return QColor(255, 55, 95); }
QColor yellow() { return QColor(255, 214, 10); }
QColor orange() { return black(); }
QColor windowBackground() { return QColor(30, 30, 32); }
QColor secondaryText() { return QColor::fromRgbF(235 / 255.0f, 235 / 255.0f, 245 / 255.0f, 0.6f); }
QColor tertiaryText() { return QColor::fromRgbF(235 / 255.0f, 235 / 255.0f, 245 / 255.0f, 0.3f); }
QColor separator() { return QColor::fromRgbF(1, 1, 1, 0.12f); }

QFont monoCaption() {
    QFont f(QStringLiteral("DejaVu Sans Mono"));
    f.setStyleHint(QFont::Monospace);
    f.setPixelSize(10);
    return f;
}

QString styleSheet() {
    return QStringLiteral(
        "QMainWindow, QDialog { background: #1e1e20; }"
        "QSplitter::handle { background: rgba(255,255,255,0.12); }"
        "QToolTip { color: #f0f0f0; background: #2c2c2e; border: 1px solid rgba(255,255,255,0.12); }");
}

QString glassButtonStyle(const QColor& tint, int radius, int fontPixels) {
    auto rgba = [&](double alpha) {
        return QStringLiteral("rgba(%1,%2,%3,%4)").arg(tint.red()).arg(tint.green()).arg(tint.blue()).arg(alpha);
    };
    return QStringLiteral(
               "QPushButton { background: %1; border: 1px solid %2; border-radius: %5px; color: %6;"
               " font-size: %7px; font-weight: 500; padding: 0 11px; }"
               "QPushButton:hover { background: %3; }"
               "QPushButton:pressed { background: %4; }"
               "QPushButton:disabled { background: rgba(255,255,255,0.04); border-color: rgba(255,255,255,0.06);"
               " color: rgba(235,235,245,0.3); }")
        .arg(rgba(0.12), rgba(0.28), rgba(0.18), rgba(0.3))
        .arg(radius)
        .arg(tint.name())
        .arg(fontPixels);
}

void apply(QApplication& app) {
    app.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QPalette p;
    const QColor text(235, 235, 240), dim(140, 140, 148);
    p.setColor(QPalette::Window, windowBackground());
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, QColor(24, 24, 26));
    p.setColor(QPalette::AlternateBase, QColor(40, 40, 43));
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, QColor(50, 50, 54));
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, Qt::white);
    p.setColor(QPalette::Highlight, QColor(10, 132, 255));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::ToolTipBase, QColor(44, 44, 46));
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, dim);
    p.setColor(QPalette::Disabled, QPalette::Text, dim);
    p.setColor(QPalette::Disabled, QPalette::ButtonText, dim);
    p.setColor(QPalette::Disabled, QPalette::WindowText, dim);
    app.setPalette(p);
    app.setStyleSheet(styleSheet());
}

QFont sized(QFont font, int pixels, QFont::Weight weight) {
    font.setPixelSize(pixels);
    font.setWeight(weight);
    return font;
}

void colourText(QWidget* widget, const QColor& colour) {
    QPalette pal = widget->palette();
    pal.setColor(QPalette::WindowText, colour);
    widget->setPalette(pal);
}

}  // namespace ombry::ui::theme
