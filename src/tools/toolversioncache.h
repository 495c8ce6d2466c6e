#pragma once

#include <QString>

#include <optional>

// Versions read from tools, remembered between runs in a small JSON file in the caches folder.
// An entry holds only while the file at its path keeps the modification time, size and inode it
// had when the version was read, so a replaced or updated tool is asked again (one put in place
// by a rename is a new inode even when its time and size happen to agree). Starting a current
// yt-dlp only to read its version takes about a second.
class ToolVersionCache {
public:
    // An empty file path remembers nothing.
    explicit ToolVersionCache(QString cacheFile) : m_cacheFile(std::move(cacheFile)) {}

    std::optional<QString> lookup(const QString &toolPath) const;
    // Failures to write are ignored: the version is then simply asked again next time.
    void store(const QString &toolPath, const QString &version) const;

    // "modification time|size|inode" of the file at toolPath (followed through links); empty
    // when it cannot be read.
    static QString fileStamp(const QString &toolPath);

private:
    QString m_cacheFile;
};
