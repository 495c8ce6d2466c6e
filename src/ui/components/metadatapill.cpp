#include "metadatapill.h"

#include "ui/components/torveltheme.h"

#include <QPainter>

namespace {
constexpr int horizontalPadding = 7;
constexpr int verticalPadding = 2;
} // namespace

MetadataPill::MetadataPill(const QString &text, QWidget *parent) : QWidget(parent), m_text(text) {
    setObjectName(QStringLiteral("metadataPill"));
    setFont(TorvelTheme::font(TorvelTheme::TextStyle::caption2, QFont::Medium));
    setAccessibleName(text);
    setToolTip(text);
}

QSize MetadataPill::sizeHint() const {
    return {fontMetrics().horizontalAdvance(m_text) + 2 * horizontalPadding + 1,
            fontMetrics().height() + 2 * verticalPadding};
}

QSize MetadataPill::minimumSizeHint() const {
    return {qMin(sizeHint().width(), fontMetrics().averageCharWidth() * 4 + 2 * horizontalPadding),
            sizeHint().height()};
}

void MetadataPill::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF capsule = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(Qt::NoPen);
    painter.setBrush(TorvelTheme::primary(palette(), 0.07));
    painter.drawRoundedRect(capsule, 6, 6);
    painter.setPen(TorvelTheme::secondaryText(palette()));
    const QRect textRect = rect().adjusted(horizontalPadding, 0, -horizontalPadding, 0);
    painter.drawText(textRect, Qt::AlignCenter | Qt::TextSingleLine,
                     fontMetrics().elidedText(m_text, Qt::ElideRight, textRect.width()));
}
