#include "platformpaths.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>

namespace PlatformPaths {

QString homeFolder() {
    return QDir::homePath();
}

QString cacheFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
}

QString applicationSupportFolder() {
    const QString location = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return location.isEmpty() ? homeFolder() + QStringLiteral("/.local/share") : location;
}

QString downloadsFolder() {
    const QString location = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    return location.isEmpty() ? homeFolder() + QStringLiteral("/Downloads") : location;
}

QString managedToolsFolder() {
    return applicationSupportFolder() + QStringLiteral("/Torvel Downloader/Tools");
}

QString queueStoreFile() {
    return applicationSupportFolder() + QStringLiteral("/Torvel Downloader/Queue.sqlite");
}

QString jobsRoot() {
    const QString caches = cacheFolder();
    return caches.isEmpty() ? QString() : caches + QStringLiteral("/TorvelDownloader/Jobs");
}

QString settingsFile() {
    return QSettings(QString::fromLatin1(organizationName), QString::fromLatin1(applicationName)).fileName();
}

} // namespace PlatformPaths
