#pragma once

#include <QColor>

// The application's five colors.
namespace TorvelTheme {
QColor accent();
} // namespace TorvelTheme
