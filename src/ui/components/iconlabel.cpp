#include "iconlabel.h"

#include "ui/components/icons.h"

#include <QPainter>

IconLabel::IconLabel(const QString &iconName, const QColor &color, int iconSize, QWidget *parent)
    : QWidget(parent), m_iconName(iconName), m_color(color), m_iconSize(iconSize) {
    setObjectName(QStringLiteral("iconLabel"));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void IconLabel::setIconName(const QString &name) {
    if (name == m_iconName)
        return;
    m_iconName = name;
    update();
}

void IconLabel::setColor(const QColor &color) {
    if (color == m_color)
        return;
    m_color = color;
    update();
}

void IconLabel::setIconSize(int size) {
    if (size == m_iconSize)
        return;
    m_iconSize = size;
    updateGeometry();
    update();
}

QSize IconLabel::sizeHint() const {
    return {m_iconSize, m_iconSize};
}

QSize IconLabel::minimumSizeHint() const {
    return sizeHint();
}

void IconLabel::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    if (!isEnabled())
        painter.setOpacity(0.4);
    const QColor color = m_color.isValid() ? m_color : palette().color(QPalette::WindowText);
    const int side = qMin(m_iconSize, qMin(width(), height()));
    QRectF square(0, 0, side, side);
    square.moveCenter(QRectF(rect()).center());
    Icons::paint(&painter, square, m_iconName, color);
}
