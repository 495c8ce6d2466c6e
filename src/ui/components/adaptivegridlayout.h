#pragma once

#include <QLayout>
#include <QList>

// A grid that fits as many columns of at least `minimumColumnWidth` as the width allows and
// shares the width among them; items fill their column and each row is as tall as its tallest
// item.
class AdaptiveGridLayout : public QLayout {
public:
    explicit AdaptiveGridLayout(int minimumColumnWidth, int spacing, QWidget *parent = nullptr);
    ~AdaptiveGridLayout() override;

    int columnCount(int width) const;

    void addItem(QLayoutItem *item) override;
    int count() const override { return int(m_items.size()); }
    QLayoutItem *itemAt(int index) const override;
    QLayoutItem *takeAt(int index) override;

    Qt::Orientations expandingDirections() const override { return Qt::Horizontal; }
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSize() const override;
    void setGeometry(const QRect &rect) override;
    void invalidate() override;

private:
    int arrange(const QRect &rect, bool apply) const;

    QList<QLayoutItem *> m_items;
    int m_minimumColumnWidth;
    int m_gap;
    mutable int m_cachedWidth = -1;
    mutable int m_cachedHeight = 0;
};
