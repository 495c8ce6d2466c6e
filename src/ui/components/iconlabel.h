#pragma once

#include <QColor>
#include <QWidget>

// One icon of the icon table, drawn straight from the font so it stays sharp at any scale.
// An invalid color follows the palette's text color.
class IconLabel : public QWidget {
    Q_OBJECT

public:
    explicit IconLabel(const QString &iconName, const QColor &color = {}, int iconSize = 16, QWidget *parent = nullptr);

    QString iconName() const { return m_iconName; }
    void setIconName(const QString &name);
    QColor color() const { return m_color; }
    void setColor(const QColor &color);
    int iconSize() const { return m_iconSize; }
    void setIconSize(int size);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_iconName;
    QColor m_color;
    int m_iconSize;
};
