#pragma once
// The custom stage-format tips of the toolbar's pickers: each edits the live stage and, when it closes,
// remembers the format then in force as a custom entry of its picker.
#include "Ui/Shell/Columns.hpp"
#include "Ui/Widgets/Popover.hpp"

class QLineEdit;

namespace ombry::ui {

class StageSizeFields;

class CustomResolutionTipView final : public Popover {
public:
    explicit CustomResolutionTipView(ViewContext& context, QWidget* parent = nullptr);
    StageSizeFields* fields() const { return fields_; }

protected:
    void hideEvent(QHideEvent* event) override;

private:
    AppState& state_;
    StageSizeFields* fields_ = nullptr;
};

class CustomFrameRateTipView final : public Popover {
public:
    explicit CustomFrameRateTipView(ViewContext& context, QWidget* parent = nullptr);
    QLineEdit* field() const { return field_; }

protected:
    void hideEvent(QHideEvent* event) override;

private:
    AppState& state_;
    QLineEdit* field_ = nullptr;
};

}  // namespace ombry::ui
