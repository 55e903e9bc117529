#include "Ui/Shell/SlidesLinkSheet.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "App/AppState.hpp"
#include "Engine/Intake/SlideImport.hpp"
#include "Ui/Shell/Theme.hpp"
#include "Ui/Widgets/Symbols.hpp"

namespace ombry::ui {

SlidesLinkSheet::SlidesLinkSheet(AppState& state, QWidget* parent) : QDialog(parent), state_(state) {
    setObjectName(QStringLiteral("slidesLinkSheet"));
    setWindowTitle(QStringLiteral("Import Slides from Link"));
    setWindowModality(Qt::WindowModal);
    setFixedWidth(420);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(12);

    auto* title = new QLabel(QStringLiteral("Import Slides from Link"), this);
    title->setObjectName(QStringLiteral("sheetTitle"));
    QFont headline = title->font();
    headline.setPixelSize(14);
    headline.setWeight(QFont::DemiBold);
    title->setFont(headline);
    column->addWidget(title);

    auto* text = new QLabel(QStringLiteral("Paste a Google Slides link. It must be public or Ombry can't import it."), this);
    text->setObjectName(QStringLiteral("sheetText"));
    text->setWordWrap(true);
    text->setStyleSheet(QStringLiteral("color: %1;").arg(theme::secondaryText().name(QColor::HexArgb)));
    column->addWidget(text);

    link_ = new QLineEdit(this);
    link_->setObjectName(QStringLiteral("slidesLink"));
    link_->setAccessibleName(QStringLiteral("Slides link"));
    link_->setPlaceholderText(QStringLiteral("https://docs.google.com/presentation/d/\u2026"));
    connect(link_, &QLineEdit::textChanged, this, [this] { sync(); });
    column->addWidget(link_);

    errorRow_ = new QWidget(this);
    errorRow_->setObjectName(QStringLiteral("slidesErrorRow"));
    auto* errorLayout = new QHBoxLayout(errorRow_);
    errorLayout->setContentsMargins(0, 0, 0, 0);
    errorLayout->setSpacing(6);
    errorIcon_ = new QLabel(errorRow_);
    errorIcon_->setPixmap(symbols::pixmap("exclamationmark.triangle.fill", 14, theme::orange()));
    errorIcon_->setFixedSize(14, 14);
    error_ = new QLabel(errorRow_);
    error_->setObjectName(QStringLiteral("slidesError"));
    error_->setWordWrap(true);
    error_->setTextFormat(Qt::PlainText);
    error_->setStyleSheet(QStringLiteral("color: %1;").arg(theme::orange().name()));
    errorLayout->addWidget(errorIcon_, 0, Qt::AlignTop);
    errorLayout->addWidget(error_, 1);
    errorRow_->hide();
    column->addWidget(errorRow_);

    auto* row = new QHBoxLayout();
    auto* progress = new QProgressBar(this);
    progress->setObjectName(QStringLiteral("slidesProgress"));
    progress->setAccessibleName(QStringLiteral("Importing"));
    progress->setRange(0, 0);  // indeterminate
    progress->setTextVisible(false);
    progress->setFixedSize(60, 6);
    progress->hide();
    progress_ = progress;
    row->addWidget(progress_);
    row->addStretch(1);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("slidesCancel"));
    cancel->setAccessibleName(QStringLiteral("Cancel"));
    cancel->setAutoDefault(false);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    import_ = new QPushButton(QStringLiteral("Import"), this);
    import_->setObjectName(QStringLiteral("slidesImport"));
    import_->setAccessibleName(QStringLiteral("Import"));
    import_->setDefault(true);
    connect(import_, &QPushButton::clicked, this, &SlidesLinkSheet::start);
    row->addWidget(cancel);
    row->addWidget(import_);
    column->addLayout(row);
    sync();
}

std::string SlidesLinkSheet::trimmed(const std::string& link) {
    const auto first = link.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    return link.substr(first, link.find_last_not_of(" \t") - first + 1);
}

void SlidesLinkSheet::start() {
    const std::string link = trimmed(link_->text().toStdString());
    if (link.empty() || working_) return;
    if (!SlideImport::slidesDocumentID(link)) {
        showError(QString::fromStdString(
            SlideImport::Failure::of(SlideImport::Failure::Kind::notASlidesURL).description()));
        return;
    }
    errorRow_->hide();
    working_ = true;
    sync();
    QPointer<SlidesLinkSheet> self(this);
    state_.importSlides(link, [self](std::optional<std::string> error) {
        if (!self) return;  // closed meanwhile: the deck still arrives, the sheet shows nothing further
        self->working_ = false;
        self->sync();
        if (error) {
            self->showError(QString::fromStdString(*error));
            return;
        }
        self->accept();
    });
}

void SlidesLinkSheet::showError(const QString& text) {
    error_->setText(text);
    errorRow_->show();
}

void SlidesLinkSheet::sync() {
    link_->setEnabled(!working_);
    progress_->setVisible(working_);
    import_->setEnabled(!working_ && !trimmed(link_->text().toStdString()).empty());
}

}  // namespace ombry::ui
