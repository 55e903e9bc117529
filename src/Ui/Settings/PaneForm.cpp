#include "Ui/Settings/PaneForm.hpp"

#include <QHBoxLayout>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

#include "Ui/Shell/Theme.hpp"
#include "Ui/Widgets/Symbols.hpp"

namespace ombry::ui {

namespace {

// The rounded surface behind a section's rows.
class SectionBox final : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(theme::hairline(), 1));
        p.setBrush(theme::surface());
        p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
    }
};

void colour(QWidget* w, const QColor& c) {
    QPalette pal = w->palette();
    pal.setColor(QPalette::WindowText, c);
    w->setPalette(pal);
}

QFont sized(QFont f, int pixels, QFont::Weight weight = QFont::Normal) {
    f.setPixelSize(pixels);
    f.setWeight(weight);
    return f;
}

}  // namespace

PaneForm::PaneForm(QWidget* parent) : QScrollArea(parent) {
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    content_ = new QWidget(this);
    content_->setObjectName(QStringLiteral("paneContent"));
    column_ = new QVBoxLayout(content_);
    column_->setContentsMargins(20, 16, 20, 20);
    column_->setSpacing(18);
    column_->addStretch(1);
    setWidget(content_);
}

std::pair<QWidget*, QVBoxLayout*> PaneForm::makeSection(QWidget* parent, const QString& objectName, const QString& title,
                                                       QWidget* headerExtra, const QString& footer) {
    auto* section = new QWidget(parent);
    section->setObjectName(objectName);
    auto* v = new QVBoxLayout(section);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(6);
    auto* head = new QHBoxLayout();
    head->setContentsMargins(4, 0, 4, 0);
    auto* label = new QLabel(title, section);
    label->setObjectName(objectName + QStringLiteral("Header"));
    label->setTextFormat(Qt::PlainText);
    label->setFont(sized(label->font(), 13, QFont::DemiBold));
    head->addWidget(label);
    head->addStretch(1);
    if (headerExtra) {
        headerExtra->setParent(section);
        head->addWidget(headerExtra);
    }
    v->addLayout(head);
    auto* box = new SectionBox(section);
    box->setObjectName(objectName + QStringLiteral("Box"));
    auto* rows = new QVBoxLayout(box);
    rows->setContentsMargins(12, 10, 12, 10);
    rows->setSpacing(10);
    v->addWidget(box);
    if (!footer.isEmpty()) {
        auto* f = note(footer, section, objectName + QStringLiteral("Footer"));
        f->setContentsMargins(4, 0, 4, 0);
        v->addWidget(f);
    }
    return {section, rows};
}

QVBoxLayout* PaneForm::addSection(const QString& objectName, const QString& title, QWidget* headerExtra,
                                  const QString& footer) {
    auto [section, rows] = makeSection(content_, objectName, title, headerExtra, footer);
    column_->insertWidget(column_->count() - 1, section);
    return rows;
}

QLabel* PaneForm::header(const QString& sectionName) const {
    return content_->findChild<QLabel*>(sectionName + QStringLiteral("Header"));
}

QLabel* PaneForm::note(const QString& text, QWidget* parent, const QString& objectName) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(objectName);
    l->setTextFormat(Qt::PlainText);
    l->setWordWrap(true);
    l->setFont(sized(l->font(), 11));
    colour(l, theme::secondaryText());
    return l;
}

QLabel* PaneForm::plain(const QString& text, QWidget* parent, const QString& objectName) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(objectName);
    l->setTextFormat(Qt::PlainText);
    l->setFont(sized(l->font(), 13));
    return l;
}

QWidget* PaneForm::warning(const QString& text, QWidget* parent, const QString& objectName, bool caption) {
    auto* w = new QWidget(parent);
    w->setObjectName(objectName);
    auto* h = new QHBoxLayout(w);
    h->setContentsMargins(0, 0, 0, 0);
    h->setSpacing(5);
    const int px = caption ? 11 : 13;
    auto* icon = new QLabel(w);
    icon->setPixmap(symbols::pixmap("exclamationmark.triangle", px + 1, theme::orange()));
    icon->setAlignment(Qt::AlignTop);
    auto* label = new QLabel(text, w);
    label->setObjectName(objectName + QStringLiteral("Text"));
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setFont(sized(label->font(), px));
    colour(label, theme::orange());
    h->addWidget(icon, 0, Qt::AlignTop);
    h->addWidget(label, 1);
    return w;
}

void PaneForm::setWarningText(QWidget* warning, const QString& text) {
    if (auto* l = warning->findChild<QLabel*>(warning->objectName() + QStringLiteral("Text"))) l->setText(text);
}

ElidedLabel::ElidedLabel(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

void ElidedLabel::setFullText(const QString& text) {
    full_ = text;
    setToolTip(text);
    setAccessibleName(text);
    elide();
}

QSize ElidedLabel::minimumSizeHint() const { return {0, QLabel::minimumSizeHint().height()}; }
QSize ElidedLabel::sizeHint() const { return {fontMetrics().horizontalAdvance(full_), QLabel::sizeHint().height()}; }

void ElidedLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    elide();
}

void ElidedLabel::elide() { setText(fontMetrics().elidedText(full_, Qt::ElideMiddle, std::max(width(), 1))); }

QPushButton* smallButton(const QString& text, const QString& objectName, QWidget* parent, bool destructive) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(objectName);
    b->setAccessibleName(text);
    b->setFocusPolicy(Qt::TabFocus);
    QFont f = b->font();
    f.setPixelSize(11);
    b->setFont(f);
    if (destructive) {
        QPalette pal = b->palette();
        pal.setColor(QPalette::ButtonText, theme::live());
        b->setPalette(pal);
    }
    return b;
}

}  // namespace ombry::ui
