#include "jobfolders.h"

#include "common/torvelerror.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>
#include <QUuid>

#include <cerrno>
#include <filesystem>
#include <system_error>

namespace {

constexpr qint64 abandonedAfterSeconds = 86400;

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

void moveFile(const QString &source, const QString &target) {
    QFile file(source);
    if (onSameFileSystem(QFileInfo(source).absolutePath(), QFileInfo(target).absolutePath())) {
        if (!file.rename(target))
            throw PlatformError(file.errorString());
        return;
    }
    // Across disks QFile::rename copies on its own, but it deletes the source before the last
    // buffered block reaches the destination, so a full disk would lose the file while still
    // reporting success. QFile::copy writes a temporary file and only names it once complete.
    if (!file.copy(target))
        throw PlatformError(file.errorString());
    // The placed copy is whole; a source that cannot be deleted goes with its job folder later.
    QFile::remove(source);
}

} // namespace

JobFolders::JobFolders(QString jobsRoot, Clock clock) : m_jobsRoot(std::move(jobsRoot)), m_clock(std::move(clock)) {}

QString JobFolders::createJobFolder() const {
    // Without a caches folder the temporary folder still keeps yt-dlp out of the user's folder.
    const QString root =
        m_jobsRoot.isEmpty() ? QDir::temp().filePath(QStringLiteral("TorvelDownloader/Jobs")) : m_jobsRoot;
    const QString folder = QDir(root).filePath(newUuidText());
    createFolder(folder);
    return folder;
}

void JobFolders::cleanAbandonedJobs() const {
    if (m_jobsRoot.isEmpty())
        return;
    try {
        const QDir root(m_jobsRoot);
        if (!root.exists())
            return;
        const QDateTime cutoff = m_clock().addSecs(-abandonedAfterSeconds);
        const QFileInfoList entries =
            root.entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
        for (const QFileInfo &entry : entries) {
            const QDateTime modified = entry.lastModified();
            if (modified.isValid() && modified < cutoff)
                removeQuietly(entry.filePath());
        }
    } catch (...) {
        // Start-up must go on whatever the clean-up meets; what stays is tried again next time.
    }
}

std::optional<QString> JobFolders::locateResult(const QString &jobFolder, const std::optional<QString> &finalPath) {
    if (finalPath && !finalPath->isEmpty() && QFileInfo(*finalPath).isFile())
        return *finalPath;
    if (jobFolder.isEmpty())
        return std::nullopt;
    const QFileInfoList files = QDir(jobFolder).entryInfoList(QDir::Files, QDir::Name);
    for (const QFileInfo &file : files) {
        const QString extension = file.suffix();
        if (extension != QLatin1String("part") && extension != QLatin1String("ytdl"))
            return file.filePath();
    }
    return std::nullopt;
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
    createFolder(destinationFolder);
    const QString target = uniqueDestination(QFileInfo(resultPath).fileName(), destinationFolder);
    moveFile(resultPath, target);
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
