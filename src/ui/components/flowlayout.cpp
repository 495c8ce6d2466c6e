#include "flowlayout.h"

#include <QWidget>

FlowLayout::FlowLayout(QWidget *parent, int horizontalSpacing, int verticalSpacing)
    : QLayout(parent), m_horizontalSpacing(horizontalSpacing), m_verticalSpacing(verticalSpacing) {
    setContentsMargins(0, 0, 0, 0);
}

FlowLayout::~FlowLayout() {
    while (QLayoutItem *item = takeAt(0))
        delete item;
}

void FlowLayout::addItem(QLayoutItem *item) {
    m_items.append(item);
    invalidate();
}

QLayoutItem *FlowLayout::itemAt(int index) const {
    return index >= 0 && index < m_items.size() ? m_items.at(index) : nullptr;
}

QLayoutItem *FlowLayout::takeAt(int index) {
    if (index < 0 || index >= m_items.size())
        return nullptr;
    QLayoutItem *item = m_items.takeAt(index);
    invalidate();
    return item;
}

void FlowLayout::invalidate() {
    m_cachedWidth = -1;
    QLayout::invalidate();
}

int FlowLayout::heightForWidth(int width) const {
    if (width != m_cachedWidth) {
        m_cachedHeight = arrange(QRect(0, 0, width, 0), false);
        m_cachedWidth = width;
    }
    return m_cachedHeight;
}

QSize FlowLayout::sizeHint() const {
    // Everything in one row.
    int width = 0;
    int height = 0;
    int visible = 0;
    for (QLayoutItem *item : m_items) {
        if (item->isEmpty())
            continue;
        const QSize hint = item->sizeHint();
        width += hint.width();
        height = qMax(height, hint.height());
        ++visible;
    }
    width += qMax(0, visible - 1) * m_horizontalSpacing;
    const QMargins margins = contentsMargins();
    return {width + margins.left() + margins.right(), height + margins.top() + margins.bottom()};
}

QSize FlowLayout::minimumSize() const {
    QSize size;
    for (QLayoutItem *item : m_items) {
        if (!item->isEmpty())
            size = size.expandedTo(item->minimumSize());
    }
    const QMargins margins = contentsMargins();
    return size + QSize(margins.left() + margins.right(), margins.top() + margins.bottom());
}

void FlowLayout::setGeometry(const QRect &rect) {
    QLayout::setGeometry(rect);
    arrange(rect, true);
}

int FlowLayout::arrange(const QRect &rect, bool apply) const {
    const QRect area = rect.marginsRemoved(contentsMargins());
    const int rowWidth = qMax(1, area.width());

    struct Placed {
        QLayoutItem *item;
        QRect geometry;
    };
    QList<Placed> row;
    int y = area.y();
    int x = area.x();
    int rowHeight = 0;
    auto finishRow = [&] {
        if (apply) {
            // Items of a row share its vertical center.
            for (const Placed &placed : std::as_const(row)) {
                QRect geometry = placed.geometry;
                geometry.moveTop(y + (rowHeight - geometry.height()) / 2);
                placed.item->setGeometry(geometry);
            }
        }
        row.clear();
        y += rowHeight + m_verticalSpacing;
        x = area.x();
        rowHeight = 0;
    };

    for (QLayoutItem *item : m_items) {
        if (item->isEmpty())
            continue;
        const QSize hint = item->sizeHint();
        const int width = qMin(hint.width(), rowWidth);
        // Asked of the widget itself: the layout item's own cache of these answers is not told
        // when the widgets inside the item are shown for the first time.
        QWidget *widget = item->widget();
        int height = hint.height();
        if (width < hint.width() && widget && widget->hasHeightForWidth())
            height = qMax(height, widget->heightForWidth(width));
        else if (width < hint.width() && item->hasHeightForWidth())
            height = item->heightForWidth(width);
        if (!row.isEmpty() && x + width > area.x() + rowWidth)
            finishRow();
        row.append({item, QRect(x, y, width, height)});
        x += width + m_horizontalSpacing;
        rowHeight = qMax(rowHeight, height);
    }
    if (!row.isEmpty())
        finishRow();
    const int used = y - area.y() - (y > area.y() ? m_verticalSpacing : 0);
    const QMargins margins = contentsMargins();
    return qMax(0, used) + margins.top() + margins.bottom();
}
