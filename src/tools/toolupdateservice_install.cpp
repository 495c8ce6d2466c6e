#include "toolupdateservice.h"

#include "common/filedigest.h"
#include "platform/archiveextractor.h"
#include "platform/nativeexecutable.h"
#include "platform/toolassets.h"
#include "process/lineaccumulator.h"
#include "toolupdateerror.h"
#include "versioncomparison.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QRegularExpression>
#include <QSaveFile>
#include <QUuid>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <unistd.h>

namespace {

QString uuid() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

// A tool's first line of output, bounded: it ends up in a sentence shown to the user.
QString firstLine(const QString &text) {
    return LineAccumulator::splitLines(text).constFirst().left(200);
}

bool isRegularFile(const QString &path) {
    const QFileInfo info(path);
    return info.isFile() && !info.isSymLink();
}

void report(const ToolUpdateEventHandler &onEvent, const ToolUpdateEvent &event) {
    if (onEvent)
        onEvent(event);
}

void createFolder(const QString &path) {
    if (!QDir().mkpath(path))
        throw PlatformError(QStringLiteral("No se pudo crear la carpeta ") + path + QStringLiteral("."));
}

// Work items of one install: removed on every way out, whatever removal errors there are.
struct WorkItems {
    QStringList paths;
    ~WorkItems() {
        for (const QString &path : std::as_const(paths))
            ArchiveExtractor::removeTree(path);
    }
};

bool isHexDigest(const QString &text) {
    static const QRegularExpression digest(QStringLiteral("^[0-9a-fA-F]{64}$"));
    return digest.match(text).hasMatch();
}

} // namespace

QString ToolUpdateService::managedToolsFolder() const {
    return QFileInfo(m_locator.managedYTDLPPath()).path();
}

std::optional<QString> ToolUpdateService::sha256Entry(const QString &name, const QString &list) {
    static const QRegularExpression space(QStringLiteral("\\s+"));
    const QStringList lines = LineAccumulator::splitLines(list);
    for (const QString &line : lines) {
        const QStringList pieces = line.split(space, Qt::SkipEmptyParts);
        if (pieces.size() < 2)
            continue;
        QString listed = pieces.last();
        while (listed.startsWith(QLatin1Char('*')))
            listed.remove(0, 1);
        while (listed.endsWith(QLatin1Char('*')))
            listed.chop(1);
        if (listed == name)
            return pieces.first();
    }
    return std::nullopt;
}

QCoro::Task<> ToolUpdateService::verifySHA256(QString file, QUrl checksumURL, QString expectedFileName,
                                              ToolUpdateEventHandler onEvent) {
    report(onEvent, ToolUpdateEvent::output(QStringLiteral("Descargando checksum de ") + expectedFileName +
                                            QStringLiteral("…")));
    const QByteArray data = co_await downloadData(checksumURL);
    const QString text = QString::fromUtf8(data);
    static const QRegularExpression space(QStringLiteral("\\s+"));
    // A file for one asset may hold the bare digest, or name the asset differently.
    const QString expected =
        sha256Entry(expectedFileName, text).value_or(text.split(space, Qt::SkipEmptyParts).value(0));
    // An error page or anything else that is not a digest cannot be compared with one.
    if (!isHexDigest(expected))
        throw ToolUpdateError::commandFailed(QStringLiteral("No se pudo interpretar el checksum de ") +
                                             expectedFileName + QStringLiteral("."));

    QString actual;
    try {
        const std::shared_ptr<std::atomic_bool> cancelled = cancelFlag();
        actual = co_await FileDigest::sha256InBackground(file, cancelled);
    } catch (const PlatformError &) {
    }
    if (actual.isEmpty() || actual != expected.toLower())
        throw ToolUpdateError::commandFailed(QStringLiteral("La verificación SHA-256 de ") + expectedFileName +
                                             QStringLiteral(" no coincide."));
    report(onEvent,
           ToolUpdateEvent::output(QStringLiteral("SHA-256 verificado: ") + expectedFileName + QStringLiteral(".")));
}

QCoro::Task<std::optional<ProcessResult>> ToolUpdateService::testRun(QString executable, QStringList arguments) {
    Run run;
    run.executable = executable;
    run.arguments = arguments;
    run.limit = m_limits.testRun;
    RunOutcome outcome;
    try {
        outcome = co_await execute(run);
    } catch (const ProcessRunnerError &) {
        co_return std::nullopt; // not a program this machine can start
    }
    if (outcome.stop != RunOutcome::Stop::none || outcome.result.status != 0)
        co_return std::nullopt;
    co_return outcome.result;
}

