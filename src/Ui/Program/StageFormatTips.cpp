#include "Ui/Program/StageFormatTips.hpp"

#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QVBoxLayout>

#include "Ui/Bridge/RefreshGate.hpp"
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

// Whole numbers in the user's locale without grouping (1000, never 1,000).
QLocale numberLocale() {
    QLocale l;
    l.setNumberOptions(QLocale::OmitGroupSeparator);
    return l;
}

}  // namespace

CustomFrameRateTipView::CustomFrameRateTipView(ViewContext& context, QWidget* parent)
    : Popover(parent), state_(context.state) {
    setObjectName(QStringLiteral("customFrameRateTip"));
    QWidget* caption = nullptr;
    QVBoxLayout* v = tipColumn(this, QStringLiteral("Custom Frame Rate"),
                               QStringLiteral("Applies when you press Return or click away."), caption);
    auto* form = new QFormLayout();
    field_ = new QLineEdit(this);
    field_->setObjectName(QStringLiteral("framesPerSecond"));
    field_->setAccessibleName(QStringLiteral("Frames per second"));
    form->addRow(QStringLiteral("Frames per second"), field_);
    v->addLayout(form);
    v->addWidget(caption);
    connect(field_, &QLineEdit::editingFinished, this, [this] { commit(); });
    auto* gate = new RefreshGate(this, [this] { refresh(); });
    gate->watch(context.stateSignals, {Aspect::program});
    refresh();
}

void CustomFrameRateTipView::refresh() {
    if (!field_->hasFocus() || !field_->isModified()) field_->setText(numberLocale().toString(state_.stageFps()));
}

void CustomFrameRateTipView::commit() {
    bool ok = false;
    const qlonglong value = numberLocale().toLongLong(field_->text().trimmed(), &ok);
    // Below 1 is ignored and the stage keeps its rate; the stage keeps the rest within 1 to 240.
    if (ok && value >= 1) state_.program.setStage([value](StageConfig& s) { s.fps = value; });
    field_->setModified(false);
    field_->setText(numberLocale().toString(state_.stageFps()));
}

void CustomFrameRateTipView::hideEvent(QHideEvent* event) {
    // A value still being typed counts, then the rate in force is remembered.
    if (field_->isModified()) commit();
    state_.rememberCustomFrameRate(state_.frameRate());
    Popover::hideEvent(event);
}

}  // namespace ombry::ui
