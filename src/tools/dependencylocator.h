#pragma once

#include "toolinfo.h"

#include <QStringList>

#include <QCoroTask>

#include <chrono>
#include <functional>
#include <optional>

// Where the locator looks. Production code uses system(); tests point every entry at
// temporary folders.
struct LocatorEnvironment {
    QString homeFolder;
    QString pathVariable; // the process's PATH
    QString managedToolsFolder;
    QStringList searchFolders;       // "~" stands for homeFolder
    QStringList homebrewExecutables; // "~" stands for homeFolder
    QStringList denoCandidates;      // after the managed Deno; "~" stands for homeFolder
    QStringList nodeCandidates;
    std::chrono::milliseconds versionQueryLimit{10'000};
    QString versionCacheFile; // versions remembered between runs (ToolVersionCache); empty: none

    static LocatorEnvironment system();
};

// Finds working copies of yt-dlp and FFmpeg, reads their versions and tells how they were
// installed. Every call looks at the file system afresh; only a version already read from the
// same, unchanged file is taken from the version cache instead of starting the tool again.
class DependencyLocator {
public:
    explicit DependencyLocator(LocatorEnvironment environment = LocatorEnvironment::system());

    QCoro::Task<std::optional<ToolInfo>> locateYT_DLP(const QString &preferredPath) const;
    QCoro::Task<std::optional<ToolInfo>> locateFFmpeg(const QString &preferredPath) const;
    // Arguments that tell yt-dlp which JavaScript runtime to use; empty when none is found.
    QStringList locateJavaScriptRuntimeArguments() const;
    ToolInstallSource installSource(const QString &path) const;
    std::chrono::milliseconds versionQueryLimit() const { return m_environment.versionQueryLimit; }
    const QString &versionCacheFile() const { return m_environment.versionCacheFile; }

    QString managedYTDLPPath() const;
    QString managedFFmpegPath() const;
    QString managedDenoPath() const;
    // The first of the Homebrew executables that exists; empty when Homebrew is not installed.
    QString homebrewExecutable() const;

    // "ffmpeg version 7.1.1 Copyright…" gives "7.1.1".
    static QString ffmpegVersion(const QString &output);

private:
    using VersionParser = std::function<QString(const QString &)>;
    static QCoro::Task<std::optional<ToolInfo>> locate(DependencyLocator locator, QString name, QString preferredPath,
                                                       QStringList additionalPaths, QStringList versionArguments,
                                                       VersionParser parseVersion);
    QString expandHome(const QString &path) const;
    QStringList candidates(const QString &name, const QString &preferredPath, const QStringList &additionalPaths) const;

    LocatorEnvironment m_environment;
};

bool isExecutableFile(const QString &path);
