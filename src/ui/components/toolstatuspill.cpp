#include "toolstatuspill.h"

#include "ui/components/torveltheme.h"

#include <QEvent>
#include <QPainter>
#include <QStyleOptionButton>

namespace {
constexpr int dotDiameter = 7;
constexpr int horizontalPadding = 10;
constexpr int verticalPadding = 5;
constexpr int dotSpacing = 6;
} // namespace

ToolStatusPill::ToolStatusPill(const QString &title, ToolIndicatorState state, QWidget *parent)
    : QAbstractButton(parent), m_title(title), m_state(state) {
    setObjectName(QStringLiteral("toolStatusPill"));
    setText(title);
    setFont(TorvelTheme::font(TorvelTheme::TextStyle::caption, QFont::Medium));
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_Hover);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    applyState();
}

void ToolStatusPill::setState(ToolIndicatorState state) {
    if (state == m_state)
        return;
    m_state = state;
    applyState();
}

QColor ToolStatusPill::dotColor() const {
    return TorvelTheme::indicatorColor(m_state);
}

QString ToolStatusPill::stateText(ToolIndicatorState state) {
    switch (state) {
    case ToolIndicatorState::current:
        return QStringLiteral("Disponible y actualizado");
    case ToolIndicatorState::updateAvailable:
        return QStringLiteral("Actualización disponible");
    case ToolIndicatorState::unchecked:
        return QStringLiteral("Disponible, sin comprobar si hay versiones nuevas");
    case ToolIndicatorState::missing:
        return QStringLiteral("No instalado");
    }
    return {};
}

void ToolStatusPill::applyState() {
    const QString text = stateText(m_state);
    setToolTip(m_title + QStringLiteral(": ") + text + QStringLiteral(". Abrir Herramientas."));
    setAccessibleName(m_title + QStringLiteral(", ") + text);
    update();
}

QSize ToolStatusPill::sizeHint() const {
    const QFontMetrics metrics(font());
    const int height = qMax(metrics.height(), dotDiameter) + 2 * verticalPadding;
    return {2 * horizontalPadding + dotDiameter + dotSpacing + metrics.horizontalAdvance(m_title), height};
}

QSize ToolStatusPill::minimumSizeHint() const {
    return sizeHint();
}

void ToolStatusPill::changeEvent(QEvent *event) {
    if (event->type() == QEvent::FontChange)
        updateGeometry();
    QAbstractButton::changeEvent(event);
}

void ToolStatusPill::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (isDown())
        painter.setOpacity(0.7);
    if (!isEnabled())
        painter.setOpacity(0.45);

    const QRectF capsule = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const qreal radius = capsule.height() / 2;
    painter.setPen(Qt::NoPen);
    painter.setBrush(TorvelTheme::primary(palette(), underMouse() ? 0.09 : 0.055));
    painter.drawRoundedRect(capsule, radius, radius);

    QStyleOptionButton option;
    option.initFrom(this);
    if ((option.state & QStyle::State_HasFocus) && (option.state & QStyle::State_KeyboardFocusChange)) {
        painter.setPen(QPen(TorvelTheme::accent(), 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(capsule.adjusted(0.75, 0.75, -0.75, -0.75), radius - 0.75, radius - 0.75);
    }

    const QRectF dot(horizontalPadding, (height() - dotDiameter) / 2.0, dotDiameter, dotDiameter);
    painter.setPen(Qt::NoPen);
    painter.setBrush(dotColor());
    painter.drawEllipse(dot);

    painter.setPen(palette().color(QPalette::WindowText));
    const QRectF textRect(dot.right() + dotSpacing, 0, width() - dot.right() - dotSpacing - horizontalPadding,
                          height());
    painter.drawText(textRect, Qt::AlignVCenter | Qt::AlignLeft, m_title);
}
