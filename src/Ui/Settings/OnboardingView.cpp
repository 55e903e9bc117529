#include "Ui/Settings/OnboardingView.hpp"

#include <QAbstractButton>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "Ui/Bridge/Preferences.hpp"
#include "Ui/Shell/Theme.hpp"
#include "Ui/Widgets/Symbols.hpp"

namespace ombry::ui {

namespace {

QColor accent() { return QColor(10, 132, 255); }

QLabel* text(const QString& s, int pixels, QFont::Weight weight, const QColor& c, QWidget* parent) {
    auto* l = new QLabel(s, parent);
    l->setWordWrap(true);
    l->setTextFormat(Qt::PlainText);
    QFont f = l->font();
    f.setPixelSize(pixels);
    f.setWeight(weight);
    l->setFont(f);
    QPalette pal = l->palette();
    pal.setColor(QPalette::WindowText, c);
    l->setPalette(pal);
    return l;
}

QLabel* symbol(std::string_view name, int size, QWidget* parent) {
    auto* l = new QLabel(parent);
    l->setPixmap(symbols::pixmap(name, size, accent()));
    return l;
}

// One page dot: the shown page's in the text colour, the others dimmed.
class PageDot final : public QAbstractButton {
public:
    explicit PageDot(QWidget* parent) : QAbstractButton(parent) {
        setFixedSize(7, 7);
        setCheckable(true);
        setFocusPolicy(Qt::NoFocus);
        setCursor(Qt::PointingHandCursor);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        QColor c = palette().color(QPalette::WindowText);
        if (!isChecked()) {
            c = theme::secondaryText();
            c.setAlphaF(0.35f);
        }
        p.setPen(Qt::NoPen);
        p.setBrush(c);
        p.drawEllipse(QRectF(rect()));
    }
};

QWidget* welcomePage(QWidget* parent) {
    auto* page = new QWidget(parent);
    page->setObjectName(QStringLiteral("welcomePage"));
    auto* v = new QVBoxLayout(page);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(16);
    v->addWidget(symbol("play.tv.fill", 44, page));
    auto* title = text(QStringLiteral("Welcome to Ombry"), 26, QFont::Bold, QColor(235, 235, 240), page);
    title->setObjectName(QStringLiteral("pageTitle"));
    v->addWidget(title);
    v->addWidget(text(QStringLiteral("Ombry plays your videos, music and graphics during a live show. Build a playlist, "
                                     "hit play, and send the result to a second screen, OBS or any NDI receiver."),
                      17, QFont::Normal, theme::secondaryText(), page));
    v->addStretch(1);
    return page;
}

QWidget* row(std::string_view sym, const QString& title, const QString& body, QWidget* parent) {
    auto* r = new QWidget(parent);
    auto* h = new QHBoxLayout(r);
    h->setContentsMargins(0, 0, 0, 0);
    h->setSpacing(14);
    auto* icon = symbol(sym, 22, r);
    icon->setFixedWidth(30);
    icon->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    h->addWidget(icon, 0, Qt::AlignTop);
    auto* texts = new QVBoxLayout();
    texts->setSpacing(2);
    texts->addWidget(text(title, 14, QFont::DemiBold, QColor(235, 235, 240), r));
    texts->addWidget(text(body, 13, QFont::Normal, theme::secondaryText(), r));
    h->addLayout(texts, 1);
    return r;
}

QWidget* tourPage(QWidget* parent) {
    auto* page = new QWidget(parent);
    page->setObjectName(QStringLiteral("tourPage"));
    auto* v = new QVBoxLayout(page);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(20);
    auto* title = text(QStringLiteral("How it works"), 26, QFont::Bold, QColor(235, 235, 240), page);
    title->setObjectName(QStringLiteral("pageTitle"));
    v->addWidget(title);
    v->addWidget(row("sidebar.leading", QStringLiteral("Playlists"),
                     QStringLiteral("Make a playlist for each show or segment in the left sidebar."), page));
    v->addWidget(row("square.grid.3x3", QStringLiteral("Media board"),
                     QStringLiteral("Add videos, music and images with Ctrl+I or by dragging them in. Click a tile to "
                                    "play it on air."),
                     page));
    v->addWidget(row("tv", QStringLiteral("Program output"),
                     QStringLiteral("The right panel shows what your audience sees. Press B for black, Space to play "
                                    "or pause."),
                     page));
    v->addStretch(1);
    return page;
}

}  // namespace

OnboardingView::OnboardingView(Preferences& preferences, QWidget* parent)
    : QDialog(parent), preferences_(preferences) {
    setObjectName(QStringLiteral("onboarding"));
    setWindowTitle(QStringLiteral("Welcome to Ombry"));
    setFixedSize(sheetWidth, sheetHeight);
    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(margin, margin, margin, margin);
    v->setSpacing(0);
    pages_ = new QStackedWidget(this);
    pages_->setObjectName(QStringLiteral("pages"));
    pages_->addWidget(welcomePage(pages_));
    pages_->addWidget(tourPage(pages_));
    v->addWidget(pages_, 1);

    auto* footer = new QHBoxLayout();
    footer->setContentsMargins(0, 0, 0, 0);
    footer->addStretch(1);
    auto* dots = new QHBoxLayout();
    dots->setSpacing(7);
    for (int i = 0; i < pages_->count(); ++i) {
        auto* dot = new PageDot(this);
        dot->setObjectName(QStringLiteral("pageDot%1").arg(i));
        dot->setAccessibleName(QStringLiteral("Page %1").arg(i + 1));
        connect(dot, &QAbstractButton::clicked, this, [this, i] { setPage(i); });
        dots->addWidget(dot);
        dots_.push_back(dot);
    }
    footer->addLayout(dots);
    footer->addStretch(1);
    primary_ = new QPushButton(this);
    primary_->setObjectName(QStringLiteral("primaryButton"));
    primary_->setDefault(true);
    primary_->setAutoDefault(true);
    primary_->setStyleSheet(QStringLiteral(
        "QPushButton { background: rgb(10,132,255); color: white; border: none; border-radius: 6px;"
        " padding: 5px 14px; font-weight: 600; }"
        "QPushButton:pressed { background: rgb(8,110,215); }"));
    connect(primary_, &QPushButton::clicked, this, &OnboardingView::advance);
    footer->addWidget(primary_);
    v->addLayout(footer);
    setPage(0);
}

void OnboardingView::setPage(int page) {
    page_ = std::clamp(page, 0, pages_->count() - 1);
    pages_->setCurrentIndex(page_);
    for (std::size_t i = 0; i < dots_.size(); ++i) dots_[i]->setChecked(int(i) == page_);
    const bool last = page_ == pages_->count() - 1;
    primary_->setText(last ? QStringLiteral("Get Started") : QStringLiteral("Continue"));
    primary_->setAccessibleName(primary_->text());
}

void OnboardingView::advance() {
    if (page_ < pages_->count() - 1) {
        setPage(page_ + 1);
        return;
    }
    preferences_.setHasSeenOnboarding(true);
    accept();
}

OnboardingView* presentOnboardingIfNeeded(QWidget* window, Preferences& preferences) {
    if (preferences.hasSeenOnboarding()) return nullptr;
    auto* sheet = new OnboardingView(preferences, window);
    sheet->setWindowModality(Qt::WindowModal);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(sheet, &QDialog::finished, sheet, [&preferences] { preferences.setHasSeenOnboarding(true); });
    sheet->open();
    return sheet;
}

}  // namespace ombry::ui
