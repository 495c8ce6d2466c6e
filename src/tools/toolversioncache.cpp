#include "toolversioncache.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <sys/stat.h>

namespace {

const QLatin1String stampKey("stamp");
const QLatin1String versionKey("version");

QJsonObject readEntries(const QString &cacheFile) {
    QFile file(cacheFile);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.read(1024 * 1024)).object();
}

} // namespace

QString ToolVersionCache::fileStamp(const QString &toolPath) {
    struct stat status {};
    if (::stat(QFile::encodeName(toolPath).constData(), &status) != 0)
        return {};
    const qint64 modified = qint64(status.st_mtim.tv_sec) * 1'000'000'000 + status.st_mtim.tv_nsec;
    return QStringLiteral("%1|%2|%3").arg(modified).arg(qint64(status.st_size)).arg(quint64(status.st_ino));
}

std::optional<QString> ToolVersionCache::lookup(const QString &toolPath) const {
    if (m_cacheFile.isEmpty() || !QFileInfo(toolPath).isFile())
        return std::nullopt;
    const QJsonObject entry = readEntries(m_cacheFile).value(toolPath).toObject();
    const QString version = entry.value(versionKey).toString();
    const QString stamp = fileStamp(toolPath);
    if (version.isEmpty() || stamp.isEmpty() || entry.value(stampKey).toString() != stamp)
        return std::nullopt;
    return version;
}

void ToolVersionCache::store(const QString &toolPath, const QString &version) const {
    if (m_cacheFile.isEmpty() || version.isEmpty())
        return;
    const QString stamp = fileStamp(toolPath);
    if (stamp.isEmpty())
        return;
    QJsonObject entries = readEntries(m_cacheFile);
    entries.insert(toolPath, QJsonObject{{stampKey, stamp}, {versionKey, version}});
    QDir().mkpath(QFileInfo(m_cacheFile).absolutePath());
    // Written whole under another name and then renamed, so a reader never sees half a file.
    QSaveFile file(m_cacheFile);
    if (file.open(QIODevice::WriteOnly) && file.write(QJsonDocument(entries).toJson(QJsonDocument::Compact)) >= 0)
        file.commit();
}
