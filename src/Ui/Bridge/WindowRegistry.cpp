#include "Ui/Bridge/WindowRegistry.hpp"

#include <QGuiApplication>
#include <QScreen>

namespace ombry::ui {

QWidget* WindowRegistry::open(const QString& id) {
    QPointer<QWidget>& slot = windows_[id];
    if (!slot) {
        auto f = factories_.find(id);
        if (f == factories_.end() || !f->second) return nullptr;
        slot = f->second();
        if (!slot) return nullptr;
        slot->setObjectName(id);
        slot->adjustSize();
        if (QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect frame = slot->frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            slot->move(frame.topLeft());
        }
    }
    slot->show();
    slot->raise();
    slot->activateWindow();
    return slot;
}

QWidget* WindowRegistry::window(const QString& id) const {
    auto it = windows_.find(id);
    return it == windows_.end() ? nullptr : it->second.data();
}

void WindowRegistry::closeAll() {
    for (auto& [id, w] : windows_)
        if (w) w->close();
}

}  // namespace ombry::ui
