#include "dependencylocator.h"

#include "toolversioncache.h"

#include "platform/platformpaths.h"
#include "process/processrunner.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QTimer>

bool isExecutableFile(const QString &path) {
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

LocatorEnvironment LocatorEnvironment::system() {
    LocatorEnvironment environment;
    environment.homeFolder = PlatformPaths::homeFolder();
    environment.pathVariable = qEnvironmentVariable("PATH");
    environment.managedToolsFolder = PlatformPaths::managedToolsFolder();
    if (const QString caches = PlatformPaths::cacheFolder(); !caches.isEmpty())
        environment.versionCacheFile = caches + QStringLiteral("/TorvelDownloader/tool-versions.json");
    environment.searchFolders = {
        QStringLiteral("/opt/homebrew/bin"),
        QStringLiteral("/usr/local/bin"),
        QStringLiteral("~/.local/bin"),
        QStringLiteral("~/Library/Python/3.13/bin"),
        QStringLiteral("~/Library/Python/3.12/bin"),
        QStringLiteral("/opt/local/bin"),
        QStringLiteral("/usr/bin"),
        QStringLiteral("/home/linuxbrew/.linuxbrew/bin"),
        QStringLiteral("~/.linuxbrew/bin"),
        QStringLiteral("/snap/bin"),
    };
    environment.homebrewExecutables = {
        QStringLiteral("/opt/homebrew/bin/brew"),
        QStringLiteral("/usr/local/bin/brew"),
        QStringLiteral("/home/linuxbrew/.linuxbrew/bin/brew"),
        QStringLiteral("~/.linuxbrew/bin/brew"),
    };
    environment.denoCandidates = {
        QStringLiteral("/opt/homebrew/bin/deno"),
        QStringLiteral("/usr/local/bin/deno"),
        QStringLiteral("~/.deno/bin/deno"),
        QStringLiteral("/home/linuxbrew/.linuxbrew/bin/deno"),
    };
    environment.nodeCandidates = {
        QStringLiteral("/opt/homebrew/bin/node"),
        QStringLiteral("/usr/local/bin/node"),
        QStringLiteral("/usr/bin/node"),
    };
    return environment;
}

DependencyLocator::DependencyLocator(LocatorEnvironment environment) : m_environment(std::move(environment)) {}

QString DependencyLocator::managedYTDLPPath() const {
    return m_environment.managedToolsFolder + QStringLiteral("/yt-dlp");
}

QString DependencyLocator::managedFFmpegPath() const {
    return m_environment.managedToolsFolder + QStringLiteral("/ffmpeg");
}

QString DependencyLocator::managedDenoPath() const {
    return m_environment.managedToolsFolder + QStringLiteral("/deno");
}

QString DependencyLocator::expandHome(const QString &path) const {
    if (path == QLatin1String("~"))
        return m_environment.homeFolder;
    if (path.startsWith(QLatin1String("~/")))
        return m_environment.homeFolder + path.mid(1);
    return path;
}

QStringList DependencyLocator::candidates(const QString &name, const QString &preferredPath,
                                          const QStringList &additionalPaths) const {
    QStringList list;
    if (!preferredPath.isEmpty())
        list.append(preferredPath);
    list.append(additionalPaths);
    // PATH entries are taken literally: no "~" expansion there.
    const QStringList pathFolders = m_environment.pathVariable.split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString &folder : pathFolders)
        list.append(folder + QLatin1Char('/') + name);
    for (const QString &folder : m_environment.searchFolders)
        list.append(expandHome(folder) + QLatin1Char('/') + name);
    return list;
}

QCoro::Task<std::optional<ToolInfo>> DependencyLocator::locateYT_DLP(const QString &preferredPath) const {
    return locate(*this, QStringLiteral("yt-dlp"), preferredPath, {managedYTDLPPath()}, {QStringLiteral("--version")},
                  [](const QString &output) { return output.trimmed(); });
}

QCoro::Task<std::optional<ToolInfo>> DependencyLocator::locateFFmpeg(const QString &preferredPath) const {
    return locate(*this, QStringLiteral("ffmpeg"), preferredPath, {managedFFmpegPath()}, {QStringLiteral("-version")},
                  &DependencyLocator::ffmpegVersion);
}

