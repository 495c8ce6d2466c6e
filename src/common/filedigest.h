#pragma once

#include <QString>

#include <QCoroTask>

// SHA-256 of a whole file, read in large blocks through OpenSSL, as lower-case hexadecimal.
namespace FileDigest {

// Throws PlatformError with the file system's description when the file cannot be read.
QString sha256(const QString &path);

// The same on a worker thread.
QCoro::Task<QString> sha256InBackground(QString path);

} // namespace FileDigest
