#include "playlistdownloader.h"

#include "common/plural.h"
#include "common/torvelerror.h"
#include "media/jobfolders.h"
#include "media/ytdlpexplanations.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <filesystem>
#include <memory>
#include <system_error>

namespace {

// As long as yt-dlp lets a title be in a file name.
constexpr qsizetype longestFolderNameBytes = 180;

bool occupied(const QString &path) {
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

} // namespace

QString PlaylistDownloader::Failure::summaryLine() const {
    const YTDLPExplanations::Parts parts = YTDLPExplanations::split(message);
    return title + QStringLiteral(": ") + (parts.explanation.isEmpty() ? parts.detail : parts.explanation).simplified();
}

QString PlaylistDownloader::Outcome::summaryText() const {
    const qsizetype placed = placedFiles.size();
    return (placed == 1 ? QStringLiteral("Se descargó %1 de %2.") : QStringLiteral("Se descargaron %1 de %2."))
        .arg(placed)
        .arg(countedText(total, QStringLiteral("video"), QStringLiteral("videos")));
}

QString PlaylistDownloader::Position::headline() const {
    return QStringLiteral("Video %1 de %2").arg(number).arg(count);
}

QString PlaylistDownloader::folderName(const QString &listTitle) {
    QString name;
    name.reserve(listTitle.size());
    for (const QChar character : listTitle) {
        if (character == QLatin1Char('/'))
            name.append(QChar(0x29F8)); // "⧸", as yt-dlp writes a slash in a file name
        else if (character.category() != QChar::Other_Control)
            name.append(character);
    }
    // Leading dots and spaces would hide the folder or name the destination itself ("." or "..").
    qsizetype start = 0;
    while (start < name.size() && (name.at(start) == QLatin1Char('.') || name.at(start).isSpace()))
        ++start;
    // Cut in one pass at a whole character, once the UTF-8 bytes reach the limit.
    qsizetype end = start;
    qsizetype bytes = 0;
    while (end < name.size()) {
        const char16_t unit = name.at(end).unicode();
        const bool pair = QChar::isHighSurrogate(unit) && end + 1 < name.size() && name.at(end + 1).isLowSurrogate();
        const qsizetype width = pair ? 4 : unit < 0x80 ? 1 : unit < 0x800 ? 2 : 3;
        if (bytes + width > longestFolderNameBytes)
            break;
        bytes += width;
        end += pair ? 2 : 1;
    }
    name = name.mid(start, end - start).trimmed();
    return name.isEmpty() ? QStringLiteral("Lista") : name;
}

QString PlaylistDownloader::createListFolder(const QString &listTitle, const QString &destination) {
    JobFolders::prepareDestination(destination);
    const QDir parent(destination);
    const QString name = folderName(listTitle);
    QString folder = parent.filePath(name);
    for (int n = 2; occupied(folder) && n <= 999; ++n)
        folder = parent.filePath(name + QLatin1Char(' ') + QString::number(n));
    if (occupied(folder))
        folder =
            parent.filePath(QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() + QLatin1Char('-') + name);
    std::error_code error;
    std::filesystem::create_directory(std::filesystem::path(QFile::encodeName(folder).toStdString()), error);
    if (error)
        throw PlatformError(QStringLiteral("No se pudo crear la carpeta de la lista (%1): %2")
                                .arg(folder, qt_error_string(error.value())));
    return folder;
}
