#pragma once
// The running timecode over the program picture: the primary layer's playhead, ticking with the window's
// shared ticker while that layer's clip rolls.
#include <QWidget>

#include <functional>

#include "Ui/Bridge/RefreshGate.hpp"

class QPainter;

namespace ombry::ui {

// Text drawn over the picture: a shadow of black at 80 % (radius 1, one point down) under one of black at
// 45 % (radius 6), painted by hand.
void drawOverVideo(QPainter& painter, const QRectF& rect, int flags, const QString& text, const QColor& color);

class ProgramTimecode final : public QWidget {
public:
    ProgramTimecode(AppState& state, StateSignals& stateSignals, QWidget* parent = nullptr);
    const QString& text() const { return text_; }
    QSize sizeHint() const override;
    int updates() const { return updates_; }
    // For a picture that nothing can be drawn over (a native window): the widget hides and the picture
    // paints the timecode itself with paintAt(), told by `changed` whenever the text changes.
    void drawInPicture(std::function<void()> changed);
    // The timecode as the widget paints it, with its box's top-left at `origin`.
    void paintAt(QPainter& painter, QPoint origin) const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void sync();
    bool shown() const;
    AppState& state_;
    std::function<void()> changed_;
    QString text_;
    int updates_ = 0;
};

}  // namespace ombry::ui
