#pragma once

#include <QString>

// The one shell script of the application: it outlives the application, waits for it to end,
// swaps the installed bundle for the new one and starts whichever version it leaves in place.
// Run by /bin/sh with six parameters: the old process id, the new bundle, the installed bundle,
// the backup path, the update's work folder and the address of the manual-install package.
namespace InstallerScript {

// copyProgram copies a folder with "-a" (cp's archive mode); openProgram opens an address in
// the desktop's browser. Both are absolute paths. waitTenths: how long, in tenths of a second,
// the script waits for the old process before it gives up, removes its files and opens the
// manual-install package.
QString text(const QString &copyProgram, const QString &openProgram, int waitTenths = 300);

} // namespace InstallerScript
