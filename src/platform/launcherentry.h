#pragma once

#include <QDBusConnection>
#include <QString>

#include <optional>

// The progress bar on the application's launcher (Plasma's task manager, docks) through the
// com.canonical.Unity.LauncherEntry "Update" signal. Without a session bus nothing happens.
class LauncherEntry {
public:
    // desktopFileId: the desktop file's name, "torvel-downloader.desktop".
    explicit LauncherEntry(const QString &desktopFileId, QDBusConnection bus = QDBusConnection::sessionBus());

    // A fraction from 0 to 1 shows it; none hides the bar. Only changes are sent, in steps of a
    // thousandth.
    void setProgress(std::optional<double> fraction);

private:
    QString m_applicationURI;
    QDBusConnection m_bus;
    std::optional<int> m_shownThousandths;
};
