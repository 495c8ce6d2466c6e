#include "torveltheme.h"

namespace TorvelTheme {
QColor accent() { return QColor(0x2F, 0x6B, 0xFF); }
} // namespace TorvelTheme
