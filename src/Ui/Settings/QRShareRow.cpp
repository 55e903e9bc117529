#include "Ui/Settings/QRShareRow.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

#include <qrencode.h>

#include "Ui/Shell/Theme.hpp"

namespace ombry::ui {

namespace {

constexpr int moduleScale = 8;

class WhiteBox final : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawRoundedRect(QRectF(rect()), 8, 8);
    }
};

QFont caption(QFont f) {
    f.setPixelSize(11);
    return f;
}

}  // namespace

QImage QRShareRow::qrImage(const std::string& text) {
    QRcode* code = QRcode_encodeData(int(text.size()), reinterpret_cast<const unsigned char*>(text.data()), 0,
                                     QR_ECLEVEL_M);
    if (!code) return {};
    const int n = code->width;
    QImage image(n * moduleScale, n * moduleScale, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x)
            if (code->data[y * n + x] & 1)
                p.fillRect(x * moduleScale, y * moduleScale, moduleScale, moduleScale, Qt::black);
    p.end();
    QRcode_free(code);
    return image;
}

QString middleTruncated(const QString& text, const QFontMetrics& metrics, int width, int lines) {
    if (width <= 0 || lines <= 0) return text;
    // Fill line after line; when text remains past the last line, cut the middle instead.
    auto wrap = [&](const QString& t, bool& fits) {
        QString out;
        int line = 1;
        QString current;
        for (const QChar c : t) {
            if (metrics.horizontalAdvance(current + c) > width && !current.isEmpty()) {
                if (line == lines) {
                    fits = false;
                    return out + current;
                }
                out += current + QLatin1Char('\n');
                current.clear();
                ++line;
            }
            current += c;
        }
        fits = true;
        return out + current;
    };
    bool fits = false;
    const QString whole = wrap(text, fits);
    if (fits) return whole;
    const QString ellipsis = QStringLiteral("\u2026");
    // Drop characters around the middle until the shortened text fits.
    for (int keep = int(text.size()) - 1; keep > 0; --keep) {
        const int head = (keep + 1) / 2, tail = keep - head;
        const QString shortened = text.left(head) + ellipsis + text.right(tail);
        const QString wrapped = wrap(shortened, fits);
        if (fits) return wrapped;
    }
    return ellipsis;
}

QRShareRow::QRShareRow(const QString& value, const QString& caption, QWidget* extra, QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("qrShareRow"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 4, 0, 4);
    row->setSpacing(16);
    codeBox_ = new WhiteBox(this);
    codeBox_->setObjectName(QStringLiteral("qrCodeBox"));
    codeBox_->setFixedSize(codeSide + 2 * codeMargin, codeSide + 2 * codeMargin);
    auto* boxLayout = new QVBoxLayout(codeBox_);
    boxLayout->setContentsMargins(codeMargin, codeMargin, codeMargin, codeMargin);
    code_ = new QLabel(codeBox_);
    code_->setObjectName(QStringLiteral("qrCode"));
    code_->setFixedSize(codeSide, codeSide);
    code_->setAccessibleName(QStringLiteral("QR code"));
    boxLayout->addWidget(code_);
    row->addWidget(codeBox_, 0, Qt::AlignTop);

    auto* texts = new QVBoxLayout();
    texts->setSpacing(6);
    auto* captionLabel = new QLabel(caption, this);
    captionLabel->setObjectName(QStringLiteral("qrCaption"));
    captionLabel->setTextFormat(Qt::PlainText);
    captionLabel->setWordWrap(true);
    captionLabel->setFont(::ombry::ui::caption(font()));
    texts->addWidget(captionLabel);
    valueLabel_ = new QLabel(this);
    valueLabel_->setObjectName(QStringLiteral("qrValue"));
    valueLabel_->setTextFormat(Qt::PlainText);
    valueLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QFont mono = theme::monoCaption();
    mono.setPixelSize(11);
    valueLabel_->setFont(mono);
    QPalette pal = valueLabel_->palette();
    pal.setColor(QPalette::WindowText, theme::secondaryText());
    valueLabel_->setPalette(pal);
    valueLabel_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    texts->addWidget(valueLabel_);
    if (extra) {
        extra->setParent(this);
        texts->addWidget(extra);
    }
    texts->addStretch(1);
    row->addLayout(texts, 1);
    setValue(value);
    if (value_.isEmpty()) showValue();
}

void QRShareRow::setValue(const QString& value) {
    if (value == value_ && !code_->pixmap().isNull()) return;
    value_ = value;
    const QImage image = qrImage(value.toStdString());
    codeBox_->setVisible(!image.isNull());
    // Hard module edges: scaled without interpolation.
    code_->setPixmap(image.isNull() ? QPixmap()
                                    : QPixmap::fromImage(image.scaled(codeSide, codeSide, Qt::IgnoreAspectRatio,
                                                                      Qt::FastTransformation)));
    valueLabel_->setAccessibleName(value_);
    showValue();
}

void QRShareRow::showValue() {
    valueLabel_->setText(middleTruncated(value_, valueLabel_->fontMetrics(), valueLabel_->width(), 2));
}

void QRShareRow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    showValue();
}

}  // namespace ombry::ui
