#include "Ui/Widgets/ElidedLabel.hpp"

#include <algorithm>

namespace ombry::ui {

ElidedLabel::ElidedLabel(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

void ElidedLabel::setFullText(const QString& text) {
    full_ = text;
    setToolTip(text);
    setAccessibleName(text);
    elide();
}

QSize ElidedLabel::minimumSizeHint() const { return {0, QLabel::minimumSizeHint().height()}; }
QSize ElidedLabel::sizeHint() const { return {fontMetrics().horizontalAdvance(full_), QLabel::sizeHint().height()}; }

void ElidedLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    elide();
}

void ElidedLabel::elide() { setText(fontMetrics().elidedText(full_, Qt::ElideMiddle, std::max(width(), 1))); }

}  // namespace ombry::ui
