#pragma once
// A compact glass button showing the current value, opening a menu of the offered values (the current one
// checked) and, when given, a last entry such as "Custom…". It knows nothing of what the values mean.
#include <QToolButton>

#include <functional>
#include <optional>
#include <vector>

class QMenu;

namespace ombry::ui {

struct PickerEntry {
    QString text;
    bool checked = false;
    bool operator==(const PickerEntry&) const = default;
};
// One entry per option in order; the one equal to the selection is checked (none when it is not offered).
std::vector<PickerEntry> pickerEntries(const QStringList& options, const QString& selection);

class GlassMenuPicker final : public QToolButton {
    Q_OBJECT
public:
    struct Binding {
        std::function<QString()> selection;
        std::function<void(const QString&)> select;
        std::function<QStringList()> options;
    };
    // The extra entry is offered only with both a label and an action.
    GlassMenuPicker(Binding binding, const QString& help, std::optional<QString> customLabel = std::nullopt,
                    std::function<void()> onCustom = {}, QWidget* parent = nullptr);

    // Shows the selection again.
    void refresh();
    // The menu as it is built when opened.
    QMenu* pickerMenu() const { return menu_; }
    void rebuildMenu();

private:
    Binding binding_;
    std::optional<QString> customLabel_;
    std::function<void()> onCustom_;
    QMenu* menu_ = nullptr;
};

}  // namespace ombry::ui
