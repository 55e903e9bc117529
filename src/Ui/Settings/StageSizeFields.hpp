#pragma once
// The stage's custom size: a "Width" and a "Height" whole-number field bound to the live stage. Each applies
// its value when the operator presses Return or the field loses focus; the stage keeps it within its limits
// (10 becomes 16) and the field then shows what the stage holds. Remembering a custom size is the caller's
// business (the output pane, the toolbar's tip).
#include <QLineEdit>
#include <QWidget>

#include <cstdint>
#include <functional>

#include "Ui/Bridge/StateSignals.hpp"

namespace ombry::ui {

class RefreshGate;

// A whole-number field over a stored value: shows `read()` (no grouping separators), and on Return or focus
// loss hands a number to `commit`; text that is no whole number is not applied and the stored value shows
// again. While the operator edits, a change elsewhere does not overwrite the text.
class WholeNumberField final : public QLineEdit {
    Q_OBJECT
public:
    WholeNumberField(std::function<std::int64_t()> read, std::function<void(std::int64_t)> commit,
                     QWidget* parent = nullptr);
    // Shows the stored value unless an edit is under way.
    void refresh();

protected:
    void focusOutEvent(QFocusEvent* event) override;

private:
    void apply();
    std::function<std::int64_t()> read_;
    std::function<void(std::int64_t)> commit_;
};

// A field bound to the stage's frame rate through AppState::setStageFps ("Frames per second"), following the
// stage as it changes.
WholeNumberField* stageFpsField(AppState& state, StateSignals& stateSignals, QWidget* parent = nullptr);

class StageSizeFields final : public QWidget {
    Q_OBJECT
public:
    StageSizeFields(AppState& state, StateSignals& stateSignals, QWidget* parent = nullptr);
    WholeNumberField* widthField() const { return width_; }
    WholeNumberField* heightField() const { return height_; }

private:
    void refresh();
    WholeNumberField* width_ = nullptr;
    WholeNumberField* height_ = nullptr;
    RefreshGate* gate_ = nullptr;
};

}  // namespace ombry::ui
