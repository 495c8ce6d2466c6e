#pragma once

#include "common/torvelerror.h"

#include <QString>

#include <QCoroTask>

#include <atomic>
#include <memory>

// A zip (or tar) archive that could not be unpacked, or held something it must not: an
// absolute path, a ".." step, a link leaving the folder, a device, or more data than allowed.
class ArchiveError : public TorvelError {
public:
    explicit ArchiveError(QString description) : m_description(std::move(description)) {}
    QString errorDescription() const override { return m_description; }

private:
    QString m_description;
};

// Unpacks archives in-process with libarchive, keeping permission bits. Nothing is ever written
// outside the destination folder.
namespace ArchiveExtractor {

struct Limits {
    qint64 maxTotalBytes = qint64(2) * 1024 * 1024 * 1024; // what the entries unpack to, counted as written
    qint64 maxEntries = 100000;
};

// Unpacks archivePath into destination (created when missing). Stops between entries and
// between blocks when *cancelled becomes true, throwing CancellationError. Throws ArchiveError
// with a Spanish description otherwise. What was unpacked before a failure stays; callers
// unpack into work folders of their own and remove them.
void extract(const QString &archivePath, const QString &destination, const std::atomic_bool *cancelled = nullptr,
             const Limits &limits = Limits());

// The same on a worker thread, so the interface never waits for it.
QCoro::Task<> extractInBackground(QString archivePath, QString destination,
                                  std::shared_ptr<std::atomic_bool> cancelled = {}, Limits limits = Limits());

} // namespace ArchiveExtractor
