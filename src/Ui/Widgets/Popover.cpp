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

QPoint Popover::placementBeside(const QSize& size, const QRect& anchor, const QRect& available, int gap) {
    int x = anchor.right() + 1 + gap;
    // Without room on the right, it goes on the left.
    if (x + size.width() > available.right() + 1 && anchor.left() - gap - size.width() >= available.left())
        x = anchor.left() - gap - size.width();
    int y = anchor.center().y() - size.height() / 2;
    x = std::clamp(x, available.left(), std::max(available.left(), available.right() + 1 - size.width()));
    y = std::clamp(y, available.top(), std::max(available.top(), available.bottom() + 1 - size.height()));
    return {x, y};
}

namespace {
QRect availableFor(const QRect& anchor) {
    QScreen* screen = QGuiApplication::screenAt(anchor.center());
    if (!screen) screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect(anchor.topLeft(), QSize(4096, 4096));
}
}  // namespace

void Popover::showAt(const QRect& globalAnchor) {
    adjustSize();
    move(placement(sizeHint().expandedTo(size()), globalAnchor, availableFor(globalAnchor)));
    show();
}

void Popover::showBeside(const QRect& globalAnchor) {
    adjustSize();
    move(placementBeside(sizeHint().expandedTo(size()), globalAnchor, availableFor(globalAnchor)));
    show();
}

void Popover::hideEvent(QHideEvent* event) {
    QFrame::hideEvent(event);
    emit closed();
}

}  // namespace ombry::ui
