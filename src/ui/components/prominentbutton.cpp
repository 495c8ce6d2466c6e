#include "prominentbutton.h"

#include "ui/components/torveltheme.h"

#include <QPainter>

namespace {
constexpr int horizontalPadding = 14;
constexpr int buttonHeight = 30;
constexpr qreal cornerRadius = 8;
} // namespace

ProminentButton::ProminentButton(const QString &text, const QColor &tint, QWidget *parent)
    : QPushButton(text, parent), m_tint(tint) {
    setFont(TorvelTheme::font(TorvelTheme::TextStyle::body, QFont::DemiBold));
    setCursor(Qt::PointingHandCursor);
}

QSize ProminentButton::sizeHint() const {
    return {fontMetrics().horizontalAdvance(text()) + 2 * horizontalPadding, buttonHeight};
}

void ProminentButton::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled())
        painter.setOpacity(0.4);
    else if (isDown())
        painter.setOpacity(0.82);
    painter.setPen(Qt::NoPen);
    painter.setBrush(m_tint);
    painter.drawRoundedRect(QRectF(rect()), cornerRadius, cornerRadius);
    if (hasFocus()) {
        painter.setPen(QPen(palette().color(QPalette::Highlight), 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), cornerRadius, cornerRadius);
    }
    painter.setPen(Qt::white);
    painter.drawText(rect(), Qt::AlignCenter, text());
}
