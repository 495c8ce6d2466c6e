#pragma once

#include "model/toolindicatorstate.h"

#include <QColor>
#include <QFont>
#include <QLinearGradient>
#include <QPalette>

// The application's five colors and the few derived tints and text styles every window shares.
namespace TorvelTheme {

QColor accent();          // selection, links, primary actions, progress
QColor accentSecondary(); // second stop of the accent gradients
QColor success();         // current tools, finished operations
QColor warning();         // updates available, warnings, long silences
QColor danger();          // missing tools, install buttons

// success, warning or danger for a tool's state.
QColor indicatorColor(ToolIndicatorState state);

// The palette's text color at the given opacity, for hairlines and faint fills that must work on
// light and dark palettes alike.
QColor primary(const QPalette &palette, qreal opacity);
// Text that sits below a title: captions, versions, details.
QColor secondaryText(const QPalette &palette);

// accent → accentSecondary between two points, each stop at its own opacity.
QLinearGradient accentGradient(const QPointF &start, const QPointF &end, qreal accentOpacity = 1.0,
                               qreal secondaryOpacity = 1.0);

enum class TextStyle { body, callout, caption, caption2, headline };
// The application font scaled for a text style.
QFont font(TextStyle style, QFont::Weight weight = QFont::Normal);

} // namespace TorvelTheme