QCoro::Task<QString> ToolUpdateService::validatedVersion(QString executable, QStringList arguments) {
    const std::optional<ProcessResult> result = co_await testRun(executable, arguments);
    if (!result)
        throw ToolUpdateError::commandFailed(QFileInfo(executable).fileName() +
                                             QStringLiteral(" no superó la comprobación de funcionamiento."));
    co_return QString::fromUtf8(result->standardOutput) + QString::fromUtf8(result->standardError);
}

QCoro::Task<> ToolUpdateService::extract(QString archive, QString folder, const ToolUpdateEventHandler &onEvent) {
    throwIfCancelled();
    report(onEvent, ToolUpdateEvent::output(QStringLiteral("Extrayendo ") + QFileInfo(archive).fileName() +
                                            QStringLiteral("…")));
    ArchiveExtractor::Limits limits;
    limits.maxTotalBytes = m_limits.maxUnpackedBytes;
    const std::shared_ptr<std::atomic_bool> cancelled = cancelFlag();
    co_await ArchiveExtractor::extractInBackground(archive, folder, cancelled, limits);
    throwIfCancelled();
}

void ToolUpdateService::makeExecutable(const QString &path) {
    const QFile::Permissions mode = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadUser |
                                    QFile::WriteUser | QFile::ExeUser | QFile::ReadGroup | QFile::ExeGroup |
                                    QFile::ReadOther | QFile::ExeOther;
    QFile file(path);
    if (!file.setPermissions(mode))
        throw PlatformError(file.errorString());
}

std::optional<QString> ToolUpdateService::renameFile(const QString &from, const QString &to) {
    if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
        return std::nullopt;
    return QString::fromLocal8Bit(std::strerror(errno));
}

namespace {

// Where a swap of several files records them before the first one changes.
QString journalPath(const QString &folder) {
    return folder + QStringLiteral("/swap-journal.json");
}

// A second name for a file, so that it survives being replaced: a hard link, or a copy where the
// file system has none. Returns the failure.
std::optional<QString> keepBeside(const QString &file, const QString &beside) {
    if (::link(QFile::encodeName(file).constData(), QFile::encodeName(beside).constData()) == 0)
        return std::nullopt;
    const QString error = QString::fromLocal8Bit(std::strerror(errno));
    QFile copy(file);
    return copy.copy(beside) ? std::nullopt : std::optional<QString>(error);
}

// Whether path names a file right inside folder.
bool isInside(const QString &path, const QString &folder) {
    return path.startsWith(folder + QLatin1Char('/')) && !path.contains(QLatin1String("/../")) &&
           !path.endsWith(QLatin1String("/.."));
}

} // namespace

