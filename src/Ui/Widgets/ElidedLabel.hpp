#pragma once
// One line of text cut in the middle to the width it gets (file names and paths); the whole text is its
// tooltip and accessible name.
#include <QLabel>

namespace ombry::ui {

class ElidedLabel final : public QLabel {
public:
    explicit ElidedLabel(QWidget* parent = nullptr);
    void setFullText(const QString& text);
    const QString& fullText() const { return full_; }
    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void elide();
    QString full_;
};

}  // namespace ombry::ui
