#include "torvelcard.h"

#include "ui/components/torveltheme.h"

#include <QPainter>
#include <QVBoxLayout>

TorvelCard::TorvelCard(QWidget *parent) : QFrame(parent), m_layout(new QVBoxLayout(this)) {
    setObjectName(QStringLiteral("torvelCard"));
    setFrameShape(QFrame::NoFrame);
    m_layout->setContentsMargins(padding, padding, padding, padding);
}

TorvelCard::TorvelCard(QWidget *content, QWidget *parent) : TorvelCard(parent) {
    if (content)
        m_layout->addWidget(content);
}

void TorvelCard::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // Half a pixel in, so the hairline falls on whole device pixels instead of being cut in half.
    const QRectF outline = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QColor fill = palette().color(QPalette::Base);
    fill.setAlphaF(0.72f);
    painter.setPen(QPen(TorvelTheme::primary(palette(), 0.08), 1));
    painter.setBrush(fill);
    painter.drawRoundedRect(outline, cornerRadius, cornerRadius);
}
