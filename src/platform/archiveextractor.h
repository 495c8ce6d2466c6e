#pragma once

#include "common/torvelerror.h"

#include <QString>

#include <QCoroTask>

#include <atomic>
#include <memory>

// A zip (or tar) archive that could not be unpacked, or held something it must not: an
// absolute path, a ".." step, a link that does not stay inside, a device, a sparse file, too
// many entries or levels, or more data than allowed.
class ArchiveError : public TorvelError {
public:
    explicit ArchiveError(QString description) : m_description(std::move(description)) {}
    QString errorDescription() const override { return m_description; }

private:
    QString m_description;
};

// Unpacks archives in-process with libarchive. Nothing is ever written outside the destination
// folder, and what is written has modes of its own, not the archive's: folders 0755, files 0755
// when the archive marks them executable, otherwise 0644.
namespace ArchiveExtractor {

struct Limits {
    // What the entries unpack to: each file's declared size, or what it writes when that is more.
    qint64 maxTotalBytes = qint64(2) * 1024 * 1024 * 1024;
    qint64 maxEntries = 100000;
    int maxDepth = 64; // path steps of one entry below the destination
};

// Unpacks archivePath into destination (created when missing; it may be reached through
// symbolic links). Stops between entries and between blocks when *cancelled becomes true,
// throwing CancellationError. Throws ArchiveError with a Spanish description otherwise. What
// was unpacked before a failure stays; callers unpack into work folders of their own and remove
// them with removeTree.
void extract(const QString &archivePath, const QString &destination, const std::atomic_bool *cancelled = nullptr,
             const Limits &limits = Limits());

// The same on a worker thread, so the interface never waits for it.
QCoro::Task<> extractInBackground(QString archivePath, QString destination,
                                  std::shared_ptr<std::atomic_bool> cancelled = {}, Limits limits = Limits());

// Removes path and, when it is a folder (not a link to one), everything below it, making each
// folder writable first so that no mode stands in the way. Never follows a link. True when
// nothing is left at path.
bool removeTree(const QString &path);

} // namespace ArchiveExtractor