bool ToolUpdateService::installAtomically(const QList<InstallPair> &pairs, const FileMove &move) {
    struct Backup {
        QString destination;
        QString backup; // empty when nothing was there, or a lone file is simply renamed over
        QString keepAs;
    };
    const auto failure = [](const QString &from, const QString &to, const QString &error) {
        return PlatformError(QStringLiteral("No se pudo mover ") + from + QStringLiteral(" a ") + to +
                             QStringLiteral(": ") + error);
    };
    // Every file is replaced by one rename over the previous one, so a managed tool is always in
    // place. A set of several files is recorded first with a second name for each replaced file:
    // a start after an interruption puts the whole previous set back (recoverInterruptedWork).
    const bool set = pairs.size() > 1;
    const QString journal = pairs.isEmpty() ? QString() : journalPath(QFileInfo(pairs.constFirst().destination).path());
    QList<Backup> backups;
    for (const InstallPair &pair : pairs) {
        const QFileInfo existing(pair.destination);
        const bool replaces = existing.exists() || existing.isSymLink();
        backups.append({pair.destination,
                        replaces && (set || !pair.keepReplacedAs.isEmpty())
                            ? pair.destination + QStringLiteral(".backup-") + uuid()
                            : QString(),
                        pair.keepReplacedAs});
    }
    const auto removeBackups = [&] {
        for (const Backup &backup : std::as_const(backups))
            if (!backup.backup.isEmpty())
                QFile::remove(backup.backup);
        if (set)
            QFile::remove(journal);
    };
    if (set) {
        QJsonArray files;
        for (qsizetype i = 0; i < pairs.size(); ++i)
            files.append(QJsonObject{{QStringLiteral("source"), pairs.at(i).source},
                                     {QStringLiteral("destination"), pairs.at(i).destination},
                                     {QStringLiteral("backup"), backups.at(i).backup}});
        QSaveFile record(journal);
        if (!record.open(QIODevice::WriteOnly) ||
            record.write(QJsonDocument(QJsonObject{{QStringLiteral("files"), files}}).toJson()) < 0 || !record.commit())
            throw PlatformError(QStringLiteral("No se pudo anotar el cambio en ") + journal + QStringLiteral(": ") +
                                record.errorString());
    }
    for (const Backup &backup : std::as_const(backups)) {
        if (backup.backup.isEmpty())
            continue;
        if (const std::optional<QString> error = keepBeside(backup.destination, backup.backup)) {
            removeBackups();
            throw PlatformError(QStringLiteral("No se pudo conservar ") + backup.destination + QStringLiteral(": ") +
                                *error);
        }
    }

    for (qsizetype i = 0; i < pairs.size(); ++i) {
        const InstallPair &pair = pairs.at(i);
        if (const std::optional<QString> error = move(pair.source, pair.destination)) {
            // The new files go back where they came from (a source may be a copy worth
            // keeping), and the previous ones to their places.
            for (qsizetype done = i - 1; done >= 0; --done) {
                const InstallPair &undo = pairs.at(done);
                const bool returned = !move(undo.destination, undo.source);
                if (!backups.at(done).backup.isEmpty())
                    move(backups.at(done).backup, undo.destination);
                else if (!returned)
                    QFile::remove(undo.destination);
            }
            removeBackups();
            throw failure(pair.source, pair.destination, *error);
        }
    }
    // The new set is complete: from here on an interruption leaves it in place.
    if (set)
        QFile::remove(journal);
    bool kept = true;
    for (const Backup &backup : std::as_const(backups)) {
        if (backup.backup.isEmpty())
            continue;
        if (!backup.keepAs.isEmpty() && !move(backup.backup, backup.keepAs))
            continue;
        kept = kept && backup.keepAs.isEmpty();
        QFile::remove(backup.backup);
    }
    return kept;
}

std::unique_ptr<QLockFile> ToolUpdateService::lockManagedFolder(const QString &folder) {
    auto lock = std::make_unique<QLockFile>(folder + QStringLiteral("/.lock"));
    lock->setStaleLockTime(0); // held as long as its process lives, however long an install takes
    if (!lock->tryLock(0))
        throw ToolUpdateError::commandFailed(QStringLiteral(
            "Otro proceso de Torvel Downloader está cambiando las herramientas; inténtalo de nuevo cuando termine."));
    return lock;
}

void ToolUpdateService::recoverInterruptedWork(const QString &folder) {
    QFile journal(journalPath(folder));
    if (journal.open(QIODevice::ReadOnly)) {
        const QJsonArray files =
            QJsonDocument::fromJson(journal.read(64 * 1024)).object().value(QLatin1String("files")).toArray();
        journal.close();
        for (const QJsonValue &value : files) {
            const QJsonObject entry = value.toObject();
            const QString source = entry.value(QLatin1String("source")).toString();
            const QString destination = entry.value(QLatin1String("destination")).toString();
            const QString backup = entry.value(QLatin1String("backup")).toString();
            if (!isInside(source, folder) || !isInside(destination, folder) ||
                (!backup.isEmpty() && !isInside(backup, folder)))
                continue;
            // A file that was moved in goes back to its source; the previous one, kept under its
            // second name, returns to its place.
            const QFileInfo moved(source);
            if (!moved.exists() && !moved.isSymLink() && QFileInfo::exists(destination))
                renameFile(destination, source);
            if (!backup.isEmpty() && QFileInfo::exists(backup))
                renameFile(backup, destination);
        }
        journal.remove();
    }
    // What an interrupted install or rollback left: downloads, work folders, second names.
    static const QRegularExpression leftover(QStringLiteral(
        "^(.+\\.backup-[0-9A-F-]{36}|yt-dlp\\.download-[0-9A-F-]{36}|(deno|ffmpeg)-install-[0-9A-F-]{36})$"));
    const QStringList names =
        QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System);
    for (const QString &name : names)
        if (leftover.match(name).hasMatch())
            ArchiveExtractor::removeTree(folder + QLatin1Char('/') + name);
    // Kept files without their record (an install ended before it wrote it), or a record whose
    // files are gone (a rollback ended before it forgot them): neither is ever put back.
    for (const ToolKind tool : {ToolKind::ytDLP, ToolKind::ffmpeg}) {
        const QStringList kept = PreviousToolCopy::fileNames(tool);
        if (!PreviousToolCopy::read(folder, tool) || std::any_of(kept.cbegin(), kept.cend(), [&](const QString &name) {
                return !QFileInfo::exists(PreviousToolCopy::keptPath(folder, name));
            }))
            PreviousToolCopy::forget(folder, tool);
    }
}

