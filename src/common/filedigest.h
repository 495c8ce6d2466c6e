#pragma once

#include <QString>

#include <QCoroTask>

#include <atomic>
#include <memory>

// SHA-256 of a whole file, read in large blocks through OpenSSL, as lower-case hexadecimal.
namespace FileDigest {

// Throws PlatformError with the file system's description when the file cannot be read, and
// CancellationError when *cancelled becomes true (checked between blocks).
QString sha256(const QString &path, const std::atomic_bool *cancelled = nullptr);

// The same on a worker thread.
QCoro::Task<QString> sha256InBackground(QString path, std::shared_ptr<std::atomic_bool> cancelled = {});

} // namespace FileDigest
