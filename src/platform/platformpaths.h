#pragma once

#include <QString>

// The folders the application uses, as this desktop reports them. Everything else receives
// these values through constructors, so tests can point them at temporary folders.
namespace PlatformPaths {

QString homeFolder();
QString cacheFolder();              // empty when the platform reports none
QString applicationSupportFolder(); // ~/.local/share when the platform reports none
QString downloadsFolder();          // home + "/Downloads" when the platform reports none

QString managedToolsFolder(); // application support + "/Torvel Downloader/Tools"
QString jobsRoot();           // caches + "/TorvelDownloader/Jobs"
QString queueStoreFile();     // application support + "/Torvel Downloader/Queue.sqlite"

inline constexpr char organizationName[] = "Torvel";
inline constexpr char applicationName[] = "Torvel Downloader";
// Names the application towards the desktop: the single-instance server, the bundle's Info.json.
inline constexpr char bundleIdentifier[] = "app.torvel.downloader";
QString settingsFile();

} // namespace PlatformPaths
