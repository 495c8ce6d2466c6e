#include "primarybutton.h"

#include "ui/components/icons.h"
#include "ui/components/torveltheme.h"

#include <QPainter>
#include <QStyleOptionButton>
#include <QtMath>

namespace {
constexpr int iconSpacing = 7;
constexpr int verticalPadding = 10;
} // namespace

PrimaryButton::PrimaryButton(QWidget *parent) : PrimaryButton(QIcon(), QString(), parent) {}

PrimaryButton::PrimaryButton(const QString &text, QWidget *parent) : PrimaryButton(QIcon(), text, parent) {}

PrimaryButton::PrimaryButton(const QIcon &icon, const QString &text, QWidget *parent)
    : QPushButton(icon, text, parent) {
    setObjectName(QStringLiteral("primaryButton"));
    setFont(TorvelTheme::font(TorvelTheme::TextStyle::body, QFont::DemiBold));
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_Hover);
    setMinimumHeight(minimumHeight);
}

void PrimaryButton::setIconName(const QString &name) {
    setIcon(name.isEmpty() ? QIcon() : Icons::icon(name, Qt::white, iconSize().width()));
}

QSize PrimaryButton::sizeHint() const {
    // Fractional advances rounded up, so the label measured here is never elided when drawn.
    const QFontMetricsF metrics(font());
    int contentWidth = qCeil(metrics.horizontalAdvance(text()));
    int contentHeight = qCeil(metrics.height());
    if (!icon().isNull()) {
        contentWidth += iconSize().width() + (text().isEmpty() ? 0 : iconSpacing);
        contentHeight = qMax(contentHeight, iconSize().height());
    }
    return {contentWidth + 2 * horizontalPadding, qMax(minimumHeight, contentHeight + 2 * verticalPadding)};
}

QSize PrimaryButton::minimumSizeHint() const {
    return sizeHint();
}

void PrimaryButton::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);

    const QRectF bounds = rect();
    if (isDown()) {
        painter.setOpacity(pressedOpacity);
        painter.translate(bounds.center());
        painter.scale(pressedScale, pressedScale);
        painter.translate(-bounds.center());
    }
    if (!isEnabled())
        painter.setOpacity(0.45);

    painter.setPen(Qt::NoPen);
    painter.setBrush(TorvelTheme::accentGradient(bounds.topLeft(), bounds.topRight()));
    painter.drawRoundedRect(bounds, cornerRadius, cornerRadius);
    if (isEnabled() && underMouse() && !isDown()) {
        painter.setBrush(QColor(255, 255, 255, 22));
        painter.drawRoundedRect(bounds, cornerRadius, cornerRadius);
    }

    QStyleOptionButton option;
    initStyleOption(&option);
    if ((option.state & QStyle::State_HasFocus) && (option.state & QStyle::State_KeyboardFocusChange)) {
        painter.setPen(QPen(QColor(255, 255, 255, 200), 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(bounds.adjusted(2.5, 2.5, -2.5, -2.5), cornerRadius - 2.5, cornerRadius - 2.5);
    }

    // Icon and label as one centered group; the label is elided when the button is narrower
    // than its content.
    const QFontMetricsF metrics(font());
    const bool hasIcon = !icon().isNull();
    const int iconWidth = hasIcon ? iconSize().width() + (text().isEmpty() ? 0 : iconSpacing) : 0;
    const qreal available = qMax(0, width() - 2 * horizontalPadding - iconWidth) + 0.5;
    const QString label = metrics.elidedText(text(), Qt::ElideRight, available);
    const qreal groupWidth = iconWidth + metrics.horizontalAdvance(label);
    qreal x = bounds.center().x() - groupWidth / 2.0;
    if (hasIcon) {
        const QRectF iconRect(x, bounds.center().y() - iconSize().height() / 2.0, iconSize().width(),
                              iconSize().height());
        // The painter's opacity already dims a disabled button; the icon keeps its normal mode.
        icon().paint(&painter, iconRect.toAlignedRect(), Qt::AlignCenter, QIcon::Normal);
        x += iconWidth;
    }
    painter.setPen(Qt::white);
    painter.drawText(QRectF(x, 0, groupWidth - iconWidth + 1, height()),
                     Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine, label);
}
