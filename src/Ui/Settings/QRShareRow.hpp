#pragma once
// A text value (a link or a pairing string) as a QR code beside its caption and the value itself, with an
// optional extra widget under the value. Without a code (a value too long for one) only the texts show.
#include <QImage>
#include <QWidget>

#include <string>

class QLabel;

namespace ombry::ui {

class QRShareRow final : public QWidget {
    Q_OBJECT
public:
    // Error correction level M, each module 8 by 8 pixels, black on white; a null image when the bytes do
    // not fit in a QR code at that level.
    static QImage qrImage(const std::string& text);
    // The side of the drawn code and the white margin around it.
    static constexpr int codeSide = 140, codeMargin = 6;

    QRShareRow(const QString& value, const QString& caption, QWidget* extra = nullptr, QWidget* parent = nullptr);
    // Shows another value (a new code); nothing is redrawn when it is the same.
    void setValue(const QString& value);
    const QString& value() const { return value_; }
    // The code's white box; hidden when there is no code.
    QWidget* codeBox() const { return codeBox_; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void showValue();
    QString value_;
    QWidget* codeBox_ = nullptr;
    QLabel* code_ = nullptr;
    QLabel* valueLabel_ = nullptr;
};

// The text cut in the middle with an ellipsis so that it fills at most `lines` lines of `width` pixels,
// broken anywhere (a link has no spaces to break at).
QString middleTruncated(const QString& text, const QFontMetrics& metrics, int width, int lines);

}  // namespace ombry::ui
