#include "adaptivegridlayout.h"

#include <QWidget>

namespace {

// Asked of the widget itself: the layout item's own cache of these answers is not told when
// the widgets inside the item are shown for the first time.
int itemHeight(QLayoutItem *item, int width) {
    QWidget *widget = item->widget();
    if (!widget)
        return item->hasHeightForWidth() ? item->heightForWidth(width) : item->sizeHint().height();
    const int wanted = widget->hasHeightForWidth() ? widget->heightForWidth(width) : widget->sizeHint().height();
    return qBound(widget->minimumHeight(), qMax(wanted, widget->minimumSizeHint().height()), widget->maximumHeight());
}

} // namespace

AdaptiveGridLayout::AdaptiveGridLayout(int minimumColumnWidth, int spacing, QWidget *parent)
    : QLayout(parent), m_minimumColumnWidth(minimumColumnWidth), m_gap(spacing) {
    setContentsMargins(0, 0, 0, 0);
}

AdaptiveGridLayout::~AdaptiveGridLayout() {
    while (QLayoutItem *item = takeAt(0))
        delete item;
}

int AdaptiveGridLayout::columnCount(int width) const {
    return qMax(1, (width + m_gap) / (m_minimumColumnWidth + m_gap));
}

void AdaptiveGridLayout::addItem(QLayoutItem *item) {
    m_items.append(item);
    invalidate();
}

QLayoutItem *AdaptiveGridLayout::itemAt(int index) const {
    return index >= 0 && index < m_items.size() ? m_items.at(index) : nullptr;
}

QLayoutItem *AdaptiveGridLayout::takeAt(int index) {
    if (index < 0 || index >= m_items.size())
        return nullptr;
    QLayoutItem *item = m_items.takeAt(index);
    invalidate();
    return item;
}

void AdaptiveGridLayout::invalidate() {
    m_cachedWidth = -1;
    QLayout::invalidate();
}

int AdaptiveGridLayout::heightForWidth(int width) const {
    if (width != m_cachedWidth) {
        m_cachedHeight = arrange(QRect(0, 0, width, 0), false);
        m_cachedWidth = width;
    }
    return m_cachedHeight;
}

QSize AdaptiveGridLayout::sizeHint() const {
    return {m_minimumColumnWidth, heightForWidth(m_minimumColumnWidth)};
}

QSize AdaptiveGridLayout::minimumSize() const {
    int width = 0;
    for (QLayoutItem *item : m_items)
        width = qMax(width, item->minimumSize().width());
    return {qMin(width, m_minimumColumnWidth), 0};
}

void AdaptiveGridLayout::setGeometry(const QRect &rect) {
    QLayout::setGeometry(rect);
    arrange(rect, true);
}

int AdaptiveGridLayout::arrange(const QRect &rect, bool apply) const {
    const QRect area = rect.marginsRemoved(contentsMargins());
    const int columns = columnCount(area.width());
    const int columnWidth = qMax(1, (area.width() - (columns - 1) * m_gap) / columns);

    QList<QLayoutItem *> visible;
    for (QLayoutItem *item : m_items) {
        if (!item->isEmpty())
            visible.append(item);
    }
    int y = area.y();
    for (qsizetype start = 0; start < visible.size(); start += columns) {
        const qsizetype end = qMin(start + columns, visible.size());
        int rowHeight = 0;
        for (qsizetype i = start; i < end; ++i) {
            QLayoutItem *item = visible.at(i);
            rowHeight = qMax(rowHeight, itemHeight(item, columnWidth));
        }
        if (apply) {
            for (qsizetype i = start; i < end; ++i) {
                const int column = int(i - start);
                visible.at(i)->setGeometry(QRect(area.x() + column * (columnWidth + m_gap), y, columnWidth, rowHeight));
            }
        }
        y += rowHeight + m_gap;
    }
    const int used = visible.isEmpty() ? 0 : y - area.y() - m_gap;
    const QMargins margins = contentsMargins();
    return used + margins.top() + margins.bottom();
}
