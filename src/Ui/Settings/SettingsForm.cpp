#include "Ui/Settings/SettingsForm.hpp"

#include <QHBoxLayout>
#include <QPainter>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "Ui/Bridge/RefreshGate.hpp"
#include "Ui/Shell/Theme.hpp"

namespace ombry::ui {

namespace {

// The rounded box behind a section's rows.
class GroupBox final : public QFrame {
public:
    using QFrame::QFrame;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(theme::hairline());
        p.setBrush(theme::surface());
        p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
    }
};

void secondary(QWidget* w) {
    QPalette pal = w->palette();
    pal.setColor(QPalette::WindowText, theme::secondaryText());
    w->setPalette(pal);
}

}  // namespace

QLabel* noteLabel(const QString& text, QWidget* parent) {
    auto* note = new QLabel(text, parent);
    note->setWordWrap(true);
    QFont f = note->font();
    f.setPixelSize(11);
    note->setFont(f);
    secondary(note);
    return note;
}

SettingsGroup::SettingsGroup(const QString& title, QWidget* parent) : QWidget(parent) {
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(6);
    header_ = new QLabel(title, this);
    header_->setObjectName(QStringLiteral("sectionHeader"));
    QFont f = header_->font();
    f.setPixelSize(13);
    f.setWeight(QFont::DemiBold);
    header_->setFont(f);
    header_->setContentsMargins(4, 0, 0, 0);
    headerRow_ = new QHBoxLayout();
    headerRow_->setContentsMargins(0, 0, 4, 0);
    headerRow_->addWidget(header_, 1);
    outer->addLayout(headerRow_);
    auto* box = new GroupBox(this);
    rows_ = new QVBoxLayout(box);
    rows_->setContentsMargins(12, 8, 12, 8);
    rows_->setSpacing(8);
    outer->addWidget(box);
}

void SettingsGroup::setHeaderAccessory(QWidget* widget) {
    widget->setParent(this);
    headerRow_->addWidget(widget, 0, Qt::AlignVCenter);
}

QWidget* SettingsGroup::addRow(const QString& label, QWidget* control) {
    auto* row = new QWidget(this);
    auto* h = new QHBoxLayout(row);
    h->setContentsMargins(0, 0, 0, 0);
    h->setSpacing(8);
    auto* name = new QLabel(label, row);
    name->setObjectName(QStringLiteral("rowLabel"));
    name->setBuddy(control);
    h->addWidget(name);
    h->addStretch(1);
    control->setParent(row);
    if (control->accessibleName().isEmpty()) control->setAccessibleName(label);
    h->addWidget(control, 0, Qt::AlignVCenter);
    rows_->addWidget(row);
    return row;
}

QWidget* SettingsGroup::addWidget(QWidget* widget) {
    widget->setParent(this);
    rows_->addWidget(widget);
    return widget;
}

QWidget* SettingsGroup::addButton(QWidget* button) {
    auto* row = new QWidget(this);
    auto* h = new QHBoxLayout(row);
    h->setContentsMargins(0, 0, 0, 0);
    button->setParent(row);
    button->setMinimumWidth(button->sizeHint().width() + 24);
    h->addWidget(button);
    h->addStretch(1);
    rows_->addWidget(row);
    return row;
}

QLabel* SettingsGroup::addNote(const QString& text) {
    auto* note = noteLabel(text, this);
    rows_->addWidget(note);
    return note;
}

SettingsForm::SettingsForm(QWidget* parent) : QScrollArea(parent) {
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* content = new QWidget(this);
    content->setObjectName(QStringLiteral("formContent"));
    layout_ = new QVBoxLayout(content);
    layout_->setContentsMargins(20, 16, 20, 20);
    layout_->setSpacing(18);
    layout_->addStretch(1);
    setWidget(content);
}

SettingsGroup* SettingsForm::addSection(const QString& title, const char* objectName) {
    auto* group = new SettingsGroup(title, widget());
    group->setObjectName(QString::fromLatin1(objectName));
    addWidget(group);
    return group;
}

void SettingsForm::addWidget(QWidget* widget) {
    widget->setParent(this->widget());
    // Before the closing stretch.
    layout_->insertWidget(layout_->count() - 1, widget);
}

Switch* settingsToggle(AppState& state, StateSignals& stateSignals, bool AppSettings::*field, QWidget* parent) {
    auto* toggle = new Switch(parent);
    toggle->setChecked(state.settings().*field);
    QObject::connect(toggle, &QAbstractButton::clicked, toggle, [&state, field](bool on) {
        if (state.settings().*field != on) writeSetting(state, field, on);
    });
    auto* gate = new RefreshGate(toggle, [toggle, &state, field] {
        const QSignalBlocker block(toggle);
        toggle->setChecked(state.settings().*field);
    });
    gate->watch(stateSignals, {Aspect::settings});
    return toggle;
}

}  // namespace ombry::ui
