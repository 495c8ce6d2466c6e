#include "ytdlpservice.h"

#include "common/background.h"
#include "media/downloadoutputprotocol.h"
#include "tools/versioncomparison.h"

#include <QFileInfo>

namespace {

// The first versions of yt-dlp that know these options.
const QString javaScriptRuntimesSince = QStringLiteral("2025.11.12");
const QString progressDeltaSince = QStringLiteral("2024.04.09");

QString versionKey(const QString &path) {
    const QFileInfo info(path);
    return path + QLatin1Char('|') + QString::number(info.lastModified().toMSecsSinceEpoch()) + QLatin1Char('|') +
           QString::number(info.size());
}

// What one download learns from yt-dlp's output besides progress.
struct DownloadOutputState {
    std::optional<QString> finalPath;
    QString latestError;
};

// Older yt-dlp builds (Debian 12 ships one) print post-processing progress without line ends,
// so several marker lines arrive glued together. Each marker starts a line of its own.
QStringList splitAtMarkers(const QString &line) {
    static const QString markers[] = {DownloadOutputProtocol::planMarker(), DownloadOutputProtocol::progressMarker(),
                                      DownloadOutputProtocol::postprocessMarker(),
                                      DownloadOutputProtocol::fileMarker()};
    // A file path runs to the end of the line, whatever it contains.
    const qsizetype fileStart = line.indexOf(DownloadOutputProtocol::fileMarker());
    const qsizetype end = fileStart < 0 ? line.size() : fileStart;
    QList<qsizetype> starts;
    for (const QString &marker : markers) {
        for (qsizetype at = line.indexOf(marker); at >= 0 && at < end; at = line.indexOf(marker, at + marker.size()))
            starts.append(at);
    }
    if (fileStart >= 0)
        starts.append(fileStart);
    if (starts.size() < 2)
        return {line};
    std::sort(starts.begin(), starts.end());
    QStringList pieces;
    // Text before the first marker stays with it, as it would on a line of its own.
    for (qsizetype i = 0; i < starts.size(); ++i) {
        const qsizetype from = i == 0 ? 0 : starts.at(i);
        const qsizetype to = i + 1 < starts.size() ? starts.at(i + 1) : line.size();
        pieces.append(line.mid(from, to - from));
    }
    return pieces;
}

} // namespace

YTDLPService::YTDLPService(DependencyLocator locator, JobFolders jobFolders)
    : m_locator(std::move(locator)), m_jobFolders(std::move(jobFolders)) {}

void YTDLPService::rememberVersion(const QString &ytDLPPath, const QString &version) {
    m_versions.insert(versionKey(ytDLPPath), version);
}

QCoro::Task<QString> YTDLPService::versionOf(QString ytDLPPath) {
    const QString key = versionKey(ytDLPPath);
    if (const auto known = m_versions.constFind(key); known != m_versions.cend())
        co_return *known;
    QString version;
    try {
        const QStringList arguments{QStringLiteral("--version")};
        const ProcessResult result = co_await ProcessRunner::run(ytDLPPath, arguments);
        if (result.status == 0)
            version = QString::fromUtf8(result.standardOutput).trimmed();
    } catch (const ProcessRunnerError &) {
        // The real run that follows reports why the tool cannot start.
    }
    m_versions.insert(key, version);
    co_return version;
}

QStringList YTDLPService::javaScriptRuntimeArguments(const QString &ytDLPVersion) const {
    if (!VersionComparison::isAtLeast(ytDLPVersion, javaScriptRuntimesSince))
        return {};
    return m_locator.locateJavaScriptRuntimeArguments();
}

QStringList YTDLPService::analysisArguments(const QUrl &url, const QString &ytDLPVersion) const {
    QStringList arguments = javaScriptRuntimeArguments(ytDLPVersion);
    arguments << QStringLiteral("--dump-single-json") << QStringLiteral("--skip-download")
              << QStringLiteral("--no-playlist") << QStringLiteral("--no-warnings") << QStringLiteral("--")
              << url.toString(QUrl::FullyEncoded);
    return arguments;
}

QStringList YTDLPService::downloadArguments(const QUrl &url, const DownloadChoice &choice, const QString &jobFolder,
                                            const std::optional<QString> &ffmpegPath,
                                            const QString &ytDLPVersion) const {
    using namespace DownloadOutputProtocol;
    QStringList arguments = javaScriptRuntimeArguments(ytDLPVersion);
    arguments << QStringLiteral("--newline") << QStringLiteral("--progress");
    if (VersionComparison::isAtLeast(ytDLPVersion, progressDeltaSince))
        arguments << QStringLiteral("--progress-delta") << QStringLiteral("0.2");
    arguments << QStringLiteral("--no-playlist") << QStringLiteral("--retries") << QStringLiteral("3")
              << QStringLiteral("--fragment-retries") << QStringLiteral("3") << QStringLiteral("--progress-template")
              << downloadProgressTemplate() << QStringLiteral("--progress-template") << postprocessProgressTemplate()
              << QStringLiteral("--print") << planPrintTemplate() << QStringLiteral("--print") << filePrintTemplate()
              << QStringLiteral("--paths") << jobFolder << QStringLiteral("--output")
              << QStringLiteral("%(title).180B [%(id)s].%(ext)s") << QStringLiteral("--format")
              << choice.formatSelector;
    if (ffmpegPath && !ffmpegPath->isEmpty())
        arguments << QStringLiteral("--ffmpeg-location") << *ffmpegPath;
    arguments << choice.extraArguments << QStringLiteral("--") << url.toString(QUrl::FullyEncoded);
    return arguments;
}

