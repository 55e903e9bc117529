#include "Ui/Widgets/Popover.hpp"

#include <QGuiApplication>
#include <QScreen>

#include <algorithm>

namespace ombry::ui {

Popover::Popover(QWidget* parent) : QFrame(parent, Qt::Popup) {
    setFrameShape(QFrame::StyledPanel);
    setAttribute(Qt::WA_DeleteOnClose, false);
}

QPoint Popover::placement(const QSize& size, const QRect& anchor, const QRect& available, int gap) {
    int x = anchor.center().x() - size.width() / 2;
    int y = anchor.bottom() + 1 + gap;
    if (y + size.height() > available.bottom() + 1 && anchor.top() - gap - size.height() >= available.top())
        y = anchor.top() - gap - size.height();
    x = std::clamp(x, available.left(), std::max(available.left(), available.right() + 1 - size.width()));
    y = std::clamp(y, available.top(), std::max(available.top(), available.bottom() + 1 - size.height()));
    return {x, y};
}

void Popover::showAt(const QRect& globalAnchor) {
    adjustSize();
    QScreen* screen = QGuiApplication::screenAt(globalAnchor.center());
    if (!screen) screen = QGuiApplication::primaryScreen();
    const QRect available = screen ? screen->availableGeometry() : QRect(globalAnchor.topLeft(), QSize(4096, 4096));
    move(placement(sizeHint().expandedTo(size()), globalAnchor, available));
    show();
}

void Popover::hideEvent(QHideEvent* event) {
    QFrame::hideEvent(event);
    emit closed();
}

}  // namespace ombry::ui
