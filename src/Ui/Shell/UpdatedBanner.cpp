#include "Ui/Shell/UpdatedBanner.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBrowser>
#include <QToolButton>
#include <QVBoxLayout>

#include "Ui/Shell/Theme.hpp"
#include "Ui/Widgets/Popover.hpp"
#include "Ui/Widgets/Symbols.hpp"

namespace ombry::ui {

UpdatedBanner::UpdatedBanner(const std::string& version, std::optional<std::string> notes,
                             std::function<void()> dismiss, QWidget* parent)
    : QFrame(parent), notes_(std::move(notes)) {
    setObjectName(QStringLiteral("updatedBanner"));
    setAttribute(Qt::WA_TranslucentBackground);
    setFixedHeight(36);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(16, 0, 16, 0);
    row->setSpacing(10);
    auto* icon = new QLabel(this);
    icon->setPixmap(symbols::pixmap("checkmark.circle.fill", 16, QColor(48, 209, 88)));
    row->addWidget(icon);
    auto* text = new QLabel(QStringLiteral("Updated to v") + QString::fromStdString(version), this);
    text->setObjectName(QStringLiteral("updatedText"));
    QFont medium = text->font();
    medium.setWeight(QFont::Medium);
    text->setFont(medium);
    row->addWidget(text);
    if (notes_) {
        whatsNew_ = new QPushButton(QStringLiteral("What's New"), this);
        whatsNew_->setObjectName(QStringLiteral("whatsNew"));
        whatsNew_->setAccessibleName(QStringLiteral("What's New"));
        whatsNew_->setFlat(true);
        whatsNew_->setFocusPolicy(Qt::NoFocus);
        whatsNew_->setCursor(Qt::PointingHandCursor);
        whatsNew_->setStyleSheet(QStringLiteral("QPushButton { color: #409cff; border: none; background: transparent; }"));
        connect(whatsNew_, &QPushButton::clicked, this, &UpdatedBanner::toggleNotes);
        row->addWidget(whatsNew_);
    }
    auto* close = new QToolButton(this);
    close->setObjectName(QStringLiteral("dismissUpdated"));
    close->setAccessibleName(QStringLiteral("Dismiss"));
    close->setAutoRaise(true);
    close->setFocusPolicy(Qt::NoFocus);
    close->setIcon(symbols::icon("xmark", 12, theme::secondaryText()));
    close->setStyleSheet(QStringLiteral("QToolButton { border: none; background: transparent; }"));
    connect(close, &QToolButton::clicked, this, [dismiss = std::move(dismiss)] {
        if (dismiss) dismiss();
    });
    row->addWidget(close);
}

void UpdatedBanner::toggleNotes() {
    if (!notes_ || !whatsNew_) return;
    if (popover_ && popover_->isVisible()) {
        popover_->close();
        return;
    }
    if (!popover_) {
        popover_ = new Popover(this);
        popover_->setObjectName(QStringLiteral("whatsNewPopover"));
        auto* layout = new QVBoxLayout(popover_);
        layout->setContentsMargins(0, 0, 0, 0);
        auto* browser = new QTextBrowser(popover_);
        browser->setObjectName(QStringLiteral("releaseNotes"));
        browser->setAccessibleName(QStringLiteral("Release notes"));
        browser->setOpenLinks(false);
        browser->setFrameShape(QFrame::NoFrame);
        browser->document()->setDocumentMargin(16);
        browser->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        browser->setHtml(QString::fromStdString(*notes_));
        browser->setFixedWidth(320);
        browser->document()->setTextWidth(320 - browser->verticalScrollBar()->sizeHint().width());
        browser->setFixedHeight(std::min(260, int(browser->document()->size().height()) + 2));
        layout->addWidget(browser);
    }
    const QRect anchor(whatsNew_->mapToGlobal(QPoint(0, 0)), whatsNew_->size());
    popover_->showAt(anchor);
}

void UpdatedBanner::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    path.addRoundedRect(r, r.height() / 2, r.height() / 2);
    p.fillPath(path, QColor(44, 44, 48, 235));
    p.setPen(QPen(theme::separator(), 1));
    p.drawPath(path);
}

}  // namespace ombry::ui