QCoro::Task<QString> ToolUpdateService::signedYTDLPChecksums(QString releasePath, ToolUpdateEventHandler onEvent) {
    const QUrl listURL = ToolHosts::address(m_hosts.gitHub, releasePath + QStringLiteral("SHA2-256SUMS"));
    const QUrl signatureURL = ToolHosts::address(m_hosts.gitHub, releasePath + QStringLiteral("SHA2-256SUMS.sig"));
    QByteArray list;
    try {
        list = co_await downloadData(listURL);
    } catch (const ToolUpdateError &) {
        throw ToolUpdateError::commandFailed(QStringLiteral("No se pudo obtener el checksum oficial de ") +
                                             ToolAssets::ytDLPAssetName() + QStringLiteral("."));
    }
    QByteArray signature;
    try {
        signature = co_await downloadData(signatureURL);
    } catch (const ToolUpdateError &) {
        // A list without its signature is refused like a list with a bad one.
    }
    bool good = false;
    try {
        good = co_await m_ytDLPSignature.verify(list, signature);
    } catch (const ProcessRunnerError &) {
        throw ToolUpdateError::commandFailed(QStringLiteral(
            "No se pudo comprobar la firma de la lista de sumas de yt-dlp: falta /usr/bin/gpgv (paquete gpgv)."));
    }
    throwIfCancelled();
    if (!good)
        throw ToolUpdateError::commandFailed(QStringLiteral("La firma de la lista de sumas de yt-dlp no es válida."));
    report(onEvent, ToolUpdateEvent::output(QStringLiteral("Firma de SHA2-256SUMS verificada")));
    co_return QString::fromUtf8(list);
}

QCoro::Task<ToolUpdateService::ManagedInstallResult>
ToolUpdateService::installManagedYTDLP(ToolUpdateEventHandler onEvent) {
    OperationScope scope(*this);
    const QString folder = managedToolsFolder();
    createFolder(folder);
    const std::unique_ptr<QLockFile> lock = lockManagedFolder(folder);
    const QString managed = m_locator.managedYTDLPPath();
    const QString asset = ToolAssets::ytDLPAssetName();
    const QString download = folder + QStringLiteral("/yt-dlp.download-") + uuid();
    const WorkItems workItems{{download}};

    report(onEvent, ToolUpdateEvent::stage(QStringLiteral("Descargando el ejecutable oficial de yt-dlp…")));
    const QString releasePath = QStringLiteral("/yt-dlp/yt-dlp/releases/latest/download/");
    const QUrl assetURL = ToolHosts::address(m_hosts.gitHub, releasePath + asset);
    co_await downloadAsset(assetURL, download, onEvent);

    report(onEvent, ToolUpdateEvent::stage(QStringLiteral("Verificando la descarga…")));
    const QString list = co_await signedYTDLPChecksums(releasePath, onEvent);
    const std::optional<QString> expected = sha256Entry(asset, list);
    if (!expected)
        throw ToolUpdateError::commandFailed(QStringLiteral("No se pudo obtener el checksum oficial de ") + asset +
                                             QStringLiteral("."));
    QString actual;
    try {
        const std::shared_ptr<std::atomic_bool> cancelled = cancelFlag();
        actual = co_await FileDigest::sha256InBackground(download, cancelled);
    } catch (const PlatformError &) {
    }
    if (actual.isEmpty() || actual != expected->toLower())
        throw ToolUpdateError::commandFailed(QStringLiteral("La verificación SHA-256 de ") + asset +
                                             QStringLiteral(" no coincide. No se instaló el archivo."));
    report(onEvent, ToolUpdateEvent::output(QStringLiteral("SHA-256 verificado correctamente.")));

    makeExecutable(download);
    const QStringList versionArguments{QStringLiteral("--version")};
    const std::optional<ProcessResult> run = co_await testRun(download, versionArguments);
    if (!run)
        throw ToolUpdateError::commandFailed(
            QStringLiteral("El ejecutable descargado no superó la comprobación de funcionamiento."));
    const QString version = firstLine(QString::fromUtf8(run->standardOutput).trimmed());
    report(onEvent,
           ToolUpdateEvent::output(QStringLiteral("Ejecutable validado: yt-dlp ") + version + QStringLiteral(".")));
    // Every release folder holds a signed list, so a mirror could offer an older genuine yt-dlp:
    // going back is what a rollback is for, never an install.
    if (isRegularFile(managed)) {
        const std::optional<ProcessResult> current = co_await testRun(managed, versionArguments);
        const QString installed = current ? firstLine(QString::fromUtf8(current->standardOutput).trimmed()) : QString();
        if (!installed.isEmpty() && VersionComparison::isNewer(installed, version))
            throw ToolUpdateError::commandFailed(QStringLiteral("La versión publicada de yt-dlp, ") + version +
                                                 QStringLiteral(", es anterior a la instalada, ") + installed +
                                                 QStringLiteral("; no se instaló."));
    }

    if (m_locator.locateJavaScriptRuntimeArguments().isEmpty()) {
        report(onEvent, ToolUpdateEvent::output(
                            QStringLiteral("No se detectó un runtime JavaScript compatible; se instalará Deno.")));
        co_await installManagedDeno(onEvent);
    }

    report(onEvent, ToolUpdateEvent::stage(QStringLiteral("Instalando yt-dlp…")));
    const std::optional<PreviousToolCopy> outgoing = co_await outgoingCopy(ToolKind::ytDLP, version);
    throwIfCancelled();
    replaceManagedCopy(ToolKind::ytDLP, {{download, managed}}, outgoing, onEvent);
    co_return ManagedInstallResult{managed, QStringLiteral("Se instaló yt-dlp ") + version +
                                                QStringLiteral(" con el ejecutable oficial verificado.")};
}

