#pragma once

#include <QString>
#include <QStringList>

// How a person installs yt-dlp and FFmpeg by hand on this system: the distribution's package
// command, read from os-release, and Homebrew's where Homebrew is installed.
namespace ManualInstall {

// osRelease: the text of /etc/os-release (ID and ID_LIKE decide). Empty when neither the
// distribution is known nor Homebrew installed.
QStringList commands(const QString &osRelease, bool homebrewInstalled);
// The same for this machine.
QStringList commands(bool homebrewInstalled);

} // namespace ManualInstall
