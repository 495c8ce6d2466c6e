#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Builds zip and tar.gz archives for tests, including entries no honest archive holds.
namespace ArchiveFixtures {

struct Entry {
    enum class Type { file, folder, symlink, hardlink };
    QString path;
    QByteArray contents; // a file's bytes, or a link's target
    Type type = Type::file;
    int permissions = 0644;
    qint64 declaredSize = -1; // the size written into the header; -1: the real size
    bool sparse = false;      // a tar file of declaredSize whose contents end it, after a hole
};

inline Entry file(const QString &path, const QByteArray &contents, int permissions = 0644) {
    return {path, contents, Entry::Type::file, permissions};
}
inline Entry symlink(const QString &path, const QByteArray &target) {
    return {path, target, Entry::Type::symlink, 0777};
}

// Writes the entries into a zip (".zip") or gzip-compressed tar (any other name) at path.
void write(const QString &path, const QList<Entry> &entries);

} // namespace ArchiveFixtures
