#include "manualinstall.h"

#include <QFile>

namespace ManualInstall {

namespace {

// ID and ID_LIKE, lower-cased, as one list: "ubuntu debian".
QStringList distributionIDs(const QString &osRelease) {
    QStringList ids;
    for (const QString &line : osRelease.split(QLatin1Char('\n'))) {
        const QString trimmed = line.trimmed();
        for (const QLatin1String key : {QLatin1String("ID="), QLatin1String("ID_LIKE=")}) {
            if (!trimmed.startsWith(key))
                continue;
            QString value = trimmed.mid(key.size());
            value.remove(QLatin1Char('"'));
            value.remove(QLatin1Char('\''));
            ids.append(value.toLower().split(QLatin1Char(' '), Qt::SkipEmptyParts));
        }
    }
    return ids;
}

} // namespace

QStringList commands(const QString &osRelease, bool homebrewInstalled) {
    static const std::pair<QLatin1String, QLatin1String> families[] = {
        {QLatin1String("debian"), QLatin1String("sudo apt install yt-dlp ffmpeg")},
        {QLatin1String("ubuntu"), QLatin1String("sudo apt install yt-dlp ffmpeg")},
        {QLatin1String("fedora"), QLatin1String("sudo dnf install yt-dlp ffmpeg")},
        {QLatin1String("arch"), QLatin1String("sudo pacman -S yt-dlp ffmpeg")},
        {QLatin1String("suse"), QLatin1String("sudo zypper install yt-dlp ffmpeg")},
        {QLatin1String("opensuse"), QLatin1String("sudo zypper install yt-dlp ffmpeg")},
        {QLatin1String("alpine"), QLatin1String("sudo apk add yt-dlp ffmpeg")},
    };
    QStringList result;
    // The distribution itself first, then what it is like.
    for (const QString &id : distributionIDs(osRelease)) {
        for (const auto &[family, command] : families) {
            if (id == family && result.isEmpty())
                result.append(command);
        }
    }
    if (homebrewInstalled)
        result.append(QStringLiteral("brew install yt-dlp ffmpeg"));
    return result;
}

QStringList commands(bool homebrewInstalled) {
    QFile file(QStringLiteral("/etc/os-release"));
    if (!file.open(QIODevice::ReadOnly)) {
        file.setFileName(QStringLiteral("/usr/lib/os-release"));
        if (!file.open(QIODevice::ReadOnly))
            return commands(QString(), homebrewInstalled);
    }
    return commands(QString::fromUtf8(file.read(64 * 1024)), homebrewInstalled);
}

} // namespace ManualInstall
