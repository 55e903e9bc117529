#include "Ui/Program/StageFormatTips.hpp"

#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "Ui/Bridge/RefreshGate.hpp"
#include "Ui/Settings/StageSizeFields.hpp"
#include "Ui/Shell/Theme.hpp"

namespace ombry::ui {
namespace {

QVBoxLayout* tipColumn(Popover* tip, const QString& title, const QString& caption, QWidget*& captionLabel) {
    tip->setFixedWidth(260);
    auto* v = new QVBoxLayout(tip);
    v->setContentsMargins(16, 16, 16, 16);
    v->setSpacing(12);
    auto* head = new QLabel(title, tip);
    QFont f = head->font();
    f.setBold(true);
    f.setPixelSize(13);
    head->setFont(f);
    v->addWidget(head);
    auto* note = new QLabel(caption, tip);
    note->setWordWrap(true);
    QFont c = note->font();
    c.setPixelSize(11);
    note->setFont(c);
    QPalette pal = note->palette();
    pal.setColor(QPalette::WindowText, theme::secondaryText());
    note->setPalette(pal);
    captionLabel = note;
    return v;
}

}  // namespace

CustomResolutionTipView::CustomResolutionTipView(ViewContext& context, QWidget* parent)
    : Popover(parent), state_(context.state) {
    setObjectName(QStringLiteral("customResolutionTip"));
    QWidget* caption = nullptr;
    QVBoxLayout* v = tipColumn(this, QStringLiteral("Custom Resolution"),
                               QStringLiteral("Each field applies when you press Return or click away."), caption);
    fields_ = new StageSizeFields(context.state, context.stateSignals, this);
    v->addWidget(fields_);
    v->addWidget(caption);
}

void CustomResolutionTipView::hideEvent(QHideEvent* event) {
    // A value still being typed counts: a popup closing is no focus loss the fields apply on.
    for (QLineEdit* f : {static_cast<QLineEdit*>(fields_->widthField()), static_cast<QLineEdit*>(fields_->heightField())})
        if (f->isModified()) emit f->returnPressed();
    state_.rememberCustomResolution(state_.resolution());
    Popover::hideEvent(event);
}

CustomFrameRateTipView::CustomFrameRateTipView(ViewContext& context, QWidget* parent)
    : Popover(parent), state_(context.state) {
    setObjectName(QStringLiteral("customFrameRateTip"));
    QWidget* caption = nullptr;
    QVBoxLayout* v = tipColumn(this, QStringLiteral("Custom Frame Rate"),
                               QStringLiteral("Applies when you press Return or click away."), caption);
    auto* form = new QFormLayout();
    field_ = stageFpsField(context.state, context.stateSignals, this);
    form->addRow(QStringLiteral("Frames per second"), field_);
    v->addLayout(form);
    v->addWidget(caption);
}

void CustomFrameRateTipView::hideEvent(QHideEvent* event) {
    // A value still being typed counts, then the rate in force is remembered.
    if (field_->isModified()) emit field_->returnPressed();
    state_.rememberCustomFrameRate(state_.frameRate());
    Popover::hideEvent(event);
}

}  // namespace ombry::ui
