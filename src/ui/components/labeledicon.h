#pragma once

#include "ui/components/torveltheme.h"

#include <QColor>
#include <QWidget>

class IconLabel;
class WrappingLabel;

// An icon of the icon table in front of a text, the icon sized to the text and level with its
// first line. The text wraps when the row is too narrow for it.
class LabeledIcon : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QString text READ text)

public:
    LabeledIcon(const QString &iconName, const QString &text, TorvelTheme::TextStyle style, QWidget *parent = nullptr,
                QFont::Weight weight = QFont::Normal);

    QString text() const;
    void setText(const QString &text);
    QString iconName() const;
    void setIconName(const QString &name);
    // The text's color; an invalid color follows the palette.
    void setTextColor(const QColor &color);
    // The icon's color; an invalid color follows the text.
    void setIconColor(const QColor &color);
    // Icon and text in one color.
    void setColor(const QColor &color);

    IconLabel *icon() const { return m_icon; }
    WrappingLabel *label() const { return m_label; }

private:
    IconLabel *m_icon;
    WrappingLabel *m_label;
};
