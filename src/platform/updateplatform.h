#pragma once

#include <QString>

// What the self-update needs to know about this system.
namespace UpdatePlatform {

// "x86_64" or "aarch64", fixed when the application is built.
QString architecture();
// The manifest's path on the update host for this platform and architecture.
QString manifestPath();
// The version the manifest's minimum system version is compared with: glibc's, which decides
// whether a Linux build runs.
QString systemVersion();
// Whether the user can replace what lies in this folder: it is writable by the user and not on
// a read-only file system.
bool canReplaceIn(const QString &folder);

} // namespace UpdatePlatform
