#include "uiparts.h"

#include "ui/components/icons.h"
#include "ui/components/secondarytext.h"

#include <QLabel>
#include <QPushButton>

namespace UiParts {

namespace {
// Tall enough to sit beside a line of text and a primary button without looking cramped.
constexpr int borderedButtonHeight = 30;
constexpr int borderedButtonPadding = 8; // on each side, beyond what the style leaves

// Room between the text and the outline, whatever the style's own margin: a long label such as
// "Usar versión precompilada…" would otherwise touch the border.
class BorderedButton final : public QPushButton {
public:
    using QPushButton::QPushButton;
    QSize sizeHint() const override { return padded(QPushButton::sizeHint()); }
    QSize minimumSizeHint() const override { return padded(QPushButton::minimumSizeHint()); }

private:
    static QSize padded(QSize size) { return {size.width() + 2 * borderedButtonPadding, size.height()}; }
};
} // namespace

void setTextColor(QWidget *widget, const QColor &color) {
    if (!color.isValid()) {
        // A palette that resolves nothing: the widget inherits its parent's colors again.
        widget->setPalette(QPalette());
        return;
    }
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::Text, color);
    widget->setPalette(palette);
}

QFont scaledFont(TorvelTheme::TextStyle style, qreal factor, QFont::Weight weight) {
    QFont font = TorvelTheme::font(style, weight);
    if (font.pixelSize() > 0)
        font.setPixelSize(qMax(1, qRound(font.pixelSize() * factor)));
    else
        font.setPointSizeF(font.pointSizeF() * factor);
    return font;
}

QLabel *label(const QString &text, TorvelTheme::TextStyle style, QWidget *parent, const QString &objectName,
              QFont::Weight weight) {
    auto *result = new QLabel(text, parent);
    result->setFont(TorvelTheme::font(style, weight));
    result->setTextFormat(Qt::PlainText);
    if (!objectName.isEmpty())
        result->setObjectName(objectName);
    return result;
}

QLabel *secondaryLabel(const QString &text, TorvelTheme::TextStyle style, QWidget *parent, const QString &objectName) {
    QLabel *result = label(text, style, parent, objectName);
    SecondaryText::apply(result);
    return result;
}

QPushButton *borderedButton(const QString &text, const QString &iconName, QWidget *parent, const QString &objectName) {
    auto *button = new BorderedButton(text, parent);
    button->setObjectName(objectName);
    if (!iconName.isEmpty())
        button->setIcon(Icons::icon(iconName));
    button->setCursor(Qt::PointingHandCursor);
    button->setMinimumHeight(borderedButtonHeight);
    return button;
}

} // namespace UiParts
