#include "Ui/Widgets/FlowGridLayout.hpp"

#include <QWidget>

#include <algorithm>

namespace ombry::ui {

FlowGridLayout::FlowGridLayout(QWidget* parent, int spacing) : QLayout(parent) {
    setSpacing(spacing);
    setContentsMargins(0, 0, 0, 0);
}

FlowGridLayout::~FlowGridLayout() {
    while (QLayoutItem* item = takeAt(0)) delete item;
}

void FlowGridLayout::setItemWidth(int width) {
    itemWidth_ = std::max(0, width);
    invalidate();
}

void FlowGridLayout::setRowSpacing(int spacing) {
    rowSpacing_ = spacing;
    invalidate();
}

int FlowGridLayout::columnsFor(int width, int itemWidth, int spacing) {
    if (itemWidth <= 0) return 1;
    return std::max(1, (width + spacing) / (itemWidth + spacing));
}

void FlowGridLayout::addItem(QLayoutItem* item) { items_.append(item); }

QLayoutItem* FlowGridLayout::itemAt(int index) const {
    return index >= 0 && index < items_.size() ? items_.at(index) : nullptr;
}

QLayoutItem* FlowGridLayout::takeAt(int index) {
    return index >= 0 && index < items_.size() ? items_.takeAt(index) : nullptr;
}

int FlowGridLayout::heightForWidth(int width) const { return layoutItems(QRect(0, 0, width, 0), false); }

QSize FlowGridLayout::sizeHint() const { return minimumSize(); }

QSize FlowGridLayout::minimumSize() const {
    QSize s;
    for (const QLayoutItem* item : items_) s = s.expandedTo(item->minimumSize());
    if (itemWidth_ > 0) s.setWidth(std::max(s.width(), itemWidth_));
    const QMargins m = contentsMargins();
    return s + QSize(m.left() + m.right(), m.top() + m.bottom());
}

void FlowGridLayout::setGeometry(const QRect& rect) {
    QLayout::setGeometry(rect);
    layoutItems(rect, true);
}

int FlowGridLayout::layoutItems(const QRect& rect, bool apply) const {
    const QRect r = rect.marginsRemoved(contentsMargins());
    const int gap = spacing();
    int x = r.x(), y = r.y(), rowHeight = 0;
    for (QLayoutItem* item : items_) {
        if (item->isEmpty()) continue;
        const QSize hint = item->sizeHint();
        const int w = itemWidth_ > 0 ? itemWidth_ : hint.width();
        const int h = item->hasHeightForWidth() ? item->heightForWidth(w) : hint.height();
        if (x > r.x() && x + w > r.right() + 1) {
            x = r.x();
            y += rowHeight + (rowSpacing_ >= 0 ? rowSpacing_ : gap);
            rowHeight = 0;
        }
        if (apply) item->setGeometry(QRect(x, y, w, h));
        x += w + gap;
        rowHeight = std::max(rowHeight, h);
    }
    const QMargins m = contentsMargins();
    return y + rowHeight - rect.y() + m.bottom();
}

}  // namespace ombry::ui
