#pragma once

#include <QIcon>

// The window icon: the logo's mark, drawn at the sizes window managers and task switchers ask for.
QIcon applicationIcon();