QCoro::Task<ToolUpdateService::ManagedInstallResult>
ToolUpdateService::installManagedDeno(ToolUpdateEventHandler onEvent) {
    OperationScope scope(*this);
    const QString folder = managedToolsFolder();
    const QString managed = m_locator.managedDenoPath();
    const QString work = folder + QStringLiteral("/deno-install-") + uuid();
    const QString archive = work + QStringLiteral("/deno.zip");
    const QString extraction = work + QStringLiteral("/extracted");
    const WorkItems workItems{{work}};
    createFolder(extraction);

    report(onEvent, ToolUpdateEvent::stage(QStringLiteral("Consultando la versión estable de Deno…")));
    const QUrl releaseURL =
        ToolHosts::address(m_hosts.gitHubAPI, QStringLiteral("/repos/denoland/deno/releases/latest"));
    const QByteArray release = co_await downloadData(releaseURL);
    const QJsonValue tagValue = QJsonDocument::fromJson(release).object().value(QLatin1String("tag_name"));
    // The tag becomes part of an address: only a plain release name is taken.
    const QString tag = tagValue.toString();
    if (!tagValue.isString() || !VersionComparison::isPlainVersion(tag))
        throw ToolUpdateError::invalidResponse(QStringLiteral("Deno"));

    const QString asset = ToolAssets::denoAssetName();
    const QUrl assetURL = ToolHosts::address(m_hosts.gitHub, QStringLiteral("/denoland/deno/releases/download/") + tag +
                                                                 QLatin1Char('/') + asset);
    report(onEvent, ToolUpdateEvent::stage(QStringLiteral("Descargando Deno ") + tag + QStringLiteral("…")));
    co_await downloadAsset(assetURL, archive, onEvent);
    const QUrl checksumURL(assetURL.toString(QUrl::FullyEncoded) + QStringLiteral(".sha256sum"), QUrl::StrictMode);
    co_await verifySHA256(archive, checksumURL, asset, onEvent);

    report(onEvent, ToolUpdateEvent::stage(QStringLiteral("Instalando Deno…")));
    co_await extract(archive, extraction, onEvent);
    const QString deno = extraction + QStringLiteral("/deno");
    if (!isRegularFile(deno))
        throw ToolUpdateError::commandFailed(
            QStringLiteral("El paquete oficial de Deno no contiene el ejecutable esperado."));
    makeExecutable(deno);
    const QStringList versionArguments{QStringLiteral("--version")};
    const QString output = co_await validatedVersion(deno, versionArguments);
    throwIfCancelled();
    installAtomically({{deno, managed}});
    report(onEvent, ToolUpdateEvent::output(QStringLiteral("Deno quedó instalado sin Homebrew, Rust ni LLVM.")));
    co_return ManagedInstallResult{managed,
                                   QStringLiteral("Se instaló Deno ") + firstLine(output) + QStringLiteral(".")};
}

