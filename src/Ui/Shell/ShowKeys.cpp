#include "Ui/Shell/ShowKeys.hpp"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QWindow>

#include "App/AppState.hpp"

namespace ombry::ui {

std::optional<Key> showKey(int k) {
    if (k >= Qt::Key_0 && k <= Qt::Key_9) return digitKey(k - Qt::Key_0);
    if (k >= Qt::Key_A && k <= Qt::Key_Z) return letterKey(char('a' + (k - Qt::Key_A)));
    switch (k) {
        case Qt::Key_Left: return Key::left;
        case Qt::Key_Right: return Key::right;
        case Qt::Key_Up: return Key::up;
        case Qt::Key_Down: return Key::down;
        case Qt::Key_Home: return Key::home;
        case Qt::Key_PageUp: return Key::pageUp;
        case Qt::Key_PageDown: return Key::pageDown;
        case Qt::Key_Space: return Key::space;
        case Qt::Key_Escape: return Key::escape;
        default: return std::nullopt;
    }
}

unsigned showModifiers(Qt::KeyboardModifiers m) {
    unsigned out = 0;
    if (m & Qt::ShiftModifier) out |= keyShift;
    if (m & Qt::ControlModifier) out |= keyCtrl;
    if (m & Qt::AltModifier) out |= keyAlt;
    if (m & Qt::MetaModifier) out |= keyMeta;
    return out;
}

bool isTextInput(const QObject* w) {
    if (!w) return false;
    if (qobject_cast<const QLineEdit*>(w) || qobject_cast<const QTextEdit*>(w) ||
        qobject_cast<const QPlainTextEdit*>(w) || qobject_cast<const QAbstractSpinBox*>(w))
        return true;
    if (auto* combo = qobject_cast<const QComboBox*>(w)) return combo->isEditable();
    return false;
}

ShowKeys::ShowKeys(AppState& state, QObject* parent) : QObject(parent), state_(state) {}

bool ShowKeys::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress) return false;
    // An open menu or popover takes its own keys: arrows move through a menu, not the master volume.
    if (QApplication::activePopupWidget()) return false;
    // The window sees a key first; a key sent to a widget directly is taken where it lands.
    const bool first = qobject_cast<QWindow*>(watched) != nullptr ||
                       (watched->isWidgetType() && (watched == QApplication::focusWidget() ||
                                                     (!QApplication::focusWidget() && static_cast<QWidget*>(watched)->isWindow())));
    if (!first) return false;
    auto* key = static_cast<QKeyEvent*>(event);
    const auto k = showKey(key->key());
    if (!k) return false;
    if (state_.handleKey(*k, showModifiers(key->modifiers()))) {
        key->accept();
        return true;
    }
    return false;
}

}  // namespace ombry::ui
