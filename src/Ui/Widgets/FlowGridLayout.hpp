#pragma once
#include <QLayout>
#include <QList>

namespace ombry::ui {

// Items of one width in rows, as many per row as fit, left to right and top to bottom (the board's cards).
// The height follows the width.
class FlowGridLayout : public QLayout {
public:
    explicit FlowGridLayout(QWidget* parent = nullptr, int spacing = 12);
    ~FlowGridLayout() override;

    // The width of every item; 0 takes each item's own size hint.
    void setItemWidth(int width);
    int itemWidth() const { return itemWidth_; }
    // The gap between rows; the column spacing when not set.
    void setRowSpacing(int spacing);
    // How many items fit in a row of this width (at least 1).
    static int columnsFor(int width, int itemWidth, int spacing);

    void addItem(QLayoutItem* item) override;
    int count() const override { return int(items_.size()); }
    QLayoutItem* itemAt(int index) const override;
    QLayoutItem* takeAt(int index) override;
    Qt::Orientations expandingDirections() const override { return {}; }
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSize() const override;
    void setGeometry(const QRect& rect) override;

private:
    int layoutItems(const QRect& rect, bool apply) const;
    QList<QLayoutItem*> items_;
    int itemWidth_ = 0;
    int rowSpacing_ = -1;
};

}  // namespace ombry::ui
