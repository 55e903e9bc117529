#include "Ui/Widgets/SectionLabel.hpp"

#include "Ui/Shell/Theme.hpp"

namespace ombry::ui {

SectionLabel::SectionLabel(const QString& text, QWidget* parent)
    : QLabel(text.toUpper(), parent) {
    QFont f = font();
    f.setPixelSize(10);
    f.setWeight(QFont::DemiBold);
    f.setLetterSpacing(QFont::AbsoluteSpacing, 0.8);
    setFont(f);
    QPalette pal = palette();
    pal.setColor(QPalette::WindowText, theme::secondaryText());
    setPalette(pal);
}

}  // namespace ombry::ui
