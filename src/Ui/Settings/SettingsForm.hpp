#pragma once
// The grouped form every settings pane is: titled sections, each a rounded box of rows, scrolling when
// taller than the window; no Apply or OK button. And the switch bound to one settings field
// (`settingsToggle`), through which the panes' on/off switches read and write AppSettings.
#include <QFrame>
#include <QLabel>
#include <QScrollArea>

#include "Engine/Library/Settings.hpp"
#include "Ui/Bridge/StateSignals.hpp"
#include "Ui/Widgets/Switch.hpp"

class QHBoxLayout;
class QVBoxLayout;

namespace ombry::ui {

// One titled section: the header over a box of rows. Hiding it hides the header too.
class SettingsGroup final : public QWidget {
    Q_OBJECT
public:
    SettingsGroup(const QString& title, QWidget* parent = nullptr);
    // A row: the label at the leading edge, the control at the trailing edge. The control's accessible name
    // is the label when it has none.
    QWidget* addRow(const QString& label, QWidget* control);
    // A row holding the widget across the whole width.
    QWidget* addWidget(QWidget* widget);
    // A button at its own width at the leading edge.
    QWidget* addButton(QWidget* button);
    // A note: caption size, secondary colour, wrapping onto as many lines as it needs.
    QLabel* addNote(const QString& text);
    QLabel* header() const { return header_; }
    // A widget at the far end of the header row (a section-wide action).
    void setHeaderAccessory(QWidget* widget);

private:
    QLabel* header_ = nullptr;
    QHBoxLayout* headerRow_ = nullptr;
    QVBoxLayout* rows_ = nullptr;
};

class SettingsForm final : public QScrollArea {
    Q_OBJECT
public:
    explicit SettingsForm(QWidget* parent = nullptr);
    // A new section at the end, named for tests.
    SettingsGroup* addSection(const QString& title, const char* objectName);
    // Any widget at the end (a section built elsewhere).
    void addWidget(QWidget* widget);

private:
    QVBoxLayout* layout_ = nullptr;
};

// Caption-sized text in the secondary colour that wraps.
QLabel* noteLabel(const QString& text, QWidget* parent = nullptr);

// A switch showing `state.settings().*field`; flipping it writes the field through AppState::setSettings,
// which saves "settings.json" and applies the settings at once. It follows the settings as they change.
Switch* settingsToggle(AppState& state, StateSignals& stateSignals, bool AppSettings::*field,
                       QWidget* parent = nullptr);

// Writes one field of the settings (a copy of the current record, changed and assigned back).
template <class T>
void writeSetting(AppState& state, T AppSettings::*field, T value) {
    AppSettings next = state.settings();
    next.*field = std::move(value);
    state.setSettings(std::move(next));
}

}  // namespace ombry::ui
