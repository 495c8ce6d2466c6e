#pragma once

#include <QDateTime>
#include <QString>

#include <functional>
#include <optional>

// Private job folders where yt-dlp writes, and the placement of a finished file into the
// user's folder under a name that never overwrites another file.
class JobFolders {
public:
    using Clock = std::function<QDateTime()>;

    // jobsRoot: the caches folder + "/TorvelDownloader/Jobs" in production; empty when the
    // platform reports no caches folder.
    explicit JobFolders(QString jobsRoot, Clock clock = &QDateTime::currentDateTimeUtc);

    const QString &jobsRoot() const { return m_jobsRoot; }

    // Creates jobsRoot + "/" + a new upper-case UUID, with any missing parents, and returns it.
    // Throws PlatformError when it cannot be created.
    QString createJobFolder() const;

    // The same, for an item of the download queue: it keeps its partial data there until it is
    // completed or removed, however long that takes.
    QString createQueuedJobFolder() const;

    // Removes job folders whose modification date is more than 24 hours old, except those that
    // keep a file that could not be placed and those of queued items. Never fails.
    void cleanAbandonedJobs() const;

    // The finished file: the reported final path when it names a file inside the job folder
    // (after resolving links), else the first file (by name) that is neither hidden, nor a
    // link, nor partial (".part", ".ytdl"). Nothing when none exists.
    static std::optional<QString> locateResult(const QString &jobFolder, const std::optional<QString> &finalPath);

    // Creates the destination folder and proves that a file can be written in it, so that a bad
    // destination fails before the download rather than after it. Throws PlatformError.
    static void prepareDestination(const QString &folder);

    // folder + name when free; else "base 2.ext" … "base 999.ext"; else a UUID-prefixed name.
    static QString uniqueDestination(const QString &fileName, const QString &folder);

    // Creates the destination folder, moves the result under a unique name and removes the job
    // folder. Throws PlatformError naming the kept file's path; the job folder then keeps the
    // file and is exempt from the clean-up.
    static QString placeResult(const QString &resultPath, const QString &jobFolder, const QString &destinationFolder);

    // Removes a folder and everything in it, ignoring failures.
    static void removeQuietly(const QString &folder);

private:
    // jobsRoot, or a folder in the temporary folder when the platform reports no caches folder.
    QString effectiveRoot() const;

    QString m_jobsRoot;
    Clock m_clock;
};