QCoro::Task<ToolUpdateService::ManagedInstallResult>
ToolUpdateService::installManagedFFmpeg(ToolUpdateEventHandler onEvent) {
    OperationScope scope(*this);
    const QString folder = managedToolsFolder();
    const QString work = folder + QStringLiteral("/ffmpeg-install-") + uuid();
    createFolder(folder);
    const std::unique_ptr<QLockFile> lock = lockManagedFolder(folder);
    const WorkItems workItems{{work}};
    createFolder(work);
    const QString base =
        QStringLiteral("/redirect/latest/linux/") + ToolAssets::ffmpegProcessorElement() + QStringLiteral("/release");

    struct Program {
        QString name;  // "ffmpeg"
        QString stage; // announced before its download
    };
    const Program programs[] = {
        {QStringLiteral("ffmpeg"), QStringLiteral("Descargando FFmpeg precompilado para este equipo…")},
        {QStringLiteral("ffprobe"), QStringLiteral("Descargando FFprobe precompilado…")},
    };
    for (const Program &program : programs) {
        report(onEvent, ToolUpdateEvent::stage(program.stage));
        const QString archiveName = program.name + QStringLiteral(".zip");
        const QUrl address = ToolHosts::address(m_hosts.ffmpegBuilds, base + QLatin1Char('/') + archiveName);
        const QString archive = work + QLatin1Char('/') + archiveName;
        const QUrl resolved = co_await downloadAsset(address, archive, onEvent);
        // The checksum lies beside the versioned file the redirect led to.
        const QUrl checksumURL(resolved.toString(QUrl::FullyEncoded) + QStringLiteral(".sha256"), QUrl::StrictMode);
        co_await verifySHA256(archive, checksumURL, archiveName, onEvent);
    }

    report(onEvent, ToolUpdateEvent::stage(QStringLiteral("Verificando e instalando FFmpeg…")));
    for (const Program &program : programs) {
        const QString archive = work + QLatin1Char('/') + program.name + QStringLiteral(".zip");
        const QString extraction = work + QLatin1Char('/') + program.name;
        createFolder(extraction);
        co_await extract(archive, extraction, onEvent);
    }
    const QString ffmpeg = work + QStringLiteral("/ffmpeg/ffmpeg");
    const QString ffprobe = work + QStringLiteral("/ffprobe/ffprobe");
    if (!isRegularFile(ffmpeg) || !isRegularFile(ffprobe))
        throw ToolUpdateError::commandFailed(QStringLiteral("Los paquetes descargados no contienen FFmpeg y FFprobe."));
    for (const QString &program : {ffmpeg, ffprobe}) {
        makeExecutable(program);
        if (!NativeExecutable::isNativeExecutable(program))
            throw ToolUpdateError::commandFailed(QFileInfo(program).fileName() +
                                                 QStringLiteral(" no es un programa para este equipo."));
    }
    const QStringList versionArguments{QStringLiteral("-version")};
    const QString banner = co_await validatedVersion(ffmpeg, versionArguments);
    co_await validatedVersion(ffprobe, versionArguments);

    const std::optional<PreviousToolCopy> outgoing =
        co_await outgoingCopy(ToolKind::ffmpeg, PreviousToolCopy::versionFrom(ToolKind::ffmpeg, banner));
    throwIfCancelled();
    const QString managedFFmpeg = m_locator.managedFFmpegPath();
    replaceManagedCopy(ToolKind::ffmpeg, {{ffmpeg, managedFFmpeg}, {ffprobe, folder + QStringLiteral("/ffprobe")}},
                       outgoing, onEvent);
    const QString bannerLine = firstLine(banner);
    report(onEvent, ToolUpdateEvent::output((bannerLine.isEmpty() ? QStringLiteral("FFmpeg") : bannerLine) +
                                            QStringLiteral(" validado e instalado.")));
    co_return ManagedInstallResult{managedFFmpeg,
                                   QStringLiteral("Se instalaron FFmpeg y FFprobe precompilados y verificados.")};
}
