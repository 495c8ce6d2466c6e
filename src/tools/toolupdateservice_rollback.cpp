#include "toolupdateservice.h"

#include "common/background.h"
#include "common/filedigest.h"
#include "toolupdateerror.h"

#include <QFileInfo>
#include <QLockFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void report(const ToolUpdateEventHandler &onEvent, const ToolUpdateEvent &event) {
    if (onEvent)
        onEvent(event);
}

// The SHA-256 of a kept copy, read through a descriptor opened without following a link, so the
// file hashed is the very file that is then checked and moved into place. Empty for anything but
// a regular file (a link, a folder, a device), or a file that cannot be read.
QString regularFileDigest(const QString &path, const std::atomic_bool *cancelled) {
    const int descriptor = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0)
        return QString();
    QFile file;
    struct stat status {};
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode) ||
        !file.open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(descriptor);
        return QString();
    }
    try {
        return FileDigest::sha256(file, -1, cancelled);
    } catch (const PlatformError &) {
        return QString();
    }
}

QString displayName(ToolKind tool) {
    return tool == ToolKind::ytDLP ? QStringLiteral("yt-dlp") : QStringLiteral("FFmpeg");
}

} // namespace

std::optional<QString> ToolUpdateService::previousVersion(ToolKind tool) const {
    const std::optional<PreviousToolCopy> previous = PreviousToolCopy::read(managedToolsFolder(), tool);
    return previous ? std::optional<QString>(previous->version()) : std::nullopt;
}

QCoro::Task<std::optional<PreviousToolCopy>> ToolUpdateService::outgoingCopy(ToolKind tool, QString incomingVersion) {
    const QString folder = managedToolsFolder();
    const QStringList arguments = PreviousToolCopy::versionArguments(tool);
    const QStringList names = PreviousToolCopy::fileNames(tool);
    PreviousToolCopy copy{tool, {}};
    for (const QString &name : names) {
        const QString path = folder + QLatin1Char('/') + name;
        const QFileInfo info(path);
        if (!info.isFile() || info.isSymLink())
            co_return std::nullopt;
        const std::optional<ProcessResult> run = co_await testRun(path, arguments);
        if (!run)
            co_return std::nullopt; // a copy that no longer works is not worth going back to
        QString digest;
        try {
            const std::shared_ptr<std::atomic_bool> cancelled = cancelFlag();
            digest = co_await FileDigest::sha256InBackground(path, cancelled);
        } catch (const PlatformError &) {
            co_return std::nullopt;
        }
        copy.files.append({name, PreviousToolCopy::versionFrom(tool, QString::fromUtf8(run->standardOutput)), digest});
    }
    // Reinstalling the same version leaves the copy kept before it in place.
    if (copy.version() == incomingVersion)
        co_return std::nullopt;
    co_return copy;
}

void ToolUpdateService::replaceManagedCopy(ToolKind tool, QList<InstallPair> pairs,
                                           const std::optional<PreviousToolCopy> &outgoing,
                                           const ToolUpdateEventHandler &onEvent) {
    const QString folder = managedToolsFolder();
    if (outgoing) {
        for (InstallPair &pair : pairs)
            pair.keepReplacedAs = PreviousToolCopy::keptPath(folder, QFileInfo(pair.destination).fileName());
    }
    const bool kept = installAtomically(pairs);
    if (!outgoing)
        return;
    if (kept) {
        try {
            outgoing->write(folder);
            report(onEvent, ToolUpdateEvent::output(QStringLiteral("Se conservó la versión anterior, ") +
                                                    displayName(tool) + QLatin1Char(' ') + outgoing->version() +
                                                    QStringLiteral(", para poder volver a ella.")));
            return;
        } catch (const PlatformError &) {
        }
    }
    // Files without their record are never put back.
    PreviousToolCopy::forget(folder, tool);
}

QCoro::Task<QString> ToolUpdateService::rollBack(ToolKind tool, ToolUpdateEventHandler onEvent, FileMove move) {
    OperationScope scope(*this);
    const QString folder = managedToolsFolder();
    const QString name = displayName(tool);
    std::unique_ptr<QLockFile> lock;
    if (QFileInfo(folder).isDir())
        lock = lockManagedFolder(folder);
    report(onEvent,
           ToolUpdateEvent::stage(QStringLiteral("Comprobando la versión anterior de ") + name + QStringLiteral("…")));
    const std::optional<PreviousToolCopy> previous = PreviousToolCopy::read(folder, tool);
    if (!previous)
        throw ToolUpdateError::commandFailed(QStringLiteral("No hay una versión anterior de ") + name +
                                             QStringLiteral(" para restaurar."));

    const QStringList arguments = PreviousToolCopy::versionArguments(tool);
    QList<InstallPair> pairs;
    for (const PreviousToolCopy::File &file : previous->files) {
        const QString kept = PreviousToolCopy::keptPath(folder, file.name);
        const std::shared_ptr<std::atomic_bool> cancelled = cancelFlag();
        // Named: a temporary lambda inside a co_await expression is destroyed twice by GCC 12.
        const auto hash = [kept, cancelled] { return regularFileDigest(kept, cancelled.get()); };
        const QString digest = co_await Background::run(hash);
        // A link is refused even when its target matches: what it leads to may change later.
        const QFileInfo entry(kept);
        if (entry.isSymLink() || (entry.exists() && !entry.isFile()))
            throw ToolUpdateError::commandFailed(QStringLiteral("La copia anterior de ") + file.name +
                                                 QStringLiteral(" no es un archivo normal; no se restauró."));
        if (digest != file.sha256)
            throw ToolUpdateError::commandFailed(
                QStringLiteral("La copia anterior de ") + file.name +
                QStringLiteral(" falta o cambió desde que se guardó; no se restauró."));
        const std::optional<ProcessResult> run = co_await testRun(kept, arguments);
        if (!run || PreviousToolCopy::versionFrom(tool, QString::fromUtf8(run->standardOutput)) != file.version)
            throw ToolUpdateError::commandFailed(QStringLiteral("La copia anterior de ") + file.name +
                                                 QStringLiteral(" ya no responde con la versión ") + file.version +
                                                 QStringLiteral("; no se restauró."));
        pairs.append({kept, folder + QLatin1Char('/') + file.name});
    }
    const QString version = previous->version();
    report(onEvent, ToolUpdateEvent::output(QStringLiteral("Versión anterior verificada: ") + name + QLatin1Char(' ') +
                                            version + QLatin1Char('.')));

    report(onEvent, ToolUpdateEvent::stage(QStringLiteral("Restaurando ") + name + QLatin1Char(' ') + version +
                                           QStringLiteral("…")));
    throwIfCancelled();
    installAtomically(pairs, move);
    PreviousToolCopy::forget(folder, tool);
    const QString restored = tool == ToolKind::ytDLP ? QStringLiteral("yt-dlp") : QStringLiteral("FFmpeg y FFprobe");
    co_return QStringLiteral("Se restauró la versión anterior de ") + restored + QStringLiteral(", ") + version +
        QLatin1Char('.');
}
