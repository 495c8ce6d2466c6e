#pragma once

#include <QString>

class QIODevice;

#include <QCoroTask>

#include <atomic>
#include <memory>

// SHA-256 of a whole file, read in large blocks through OpenSSL, as lower-case hexadecimal.
namespace FileDigest {

// Throws PlatformError with the file system's description when the file cannot be read, and
// CancellationError when *cancelled becomes true (checked between blocks).
QString sha256(const QString &path, const std::atomic_bool *cancelled = nullptr);
// The same for what is left to read from an open device; PlatformError as well when it holds
// more than maxBytes (negative: no limit).
QString sha256(QIODevice &device, qint64 maxBytes = -1, const std::atomic_bool *cancelled = nullptr);

// The same on a worker thread.
QCoro::Task<QString> sha256InBackground(QString path, std::shared_ptr<std::atomic_bool> cancelled = {});

} // namespace FileDigest
