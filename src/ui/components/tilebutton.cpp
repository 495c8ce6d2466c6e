#include "tilebutton.h"

#include "ui/components/torveltheme.h"

#include <QChildEvent>
#include <QPainter>
#include <QStyleOptionButton>
#include <QVBoxLayout>

TileButton::TileButton(QWidget *parent) : QAbstractButton(parent), m_layout(new QVBoxLayout(this)) {
    setObjectName(QStringLiteral("tileButton"));
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_Hover);
    setFocusPolicy(Qt::StrongFocus);
    // Buttons are fixed in height by default; a tile grows with its content.
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    m_layout->setContentsMargins(14, 12, 14, 12);
    m_layout->setSpacing(6);
}

void TileButton::setSelected(bool selected) {
    if (selected == m_selected)
        return;
    m_selected = selected;
    setAccessibleDescription(selected ? QStringLiteral("Seleccionado") : QString());
    selectionChanged();
    update();
}

void TileButton::childEvent(QChildEvent *event) {
    if (event->added() && event->child()->isWidgetType())
        static_cast<QWidget *>(event->child())->setAttribute(Qt::WA_TransparentForMouseEvents);
    QAbstractButton::childEvent(event);
}

void TileButton::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF outline = QRectF(rect()).adjusted(0.75, 0.75, -0.75, -0.75);
    const bool hovered = underMouse() && isEnabled();

    QColor fill;
    QPen border;
    if (m_selected) {
        fill = TorvelTheme::accent();
        fill.setAlphaF(isDown() ? 0.14f : 0.08f);
        border = QPen(TorvelTheme::accent(), 1.5);
    } else {
        fill = TorvelTheme::primary(palette(), isDown() ? 0.07 : hovered ? 0.05 : 0.025);
        border = QPen(TorvelTheme::primary(palette(), hovered ? 0.16 : 0.1), 1);
    }
    painter.setPen(border);
    painter.setBrush(fill);
    painter.drawRoundedRect(outline, cornerRadius, cornerRadius);

    QStyleOptionButton option;
    option.initFrom(this);
    if ((option.state & QStyle::State_HasFocus) && (option.state & QStyle::State_KeyboardFocusChange)) {
        QColor ring = TorvelTheme::accent();
        ring.setAlphaF(0.6f);
        painter.setPen(QPen(ring, 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(outline.adjusted(2, 2, -2, -2), cornerRadius - 2, cornerRadius - 2);
    }
}
