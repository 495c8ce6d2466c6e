#pragma once

#include <QString>

#include <optional>

// Versions read from tools, remembered between runs in a small JSON file in the caches folder.
// An entry holds only while the file at its path keeps the modification time and size it had
// when the version was read, so a replaced or updated tool is asked again. Starting yt-dlp
// only to read its version costs about as long as a short download's own start.
class ToolVersionCache {
public:
    // An empty file path remembers nothing.
    explicit ToolVersionCache(QString cacheFile) : m_cacheFile(std::move(cacheFile)) {}

    std::optional<QString> lookup(const QString &toolPath) const;
    // Failures to write are ignored: the version is then simply asked again next time.
    void store(const QString &toolPath, const QString &version) const;

private:
    QString m_cacheFile;
};
