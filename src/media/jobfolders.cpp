#include "jobfolders.h"

#include "common/torvelerror.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>
#include <QTemporaryFile>
#include <QUuid>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <system_error>

namespace {

constexpr qint64 abandonedAfterSeconds = 86400;
// A job folder holding a finished file that could not be placed; the clean-up leaves it alone.
const QString keptMarker = QStringLiteral("/.kept");
// A job folder that belongs to an item of the download queue, with its partial data; the clean-up
// leaves it alone too, and the queue removes it with the item.
const QString queuedMarker = QStringLiteral("/.queued");

QString newUuidText() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

// QDir::mkpath says only that it failed; the person needs to read why.
void createFolder(const QString &path) {
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(QFile::encodeName(path).toStdString()), error);
    if (error)
        throw PlatformError(qt_error_string(error.value()));
    if (!QFileInfo(path).isDir())
        throw PlatformError(qt_error_string(ENOTDIR));
}

// A dangling symbolic link still occupies the name.
bool occupied(const QString &path) {
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

bool onSameFileSystem(const QString &first, const QString &second) {
    const QStorageInfo a(first);
    const QStorageInfo b(second);
    return a.isValid() && b.isValid() && a.rootPath() == b.rootPath() && a.device() == b.device();
}

// How many free names a placement tries while other placements take them first.
constexpr int maximumPlacementAttempts = 20;

// Takes a free name in the folder at once, as an empty file that the result then replaces: two
// downloads ending together (the queue runs several) never choose the same name, and a name
// taken meanwhile by anything else is never overwritten.
QString claimDestination(const QString &fileName, const QString &folder) {
    for (int attempt = 1;; ++attempt) {
        const QString target = JobFolders::uniqueDestination(fileName, folder);
        QFile claim(target);
        if (claim.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            return target;
        if (attempt == maximumPlacementAttempts || !occupied(target))
            throw PlatformError(claim.errorString());
    }
}

void renameOver(const QString &source, const QString &target) {
    std::error_code error;
    std::filesystem::rename(std::filesystem::path(QFile::encodeName(source).toStdString()),
                            std::filesystem::path(QFile::encodeName(target).toStdString()), error);
    if (error)
        throw PlatformError(qt_error_string(error.value()));
}

// Moves the result over its claimed, empty target.
void moveFile(const QString &source, const QString &target) {
    if (onSameFileSystem(QFileInfo(source).absolutePath(), QFileInfo(target).absolutePath())) {
        renameOver(source, target);
        return;
    }
    // Across disks QFile::rename copies on its own, but it deletes the source before the last
    // buffered block reaches the destination, so a full disk would lose the file while still
    // reporting success. The copy is written under a hidden name beside the target and named
    // only once complete.
    const QString partial = QFileInfo(target).dir().filePath(QStringLiteral(".torvel-") + newUuidText());
    QFile file(source);
    if (!file.copy(partial)) {
        QFile::remove(partial);
        throw PlatformError(file.errorString());
    }
    try {
        renameOver(partial, target);
    } catch (const PlatformError &) {
        QFile::remove(partial);
        throw;
    }
    // The placed copy is whole; a source that cannot be deleted goes with its job folder later.
    QFile::remove(source);
}

} // namespace

JobFolders::JobFolders(QString jobsRoot, Clock clock) : m_jobsRoot(std::move(jobsRoot)), m_clock(std::move(clock)) {}

QString JobFolders::effectiveRoot() const {
    // Without a caches folder the temporary folder still keeps yt-dlp out of the user's folder.
    return m_jobsRoot.isEmpty() ? QDir::temp().filePath(QStringLiteral("TorvelDownloader/Jobs")) : m_jobsRoot;
}

QString JobFolders::createJobFolder() const {
    const QString folder = QDir(effectiveRoot()).filePath(newUuidText());
    createFolder(folder);
    return folder;
}

QString JobFolders::createQueuedJobFolder() const {
    const QString folder = createJobFolder();
    QFile marker(folder + queuedMarker);
    if (!marker.open(QIODevice::WriteOnly)) {
        removeQuietly(folder);
        throw PlatformError(marker.errorString());
    }
    return folder;
}

void JobFolders::cleanAbandonedJobs() const {
    try {
        const QDir root(effectiveRoot());
        if (!root.exists())
            return;
        const QDateTime cutoff = m_clock().addSecs(-abandonedAfterSeconds);
        const QFileInfoList entries =
            root.entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
        for (const QFileInfo &entry : entries) {
            const QDateTime modified = entry.lastModified();
            if (modified.isValid() && modified < cutoff && !QFileInfo::exists(entry.filePath() + keptMarker) &&
                !QFileInfo::exists(entry.filePath() + queuedMarker))
                removeQuietly(entry.filePath());
        }
    } catch (...) {
        // Start-up must go on whatever the clean-up meets; what stays is tried again next time.
    }
}

std::optional<QString> JobFolders::locateResult(const QString &jobFolder, const std::optional<QString> &finalPath) {
    if (jobFolder.isEmpty())
        return std::nullopt;
    // The reported path comes from yt-dlp's output, which a page can shape: only a file that
    // really lies inside the job folder is taken, never one a link or ".." leads elsewhere.
    const QString root = QFileInfo(jobFolder).canonicalFilePath();
    if (finalPath && !finalPath->isEmpty() && !root.isEmpty()) {
        const QFileInfo reported(*finalPath);
        const QString canonical = reported.canonicalFilePath();
        if (reported.isFile() && canonical.startsWith(root + QLatin1Char('/')))
            return canonical;
    }
    QFileInfoList files = QDir(jobFolder).entryInfoList(QDir::Files | QDir::NoSymLinks, QDir::Name);
    files.removeIf([](const QFileInfo &file) {
        return file.suffix() == QLatin1String("part") || file.suffix() == QLatin1String("ytdl");
    });
    // A cover written beside its video ("Clip.jpg" next to "Clip.mp4") is never the result.
    for (const QFileInfo &file : std::as_const(files)) {
        const bool coverOfAnother =
            file.suffix() == QLatin1String("jpg") &&
            std::any_of(files.cbegin(), files.cend(), [&file](const QFileInfo &other) {
                return other.suffix() != file.suffix() && other.completeBaseName() == file.completeBaseName();
            });
        if (!coverOfAnother)
            return file.filePath();
    }
    return std::nullopt;
}

void JobFolders::prepareDestination(const QString &folder) {
    try {
        createFolder(folder);
    } catch (const PlatformError &error) {
        throw PlatformError(
            QStringLiteral("No se puede crear la carpeta de destino %1: %2").arg(folder, error.errorDescription()));
    }
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".torvel-XXXXXX")));
    if (!probe.open())
        throw PlatformError(
            QStringLiteral("No se puede guardar en la carpeta de destino %1: %2").arg(folder, probe.errorString()));
}