QCoro::Task<std::optional<ToolInfo>> DependencyLocator::locate(DependencyLocator locator, QString name,
                                                               QString preferredPath, QStringList additionalPaths,
                                                               QStringList versionArguments,
                                                               VersionParser parseVersion) {
    QSet<QString> seen;
    const QStringList list = locator.candidates(name, preferredPath, additionalPaths);
    for (const QString &path : list) {
        if (seen.contains(path))
            continue;
        seen.insert(path);
        if (!isExecutableFile(path))
            continue;

        // A file unchanged since its version was read answered then and is not started again.
        const ToolVersionCache cache(locator.m_environment.versionCacheFile);
        if (const std::optional<QString> known = cache.lookup(path))
            co_return ToolInfo{path, *known, locator.installSource(path)};

        // A candidate that does not answer in time is stopped and skipped.
        QTimer limit;
        limit.setSingleShot(true);
        const ProcessCallback startLimit = [&](const ProcessHandle &handle) {
            QObject::connect(&limit, &QTimer::timeout, [handle] { handle.kill(); });
            limit.start(locator.m_environment.versionQueryLimit);
        };
        ProcessResult result;
        try {
            result = co_await ProcessRunner::run(path, versionArguments, std::nullopt, startLimit);
        } catch (const ProcessRunnerError &) {
            continue;
        }
        if (result.status != 0 || !limit.isActive())
            continue;

        QString version = parseVersion(QString::fromUtf8(result.standardOutput));
        if (version.isEmpty())
            version = QStringLiteral("detectado");
        cache.store(path, version);
        co_return ToolInfo{path, version, locator.installSource(path)};
    }
    co_return std::nullopt;
}

QString DependencyLocator::ffmpegVersion(const QString &output) {
    const qsizetype lineEnd = output.indexOf(QLatin1Char('\n'));
    QString firstLine = lineEnd < 0 ? output : output.left(lineEnd);
    firstLine.remove(QStringLiteral("ffmpeg version "));
    const QStringList pieces = firstLine.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    return pieces.isEmpty() ? firstLine : pieces.first();
}

namespace {

// Follows symbolic links as far as the file system allows; a path that does not exist stays as
// it is written.
QString resolvedPath(const QString &path) {
    QString current = QDir::cleanPath(path);
    // A dangling link still says where its copy was installed, so follow the chain by hand
    // when the target does not exist.
    for (int hop = 0; hop < 40; ++hop) {
        const QFileInfo info(current);
        const QString canonical = info.canonicalFilePath();
        if (!canonical.isEmpty())
            return canonical;
        if (!info.isSymLink())
            break;
        current = QDir::cleanPath(info.symLinkTarget());
    }
    return current;
}

} // namespace

QString DependencyLocator::homebrewExecutable() const {
    for (const QString &brew : m_environment.homebrewExecutables) {
        const QString expanded = expandHome(brew);
        if (isExecutableFile(expanded))
            return expanded;
    }
    return {};
}

ToolInstallSource DependencyLocator::installSource(const QString &path) const {
    using Kind = ToolInstallSource::Kind;
    const QString resolved = resolvedPath(path);
    const QString managedFolder = resolvedPath(m_environment.managedToolsFolder);
    if (resolved.startsWith(managedFolder + QLatin1Char('/')) ||
        resolved.startsWith(m_environment.managedToolsFolder + QLatin1Char('/')))
        return ToolInstallSource::of(Kind::managed);
    if (resolved.contains(QLatin1String("/Cellar/")) || resolved.contains(QLatin1String("/Homebrew/"))) {
        for (const QString &brew : m_environment.homebrewExecutables) {
            const QString expanded = expandHome(brew);
            if (isExecutableFile(expanded))
                return ToolInstallSource::homebrew(expanded);
        }
        return ToolInstallSource::homebrew(QStringLiteral("brew"));
    }
    if (resolved.startsWith(QLatin1String("/opt/local/")))
        return ToolInstallSource::of(Kind::macPorts);
    if (resolved.contains(QLatin1String("site-packages")) || resolved.contains(QLatin1String("/Python/")) ||
        resolved.contains(QLatin1String("/.local/")))
        return ToolInstallSource::of(Kind::pip);
    if ((resolved.startsWith(QLatin1String("/usr/")) && !resolved.startsWith(QLatin1String("/usr/local/"))) ||
        resolved.startsWith(QLatin1String("/snap/")))
        return ToolInstallSource::of(Kind::systemPackage);
    return ToolInstallSource::of(Kind::standalone);
}

QStringList DependencyLocator::locateJavaScriptRuntimeArguments() const {
    QStringList denoCandidates{managedDenoPath()};
    denoCandidates.append(m_environment.denoCandidates);
    for (const QString &candidate : std::as_const(denoCandidates)) {
        const QString path = expandHome(candidate);
        if (isExecutableFile(path))
            return {QStringLiteral("--js-runtimes"), QStringLiteral("deno:") + path};
    }
    for (const QString &candidate : m_environment.nodeCandidates) {
        const QString path = expandHome(candidate);
        if (isExecutableFile(path))
            return {QStringLiteral("--no-js-runtimes"), QStringLiteral("--js-runtimes"),
                    QStringLiteral("node:") + path};
    }
    return {};
}
