#pragma once
#include <QAbstractButton>

namespace ombry::ui {

// An on/off switch: a checkable button drawn as a track with a knob. Takes no keyboard focus.
class Switch : public QAbstractButton {
    Q_OBJECT
public:
    explicit Switch(QWidget* parent = nullptr);
    QSize sizeHint() const override { return {32, 18}; }

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace ombry::ui
