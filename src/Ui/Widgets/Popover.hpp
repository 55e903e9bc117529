#pragma once
#include <QFrame>

namespace ombry::ui {

// A floating panel anchored below (or, without room, above) a rectangle in global coordinates and kept on
// its screen. Escape or a click outside closes it (Qt::Popup); `closed` follows every close.
class Popover : public QFrame {
    Q_OBJECT
public:
    explicit Popover(QWidget* parent = nullptr);
    void showAt(const QRect& globalAnchor);
    // To the right of the anchor (its trailing edge), vertically centred on it: popovers of sidebar rows.
    void showBeside(const QRect& globalAnchor);
    // Where a popover of this size goes for the anchor on a screen's available area.
    static QPoint placement(const QSize& size, const QRect& anchor, const QRect& available, int gap = 6);
    static QPoint placementBeside(const QSize& size, const QRect& anchor, const QRect& available, int gap = 6);

signals:
    void closed();

protected:
    void hideEvent(QHideEvent* event) override;
};

}  // namespace ombry::ui
