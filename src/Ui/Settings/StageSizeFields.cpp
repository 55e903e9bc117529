#include "Ui/Settings/StageSizeFields.hpp"

#include <QFocusEvent>
#include <QFormLayout>

#include "Ui/Bridge/RefreshGate.hpp"
#include "Ui/Settings/SettingsRules.hpp"

namespace ombry::ui {

WholeNumberField::WholeNumberField(std::function<std::int64_t()> read, std::function<void(std::int64_t)> commit,
                                   QWidget* parent)
    : QLineEdit(parent), read_(std::move(read)), commit_(std::move(commit)) {
    setAlignment(Qt::AlignRight);
    setFixedWidth(96);
    connect(this, &QLineEdit::returnPressed, this, &WholeNumberField::apply);
    refresh();
}

void WholeNumberField::refresh() {
    if (hasFocus() && isModified()) return;
    const QString shown = QString::number(read_());
    if (text() != shown) setText(shown);
    setModified(false);
}

void WholeNumberField::focusOutEvent(QFocusEvent* event) {
    // Focus moving to a popup (the field's own menu) is no end of editing.
    if (event->reason() != Qt::PopupFocusReason && isModified()) apply();
    QLineEdit::focusOutEvent(event);
}

void WholeNumberField::apply() {
    const auto value = settings::wholeNumber(text());
    setModified(false);
    if (value) commit_(*value);
    // The stored value, which the setter may have limited or ignored.
    const QString shown = QString::number(read_());
    if (text() != shown) setText(shown);
}

WholeNumberField* stageFpsField(AppState& state, StateSignals& stateSignals, QWidget* parent) {
    auto* field = new WholeNumberField([&state] { return state.stageFps(); },
                                       [&state](std::int64_t v) { state.setStageFps(v); }, parent);
    field->setObjectName(QStringLiteral("stageFps"));
    field->setAccessibleName(QStringLiteral("Frames per second"));
    auto* gate = new RefreshGate(field, [field] { field->refresh(); });
    gate->watch(stateSignals, {Aspect::program});
    return field;
}

StageSizeFields::StageSizeFields(AppState& state, StateSignals& stateSignals, QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("stageSizeFields"));
    auto* form = new QFormLayout(this);
    form->setContentsMargins(0, 0, 0, 0);
    form->setLabelAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    form->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
    width_ = new WholeNumberField([&state] { return state.stageWidth(); },
                                  [&state](std::int64_t v) { state.setStageWidth(v); }, this);
    width_->setObjectName(QStringLiteral("stageWidth"));
    width_->setAccessibleName(QStringLiteral("Width"));
    height_ = new WholeNumberField([&state] { return state.stageHeight(); },
                                   [&state](std::int64_t v) { state.setStageHeight(v); }, this);
    height_->setObjectName(QStringLiteral("stageHeight"));
    height_->setAccessibleName(QStringLiteral("Height"));
    form->addRow(QStringLiteral("Width"), width_);
    form->addRow(QStringLiteral("Height"), height_);
    gate_ = new RefreshGate(this, [this] { refresh(); });
    gate_->watch(stateSignals, {Aspect::program});
}

void StageSizeFields::refresh() {
    width_->refresh();
    height_->refresh();
}

}  // namespace ombry::ui
