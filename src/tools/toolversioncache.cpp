#include "toolversioncache.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace {

// What identifies one build of a tool at a path.
QJsonObject stamp(const QString &toolPath) {
    const QFileInfo info(toolPath);
    return {{QStringLiteral("modified"), QString::number(info.lastModified().toMSecsSinceEpoch())},
            {QStringLiteral("size"), QString::number(info.size())}};
}

QJsonObject readEntries(const QString &cacheFile) {
    QFile file(cacheFile);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.read(1024 * 1024)).object();
}

} // namespace

std::optional<QString> ToolVersionCache::lookup(const QString &toolPath) const {
    if (m_cacheFile.isEmpty() || !QFileInfo(toolPath).isFile())
        return std::nullopt;
    const QJsonObject entry = readEntries(m_cacheFile).value(toolPath).toObject();
    const QJsonObject current = stamp(toolPath);
    const QString version = entry.value(QStringLiteral("version")).toString();
    if (version.isEmpty() || entry.value(QStringLiteral("modified")) != current.value(QStringLiteral("modified")) ||
        entry.value(QStringLiteral("size")) != current.value(QStringLiteral("size")))
        return std::nullopt;
    return version;
}

void ToolVersionCache::store(const QString &toolPath, const QString &version) const {
    if (m_cacheFile.isEmpty() || version.isEmpty())
        return;
    QJsonObject entries = readEntries(m_cacheFile);
    QJsonObject entry = stamp(toolPath);
    entry.insert(QStringLiteral("version"), version);
    entries.insert(toolPath, entry);
    QDir().mkpath(QFileInfo(m_cacheFile).absolutePath());
    // Written whole under another name and then renamed, so a reader never sees half a file.
    QSaveFile file(m_cacheFile);
    if (file.open(QIODevice::WriteOnly) && file.write(QJsonDocument(entries).toJson(QJsonDocument::Compact)) >= 0)
        file.commit();
}
