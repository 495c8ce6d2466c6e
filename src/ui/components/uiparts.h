#pragma once

#include "ui/components/torveltheme.h"

#include <QColor>
#include <QString>

class QLabel;
class QPushButton;
class QWidget;

// Small pieces the main window's views are built from.
namespace UiParts {

// Text drawn in `color`; an invalid color goes back to the palette's own text color.
void setTextColor(QWidget *widget, const QColor &color);
// A text style's font enlarged (or reduced) by `factor`, for titles.
QFont scaledFont(TorvelTheme::TextStyle style, qreal factor, QFont::Weight weight = QFont::Normal);
// A one-line label in a text style.
QLabel *label(const QString &text, TorvelTheme::TextStyle style, QWidget *parent, const QString &objectName = {},
              QFont::Weight weight = QFont::Normal);
// A label in the secondary text color.
QLabel *secondaryLabel(const QString &text, TorvelTheme::TextStyle style, QWidget *parent,
                       const QString &objectName = {});
// The ordinary bordered button, optionally with an icon of the icon table.
QPushButton *borderedButton(const QString &text, const QString &iconName, QWidget *parent, const QString &objectName);

} // namespace UiParts