QCoro::Task<MediaInfo> YTDLPService::analyze(QUrl url, QString ytDLPPath) {
    const QString version = co_await versionOf(ytDLPPath);
    const QStringList arguments = analysisArguments(url, version);
    const ProcessResult result = co_await ProcessRunner::run(ytDLPPath, arguments);
    if (result.status != 0)
        throw ProcessRunnerError::failed(result.status, readableError(result.standardError));

    QString decodingFailure;
    try {
        co_return co_await MediaInfo::decodeInBackground(result.standardOutput);
    } catch (const MediaDecodingError &error) {
        decodingFailure = error.errorDescription();
    }
    throw ProcessRunnerError::failed(
        0, QStringLiteral("yt-dlp respondió, pero no fue posible interpretar los formatos. ") + decodingFailure);
}

QCoro::Task<QString> YTDLPService::download(QUrl url, DownloadChoice choice, QString ytDLPPath,
                                            std::optional<QString> ffmpegPath, QString destinationDirectory,
                                            ProgressCallback progress) {
    {
        QMutexLocker locker(&m_processLock);
        m_cancelRequested = false;
    }
    // Whatever way this download ends, it no longer has a process to cancel.
    struct ActiveProcessReset {
        YTDLPService *service;
        ~ActiveProcessReset() { service->clearActiveProcess(); }
    } reset{this};

    const QString jobFolder = m_jobFolders.createJobFolder();
    const QString version = co_await versionOf(ytDLPPath);

    const bool merges = choice.formatSelector.contains(QLatin1Char('+'));
    DownloadProgressTracker tracker(merges ? 2 : 1, merges || !choice.extraArguments.isEmpty(), std::move(progress));
    DownloadOutputState output;
    const QString fileMarker = DownloadOutputProtocol::fileMarker();

    auto routeLine = [&](const QString &line) {
        if (tracker.consume(line))
            return;
        if (const auto path = DownloadOutputProtocol::payload(line, fileMarker)) {
            output.finalPath = *path;
            tracker.finalizing();
        } else if (line.contains(QLatin1String("error"), Qt::CaseInsensitive)) {
            output.latestError = line;
        }
    };
    const QStringList arguments = downloadArguments(url, choice, jobFolder, ffmpegPath, version);
    const ProcessCallback onProcess = [this](const ProcessHandle &handle) { setActiveProcess(handle); };
    const LineCallback onLine = [&](const QString &line) {
        for (const QString &piece : splitAtMarkers(line))
            routeLine(piece);
    };
    const ProcessResult result = co_await ProcessRunner::run(ytDLPPath, arguments, std::nullopt, onProcess, onLine);

    if (result.status != 0) {
        JobFolders::removeQuietly(jobFolder);
        if (result.status == 15 || result.status == 9)
            throw CancellationError();
        const QString message = output.latestError.isEmpty() ? readableError(result.standardError) : output.latestError;
        throw ProcessRunnerError::failed(result.status, actionableDownloadError(message));
    }

    const std::optional<QString> produced = JobFolders::locateResult(jobFolder, output.finalPath);
    if (!produced) {
        JobFolders::removeQuietly(jobFolder);
        throw ProcessRunnerError::failed(
            0, QStringLiteral("La descarga terminó, pero no se encontró el archivo resultante."));
    }
    // Across disks the move is a copy of the whole file: it runs on a worker so that a large
    // result never stalls the window.
    const QString producedFile = *produced;
    auto placing = [producedFile, jobFolder, destinationDirectory] {
        return JobFolders::placeResult(producedFile, jobFolder, destinationDirectory);
    };
    const QString placed = co_await Background::run(placing);
    tracker.complete();
    co_return placed;
}

void YTDLPService::setActiveProcess(const ProcessHandle &handle) {
    bool cancelAtOnce = false;
    {
        QMutexLocker locker(&m_processLock);
        m_activeProcess = handle;
        cancelAtOnce = m_cancelRequested;
    }
    if (cancelAtOnce)
        handle.terminate();
}

void YTDLPService::clearActiveProcess() {
    QMutexLocker locker(&m_processLock);
    m_activeProcess.reset();
    m_cancelRequested = false;
}

void YTDLPService::cancel() {
    std::optional<ProcessHandle> process;
    {
        QMutexLocker locker(&m_processLock);
        process = m_activeProcess;
        if (!process)
            m_cancelRequested = true;
    }
    if (process)
        process->terminate();
}

QString YTDLPService::readableError(const QByteArray &standardError) {
    const QString text = QString::fromUtf8(standardError).trimmed();
    const QStringList lines = LineAccumulator::splitLines(text);
    return lines.mid(std::max<qsizetype>(0, lines.size() - 6)).join(QLatin1Char('\n'));
}

QString YTDLPService::actionableDownloadError(const QString &message) {
    if (!message.contains(QLatin1String("HTTP Error 403"), Qt::CaseInsensitive) &&
        !message.contains(QLatin1String("HTTP Error 404"), Qt::CaseInsensitive))
        return message;
    return message +
           QStringLiteral("\n\nEl servidor de origen rechazó la URL temporal del archivo. Comprueba si hay una "
                          "actualización de yt-dlp en Opciones › Herramientas y vuelve a analizar el enlace.");
}
