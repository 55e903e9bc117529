#include "Ui/Shell/IssueBannerView.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include "Ui/Shell/ChromeRules.hpp"
#include "Ui/Shell/Theme.hpp"
#include "Ui/Widgets/Symbols.hpp"

namespace ombry::ui {

namespace {
QPushButton* linkButton(const QString& text, const char* name, QWidget* parent) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setAccessibleName(text);
    b->setFlat(true);
    b->setFocusPolicy(Qt::NoFocus);
    b->setCursor(Qt::PointingHandCursor);
    b->setStyleSheet(QStringLiteral("QPushButton { color: #409cff; border: none; padding: 0 2px; background: transparent; }"
                                    "QPushButton:pressed { color: #7ab8ff; }"));
    return b;
}
}  // namespace

IssueBannerView::IssueBannerView(const Issue& issue, Actions actions, QWidget* parent)
    : QFrame(parent), actions_(std::move(actions)) {
    setObjectName(QStringLiteral("issueBanner"));
    setAttribute(Qt::WA_TranslucentBackground);
    setMaximumWidth(720);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(16, 10, 16, 10);
    row->setSpacing(10);

    icon_ = new QLabel(this);
    icon_->setObjectName(QStringLiteral("bannerIcon"));
    icon_->setFixedSize(20, 20);
    row->addWidget(icon_, 0, Qt::AlignTop);

    auto* column = new QVBoxLayout();
    column->setSpacing(2);
    auto* header = new QHBoxLayout();
    header->setSpacing(6);
    code_ = new QLabel(this);
    code_->setObjectName(QStringLiteral("bannerCode"));
    title_ = new QLabel(this);
    title_->setObjectName(QStringLiteral("bannerTitle"));
    QFont bold = title_->font();
    bold.setWeight(QFont::DemiBold);
    title_->setFont(bold);
    count_ = new QLabel(this);
    count_->setObjectName(QStringLiteral("bannerCount"));
    count_->setStyleSheet(QStringLiteral("color: %1;").arg(theme::secondaryText().name(QColor::HexArgb)));
    header->addWidget(code_);
    header->addWidget(title_);
    header->addWidget(count_);
    header->addStretch(1);
    column->addLayout(header);
    message_ = new QLabel(this);
    message_->setObjectName(QStringLiteral("bannerMessage"));
    message_->setWordWrap(true);
    message_->setTextFormat(Qt::PlainText);
    column->addWidget(message_);
    row->addLayout(column, 1);

    auto* copy = linkButton(QStringLiteral("Copy Details"), "copyDetails", this);
    connect(copy, &QPushButton::clicked, this, [this] {
        if (actions_.copy) actions_.copy(details_);
    });
    auto* email = linkButton(QStringLiteral("Email Support"), "emailSupport", this);
    connect(email, &QPushButton::clicked, this, [this] {
        if (actions_.contactSupport) actions_.contactSupport();
    });
    auto* close = new QToolButton(this);
    close->setObjectName(QStringLiteral("dismissIssue"));
    close->setAccessibleName(QStringLiteral("Dismiss"));
    close->setToolTip(QStringLiteral("Dismiss"));
    close->setAutoRaise(true);
    close->setFocusPolicy(Qt::NoFocus);
    close->setIcon(symbols::icon("xmark", 12, theme::secondaryText()));
    close->setStyleSheet(QStringLiteral("QToolButton { border: none; background: transparent; }"));
    connect(close, &QToolButton::clicked, this, [this] {
        if (actions_.dismiss) actions_.dismiss(id_);
    });
    row->addWidget(copy, 0, Qt::AlignTop);
    row->addWidget(email, 0, Qt::AlignTop);
    row->addWidget(close, 0, Qt::AlignTop);
    setIssue(issue);
}

void IssueBannerView::setIssue(const Issue& issue) {
    id_ = issue.id;
    details_ = issue.supportDetails();
    const chrome::Severity severity = chrome::severity(issue.code);
    accent_ = chrome::accent(severity);
    icon_->setPixmap(symbols::pixmap(chrome::bannerSymbol(severity), 18, accent_));
    code_->setText(QString::fromStdString(rawValue(issue.code)));
    code_->setFont(theme::monoCaption());
    code_->setStyleSheet(QStringLiteral("color: %1; font-size: 12px;").arg(accent_.name()));
    title_->setText(QString::fromStdString(issue.title()));
    const QString count = chrome::countText(issue.count);
    count_->setText(count);
    count_->setVisible(!count.isEmpty());
    message_->setText(QString::fromStdString(issue.message()));
    setAccessibleName(chrome::bannerAccessibleName(issue));
    QFrame::update();
}

void IssueBannerView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect()).adjusted(0.75, 0.75, -0.75, -0.75);
    QPainterPath path;
    path.addRoundedRect(r, 12, 12);
    // The accent over the window's own colour, so the banner reads the same over any column.
    p.fillPath(path, theme::windowBackground());
    QColor fill = accent_;
    fill.setAlphaF(0.16f);
    p.fillPath(path, fill);
    p.setPen(QPen(accent_, 1.5));
    p.drawPath(path);
}

}  // namespace ombry::ui
