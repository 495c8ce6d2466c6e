#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>
#include <QStringList>

#include <optional>

class QPainter;
class QRectF;

// The one table from the system icon names the interface speaks in ("folder.fill",
// "checkmark.circle.fill", …) to glyphs of the Material Icons font, and the drawing of those
// glyphs. An unknown name draws nothing: layouts keep their space and nothing crashes.
namespace Icons {

struct Glyph {
    char16_t codepoint;
    QString materialName; // the font's own name for the glyph, as in its codepoint list
};

std::optional<Glyph> glyph(const QString &name);
// Every icon name the interface uses, in table order.
QStringList names();

// The font's family, loaded on first use; empty when the font is not available.
QString fontFamily();
// The icon font at a pixel size, never merged with fallback fonts.
QFont font(int pixelSize);

// Draws the glyph centered in rect, as large as the shorter side.
void paint(QPainter *painter, const QRectF &rect, const QString &name, const QColor &color);
// A scalable icon; an invalid color follows the application palette's text color. `size` is the
// icon's natural size, reported to styles that ask for one.
QIcon icon(const QString &name, const QColor &color = {}, int size = 16);
// A square pixmap of `size` logical pixels at the given device pixel ratio.
QPixmap pixmap(const QString &name, const QColor &color, int size, qreal devicePixelRatio = 1.0);

} // namespace Icons
