#include "torveltheme.h"

#include <QApplication>

namespace TorvelTheme {

QColor accent() {
    return QColor::fromRgbF(0.28f, 0.36f, 0.96f);
}
QColor accentSecondary() {
    return QColor::fromRgbF(0.55f, 0.27f, 0.94f);
}
QColor success() {
    return QColor::fromRgbF(0.10f, 0.63f, 0.42f);
}
QColor warning() {
    return QColor::fromRgbF(0.95f, 0.55f, 0.16f);
}
QColor danger() {
    return QColor::fromRgbF(0.88f, 0.24f, 0.27f);
}

QColor indicatorColor(ToolIndicatorState state) {
    switch (state) {
    case ToolIndicatorState::current:
        return success();
    case ToolIndicatorState::updateAvailable:
        return warning();
    case ToolIndicatorState::unchecked:
        return QColor::fromRgbF(0.56f, 0.56f, 0.58f);
    case ToolIndicatorState::missing:
        return danger();
    }
    return danger();
}

QColor primary(const QPalette &palette, qreal opacity) {
    QColor color = palette.color(QPalette::WindowText);
    color.setAlphaF(float(opacity));
    return color;
}

QColor secondaryText(const QPalette &palette) {
    return primary(palette, 0.62);
}

QLinearGradient accentGradient(const QPointF &start, const QPointF &end, qreal accentOpacity, qreal secondaryOpacity) {
    QColor first = accent();
    first.setAlphaF(float(accentOpacity));
    QColor second = accentSecondary();
    second.setAlphaF(float(secondaryOpacity));
    QLinearGradient gradient(start, end);
    gradient.setColorAt(0, first);
    gradient.setColorAt(1, second);
    return gradient;
}

QFont font(TextStyle style, QFont::Weight weight) {
    QFont result = QApplication::font();
    qreal factor = 1.0;
    switch (style) {
    case TextStyle::body:
        break;
    case TextStyle::callout:
        factor = 0.94;
        break;
    case TextStyle::caption:
        factor = 0.86;
        break;
    case TextStyle::caption2:
        factor = 0.78;
        break;
    case TextStyle::headline:
        if (weight == QFont::Normal)
            weight = QFont::DemiBold;
        break;
    }
    if (result.pixelSize() > 0)
        result.setPixelSize(qMax(8, qRound(result.pixelSize() * factor)));
    else
        result.setPointSizeF(result.pointSizeF() * factor);
    result.setWeight(weight);
    return result;
}

} // namespace TorvelTheme
