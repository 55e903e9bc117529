#pragma once
// The application-wide key filter: show control keys reach AppState::handleKey whatever widget has focus.
#include <QObject>

#include <optional>

#include "App/Keyboard.hpp"

namespace ombry {
class AppState;
}

namespace ombry::ui {

// The show key of a Qt key code; none for keys the key tables do not use ("!" is not a digit).
std::optional<Key> showKey(int qtKey);
unsigned showModifiers(Qt::KeyboardModifiers modifiers);

class ShowKeys final : public QObject {
public:
    explicit ShowKeys(AppState& state, QObject* parent = nullptr);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    AppState& state_;
};

// Whether the widget takes typed text (line and text edits, spin boxes, editable combo boxes).
bool isTextInput(const QObject* widget);

}  // namespace ombry::ui
