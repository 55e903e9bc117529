#pragma once
// The "Properties" window: the file facts of the selected clip and its per-clip overrides (transition, layer,
// end action, scaling, trim), applied as they are chosen. It follows the primary selection.
#include <QScrollArea>

#include <vector>

#include "Ui/Shell/Columns.hpp"

class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QVBoxLayout;

namespace ombry::ui {

class PropertiesWindowView final : public QScrollArea {
public:
    static constexpr const char* windowId = "properties";
    PropertiesWindowView(AppState& state, StateSignals& stateSignals, QWidget* parent = nullptr);

    QComboBox* transitionPicker() const { return transition_; }
    QComboBox* layerPicker() const { return layer_; }
    QComboBox* endActionPicker() const { return endAction_; }
    QComboBox* scalingPicker() const { return scaling_; }
    QLineEdit* trimIn() const { return trimIn_; }
    QLineEdit* trimOut() const { return trimOut_; }
    // The facts box's rows as shown: label and value.
    std::vector<std::pair<QString, QString>> factRows() const;
    // Sized by its content: 340 wide, 320 to 560 high.
    QSize sizeHint() const override;

private:
    struct PropertyRow;
    void refresh();
    const MediaItem* item() const;
    QWidget* propertyRow(const QString& label, QWidget* control, QVBoxLayout* into);
    void commitTrim(bool in);

    AppState& state_;
    QLabel* empty_ = nullptr;
    QWidget* clip_ = nullptr;
    QLabel* name_ = nullptr;
    QLabel* detail_ = nullptr;
    QWidget* offline_ = nullptr;
    QLabel* path_ = nullptr;
    QPushButton* relink_ = nullptr;
    QFrame* factsBox_ = nullptr;
    QVBoxLayout* factsLayout_ = nullptr;
    std::vector<std::pair<QLabel*, QLabel*>> factLabels_;
    QComboBox* transition_ = nullptr;
    QComboBox* layer_ = nullptr;
    QComboBox* endAction_ = nullptr;
    QComboBox* scaling_ = nullptr;
    QWidget* layerRow_ = nullptr;
    QWidget* scalingRow_ = nullptr;
    QWidget* trim_ = nullptr;
    QLineEdit* trimIn_ = nullptr;
    QLineEdit* trimOut_ = nullptr;
};

// Registers the single "Properties" window with the registry (made on first use).
void definePropertiesWindow(WindowRegistry& windows, AppState& state, StateSignals& stateSignals);
// The card menu's "Properties": makes the clip the primary selection and opens the window.
void openProperties(WindowRegistry& windows, AppState& state, const std::string& clipId);

}  // namespace ombry::ui
