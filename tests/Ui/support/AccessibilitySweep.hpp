#pragma once
// The accessibility sweep over a window's widget tree: the controls a screen reader cannot name, and where
// a pane's tab chain leaves the visual order.
#include <QRect>
#include <QStringList>
#include <QWidget>

#include <vector>

namespace ombry::ui_test {

// Whether `b` comes after `a` in reading order: left to right within a row (either's vertical centre lies
// inside the other's extent), else top to bottom.
bool readsAfter(const QRect& a, const QRect& b);
// The positions i in a tab chain of rectangles where the step from i to i + 1 goes back in reading order.
std::vector<int> tabOrderBreaks(const std::vector<QRect>& chain);

// The shown buttons, sliders, fields, combo boxes, check boxes and cards under root whose accessible name,
// as Qt gives it to a screen reader, is empty; each described by its class and objectName path.
QStringList unnamedControls(QWidget* root);
// The steps of the window's tab chain among pane's shown controls that go back in reading order, each
// described as "<from> → <to>".
QStringList tabOrderBreaksIn(QWidget* pane);

}  // namespace ombry::ui_test