QString JobFolders::uniqueDestination(const QString &fileName, const QString &folder) {
    const QDir destination(folder);
    const QString wanted = destination.filePath(fileName);
    if (!occupied(wanted))
        return wanted;

    // A leading dot marks a hidden name, not an extension.
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    const bool hasExtension = dot > 0 && dot < fileName.size() - 1;
    const QString base = hasExtension ? fileName.left(dot) : fileName;
    const QString extension = hasExtension ? fileName.mid(dot) : QString();
    for (int n = 2; n <= 999; ++n) {
        const QString candidate = destination.filePath(base + QLatin1Char(' ') + QString::number(n) + extension);
        if (!occupied(candidate))
            return candidate;
    }
    return destination.filePath(newUuidText() + QLatin1Char('-') + fileName);
}

QString JobFolders::placeResult(const QString &resultPath, const QString &jobFolder, const QString &destinationFolder) {
    QString target;
    try {
        createFolder(destinationFolder);
        target = claimDestination(QFileInfo(resultPath).fileName(), destinationFolder);
        try {
            moveFile(resultPath, target);
        } catch (const PlatformError &) {
            QFile::remove(target); // the claim, still empty
            throw;
        }
    } catch (const PlatformError &error) {
        // The file is all the user has of the download: the job folder keeps it, out of the
        // clean-up's reach, and the message says where.
        QFile marker(jobFolder + keptMarker);
        [[maybe_unused]] const bool marked = marker.open(QIODevice::WriteOnly);
        throw PlatformError(QStringLiteral("No se pudo guardar el archivo en la carpeta elegida (%1): %2\n"
                                           "El archivo descargado se conservó en %3")
                                .arg(destinationFolder, error.errorDescription(), resultPath));
    }
    removeQuietly(jobFolder);
    return target;
}

void JobFolders::removeQuietly(const QString &folder) {
    // An empty path would name the working directory.
    if (folder.isEmpty())
        return;
    const QFileInfo info(folder);
    if (info.isDir() && !info.isSymLink())
        QDir(folder).removeRecursively();
    else
        QFile::remove(folder);
}
