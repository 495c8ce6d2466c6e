#include "tintedpanel.h"

#include "ui/components/torveltheme.h"

#include <QPainter>

TintedPanel::TintedPanel(const QColor &fill, QWidget *parent, qreal cornerRadius)
    : QWidget(parent), m_fill(fill), m_cornerRadius(cornerRadius) {}

void TintedPanel::setFill(const QColor &fill) {
    m_fill = fill;
    update();
}

void TintedPanel::setBorder(const QColor &border) {
    m_border = border;
    update();
}

void TintedPanel::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(m_border.isValid() ? QPen(m_border, 1) : QPen(Qt::NoPen));
    painter.setBrush(m_fill.isValid() ? m_fill : TorvelTheme::primary(palette(), 0.045));
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), m_cornerRadius, m_cornerRadius);
}
