#include "AccessibilitySweep.hpp"

#include <QAccessible>

#include <set>

namespace ombry::ui_test {

namespace {

bool sharesRow(const QRect& a, const QRect& b) {
    const auto inside = [](int y, const QRect& r) { return y >= r.top() && y <= r.bottom(); };
    return inside(a.center().y(), b) || inside(b.center().y(), a);
}

const std::set<QAccessible::Role>& controlRoles() {
    static const std::set<QAccessible::Role> roles{
        QAccessible::PushButton,   QAccessible::CheckBox,       QAccessible::RadioButton,
        QAccessible::Slider,       QAccessible::Dial,           QAccessible::SpinBox,
        QAccessible::ComboBox,     QAccessible::EditableText,   QAccessible::ButtonMenu,
        QAccessible::ButtonDropDown, QAccessible::Button,       QAccessible::ProgressBar,
    };
    return roles;
}

bool isControl(QWidget* w) {
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
    return a && controlRoles().count(a->role());
}

// The inner pieces of a control (a spin box's or combo box's line edit) are the control's own.
bool insideControl(QWidget* w, QWidget* root) {
    for (QWidget* p = w->parentWidget(); p && p != root->parentWidget(); p = p->parentWidget())
        if (isControl(p)) return true;
    return false;
}

bool shown(QWidget* w) { return w->isVisible(); }

QString describe(QWidget* w) {
    QString path;
    for (QWidget* p = w; p; p = p->parentWidget())
        if (!p->objectName().isEmpty()) path = path.isEmpty() ? p->objectName() : p->objectName() + "/" + path;
    return QString::fromLatin1(w->metaObject()->className()) + " " + path;
}

// Qt on Linux gives a combo box its current entry as the name, and leaves its label to a relation.
bool named(QWidget* w) {
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
    for (const auto& [label, relation] : a->relations(QAccessible::Label))
        if (label && !label->text(QAccessible::Name).trimmed().isEmpty()) return true;
    if (a->role() == QAccessible::ComboBox) return !w->accessibleName().trimmed().isEmpty();
    return !a->text(QAccessible::Name).trimmed().isEmpty();
}

QRect inWindow(QWidget* w) { return QRect(w->mapTo(w->window(), QPoint(0, 0)), w->size()); }

}  // namespace

bool readsAfter(const QRect& a, const QRect& b) {
    return sharesRow(a, b) ? b.left() >= a.left() : b.center().y() > a.center().y();
}

std::vector<int> tabOrderBreaks(const std::vector<QRect>& chain) {
    std::vector<int> breaks;
    for (size_t i = 0; i + 1 < chain.size(); ++i)
        if (!readsAfter(chain[i], chain[i + 1])) breaks.push_back(static_cast<int>(i));
    return breaks;
}

QStringList unnamedControls(QWidget* root) {
    QStringList out;
    QList<QWidget*> all = root->findChildren<QWidget*>();
    all.prepend(root);
    for (QWidget* w : all) {
        if (!shown(w) || !isControl(w) || insideControl(w, root)) continue;
        if (!named(w)) out << describe(w);
    }
    return out;
}

QStringList tabOrderBreaksIn(QWidget* pane) {
    QWidget* window = pane->window();
    std::vector<QWidget*> chain;
    for (QWidget* w = window->nextInFocusChain(); w && w != window; w = w->nextInFocusChain()) {
        if (!(w == pane || pane->isAncestorOf(w)) || !shown(w) || !w->isEnabled()) continue;
        if (!(w->focusPolicy() & Qt::TabFocus) || w->focusProxy() || insideControl(w, pane)) continue;
        chain.push_back(w);
    }
    std::vector<QRect> rects;
    for (QWidget* w : chain) rects.push_back(inWindow(w));
    QStringList out;
    for (int i : tabOrderBreaks(rects)) out << describe(chain[i]) + " → " + describe(chain[i + 1]);
    return out;
}

}  // namespace ombry::ui_test
