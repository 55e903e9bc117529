#pragma once
#include <QAbstractButton>
#include <QColor>

#include <string>

namespace ombry::ui {

// A small capsule with an optional symbol and a text (pills, tags, filters); checkable chips fill with their
// tint when checked. Takes no keyboard focus.
class Chip : public QAbstractButton {
    Q_OBJECT
public:
    explicit Chip(const QString& text = {}, QWidget* parent = nullptr);
    void setSymbol(std::string name);
    const std::string& symbol() const { return symbol_; }
    void setTint(const QColor& tint);
    QColor tint() const { return tint_; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::string symbol_;
    QColor tint_{255, 255, 255};
};

}  // namespace ombry::ui
