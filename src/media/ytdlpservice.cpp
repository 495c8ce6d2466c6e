#include "ytdlpservice.h"

#include "common/background.h"
#include "media/commandtext.h"
#include "media/compatiblemp4.h"
#include "media/coverart.h"
#include "media/downloadoutputprotocol.h"
#include "media/ytdlpexplanations.h"
#include "process/processtree.h"
#include "tools/toolversioncache.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTimer>

#include <QCoroTimer>

#include <algorithm>
#include <filesystem>

namespace {

QString versionKey(const QString &path) {
    return path + QLatin1Char('|') + ToolVersionCache::fileStamp(path);
}

// A download from the analysis's document failed because the site no longer accepts its media
// addresses: they were signed for a limited time, or for a session that has ended.
bool mediaAddressesExpired(const QString &message) {
    static const QRegularExpression expired(QStringLiteral("HTTP Error 403|HTTP Error 410|\\bexpired\\b"),
                                            QRegularExpression::CaseInsensitiveOption);
    return expired.match(message).hasMatch();
}

// The item of a download without analysis, from the document yt-dlp printed before fetching
// anything: nothing when it is an entry of a list (yt-dlp numbers those) or not an item at all.
std::optional<MediaInfo> itemOfDocument(const QString &line) {
    const QJsonObject document = QJsonDocument::fromJson(line.toUtf8()).object();
    for (const QLatin1String key : {QLatin1String("playlist"), QLatin1String("playlist_index")})
        if (!document.value(key).isNull() && !document.value(key).isUndefined())
            return std::nullopt;
    try {
        return MediaInfo::decode(document);
    } catch (const MediaDecodingError &) {
        return std::nullopt;
    }
}

// The folders that creating `folder` would create, deepest first.
QStringList missingFolders(const QString &folder) {
    QStringList missing;
    QString path = QDir::cleanPath(QDir(folder).absolutePath());
    while (!QFileInfo::exists(path)) {
        missing.append(path);
        const QString parent = QFileInfo(path).path();
        if (parent == path)
            break;
        path = parent;
    }
    return missing;
}

// At most this much of each output stream is kept once its lines have been read: enough for
// the closing lines, flat however long a download prints progress.
constexpr qsizetype retainedDownloadOutput = 64 * 1024;
// yt-dlp prints its document of an item on one line: a few megabytes for a large site's item
// (every format, every caption), which must arrive whole to be read.
constexpr qsizetype longestDocumentLine = 32 * 1024 * 1024;
constexpr int messageLines = 6;
// FFprobe reads a file's header; one that takes longer is stuck.
constexpr std::chrono::seconds probeLimit(60);
// The part of the bar kept for FFmpeg's conversion to H.264 and AAC: re-encoding video takes about
// as long as fetching it; one that may happen gets a small part, which a download that needs no
// conversion skips at its end.
double conversionShare(ConversionOutlook outlook) {
    switch (outlook) {
    case ConversionOutlook::unlikely:
        return 0;
    case ConversionOutlook::possible:
        return 0.1;
    case ConversionOutlook::expected:
        return 0.5;
    }
    return 0;
}

// yt-dlp, FFprobe and FFmpeg, and whatever they start, in a process group of their own that dies
// with the application.
ProcessOptions childOptions() {
    ProcessOptions options;
    options.ownProcessGroup = true;
    options.dieWithApplication = true;
    return options;
}

// The file name yt-dlp is given, and the one for a file system that refuses it as too long.
const QString longFileName = QStringLiteral("%(title).180B [%(id)s].%(ext)s");
const QString shortFileName = QStringLiteral("%(title).60B [%(id)s].%(ext)s");
const QRegularExpression fileNameTooLong(QStringLiteral("File name too long|Errno 36"));

// What one download learns from yt-dlp's output besides progress.
struct DownloadOutputState {
    std::optional<QString> finalPath;
    QString latestError;
    QStringList recentLines;      // the last lines that are neither progress nor protocol
    QStringList warnings;         // the last distinct warnings
    bool severalVideos = false;   // the address was a list: a second final file was reported
    bool documentSeen = false;    // yt-dlp printed its document of the item (without analysis)
    bool documentRefused = false; // that document was no item to download alone
};

} // namespace

struct YTDLPService::RunState {
    QMutex lock; // guards every field below
    bool serviceExists = true;
    Operation operation = Operation::none;
    std::optional<ProcessHandle> activeProcess;
    bool cancelRequested = false;
    QList<qint32> stoppedProcesses; // what a cancel signalled, yt-dlp (its group's id) first
    // The private cookies copy's folder while the operation runs: removed by the service too, when
    // it goes before the operation has ended (the window closes during an analysis).
    QString cookiesFolder;

    // Claims the one yt-dlp slot or throws ProcessRunnerError::couldNotStart.
    void begin(Operation wanted) {
        const QMutexLocker locker(&lock);
        if (operation == Operation::download)
            throw ProcessRunnerError::couldNotStart(QStringLiteral(
                "ya hay una descarga en curso. Espera a que termine o cancélala antes de empezar otra."));
        if (operation == Operation::analysis)
            throw ProcessRunnerError::couldNotStart(
                QStringLiteral("yt-dlp todavía está analizando un enlace. Espera a que termine."));
        operation = wanted;
        cancelRequested = false;
        stoppedProcesses.clear();
    }

    void end() {
        const QMutexLocker locker(&lock);
        cookiesFolder.clear();
        operation = Operation::none;
        activeProcess.reset();
        cancelRequested = false;
        stoppedProcesses.clear();
    }

    bool cancelled() {
        const QMutexLocker locker(&lock);
        return cancelRequested;
    }

    // An analysis that was cancelled has nothing left to deliver: a new one need not wait
    // until its process has gone.
    bool isCancelledAnalysis() {
        const QMutexLocker locker(&lock);
        return operation == Operation::analysis && cancelRequested;
    }

    // After an await: a service that is gone has nothing left to do.
    void throwIfServiceGone() {
        const QMutexLocker locker(&lock);
        if (!serviceExists)
            throw CancellationError();
    }

    void setActiveProcess(const std::optional<ProcessHandle> &handle) {
        bool cancelAtOnce = false;
        {
            const QMutexLocker locker(&lock);
            activeProcess = handle;
            cancelAtOnce = handle && cancelRequested;
        }
        if (cancelAtOnce)
            terminate(*handle);
    }

    // yt-dlp's children (FFmpeg) are read from /proc before the first signal and stopped too.
    void terminate(const ProcessHandle &handle) {
        const QList<qint32> stopped = ProcessTree::terminate(qint32(handle.processID()));
        const QMutexLocker locker(&lock);
        stoppedProcesses += stopped;
    }

    // Stops the running process without a cancel: the operation ends as a failure of its own.
    void stopActiveProcess() {
        std::optional<ProcessHandle> handle;
        {
            const QMutexLocker locker(&lock);
            handle = activeProcess;
        }
        if (handle)
            terminate(*handle);
    }

    // The process to stop, if any, with the request recorded for one that has yet to start.
    std::optional<ProcessHandle> requestCancel() {
        const QMutexLocker locker(&lock);
        if (operation == Operation::none)
            return std::nullopt;
        cancelRequested = true;
        return activeProcess;
    }

    // After a cancel: until every process it signalled is gone, or three seconds at most. yt-dlp
    // leads its own process group, so its id also names the group, which holds whatever it
    // started after the tree was read.
    QCoro::Task<> awaitStoppedProcesses() {
        QList<qint32> stopped;
        {
            const QMutexLocker locker(&lock);
            stopped = stoppedProcesses;
        }
        const qint32 group = stopped.value(0);
        const auto running = [&] {
            return std::any_of(stopped.cbegin(), stopped.cend(), ProcessTree::isRunning) ||
                   ProcessTree::groupIsRunning(group);
        };
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        const std::chrono::milliseconds pause(50);
        while (running() && std::chrono::steady_clock::now() < deadline)
            co_await QCoro::sleepFor(pause);
    }
};

namespace {

// Whatever way an operation ends, it gives up its process and its claim on the service.
struct OperationEnd {
    std::function<void()> end;
    ~OperationEnd() { end(); }
};

// Where a failure of yt-dlp becomes the message the user reads: yt-dlp's text (warnings and
// error lines), naming the user's cookies file rather than its private copy, after what it means
// when a kind of the explanations fits it.
ProcessRunnerError ytDLPFailure(qint32 status, QString message, const CookieSource &cookies,
                                const PrivateCookieFile *cookiesFile, YTDLPExplanations::Context context,
                                const NetworkOptions::Proxy &proxy) {
    if (cookiesFile)
        message.replace(cookiesFile->path(), cookies.file);
    // The proxy's user and password never reach a message.
    if (proxy.kind == NetworkOptions::Proxy::Kind::address)
        message.replace(proxy.address, NetworkOptions::maskedAddress(proxy.address));
    return ProcessRunnerError::failed(status, YTDLPExplanations::explained(message, context, cookies.inUse()));
}

// yt-dlp ended by a signal the application did not send (status 15 or 9): a failure, not a cancel.
std::optional<ProcessRunnerError> killedFromOutside(qint32 status) {
    if (status != 15 && status != 9)
        return std::nullopt;
    return ProcessRunnerError::failed(status,
                                      QStringLiteral("yt-dlp terminó de forma inesperada (señal %1).").arg(status));
}

// The warnings yt-dlp printed (some say why it failed: no JavaScript runtime, a keyring it could
// not open), at most this many, kept to read the failure whole.
constexpr qsizetype keptWarnings = 8;
bool isWarning(const QString &line) {
    return line.startsWith(QLatin1String("WARNING:"));
}

// FFprobe beside the FFmpeg in use, as every FFmpeg installation places them.
QString ffprobeBeside(const QString &ffmpegPath) {
    return QFileInfo(ffmpegPath).absolutePath() + QStringLiteral("/ffprobe");
}

} // namespace

YTDLPService::YTDLPService(DependencyLocator locator, JobFolders jobFolders)
    : m_locator(std::move(locator)), m_jobFolders(std::move(jobFolders)), m_state(std::make_shared<RunState>()) {}

YTDLPService::~YTDLPService() {
    killProcessTree();
    QList<SharedRunState> states{m_state};
    for (const std::weak_ptr<RunState> &retired : std::as_const(m_retiredStates)) {
        if (const SharedRunState state = retired.lock())
            states.append(state);
    }
    for (const SharedRunState &state : std::as_const(states)) {
        const QMutexLocker locker(&state->lock);
        state->serviceExists = false;
        if (!state->cookiesFolder.isEmpty())
            JobFolders::removeQuietly(state->cookiesFolder);
    }
}

void YTDLPService::rememberVersion(const QString &ytDLPPath, const QString &version) {
    m_versions.insert(versionKey(ytDLPPath), version);
}

QCoro::Task<QString> YTDLPService::versionOf(QString ytDLPPath) {
    const QString key = versionKey(ytDLPPath);
    if (const auto known = m_versions.constFind(key); known != m_versions.cend())
        co_return *known;
    // What an earlier run asked of the same file.
    const ToolVersionCache cache(m_locator.versionCacheFile());
    if (const std::optional<QString> remembered = cache.lookup(ytDLPPath)) {
        m_versions.insert(key, *remembered);
        co_return *remembered;
    }
    const SharedRunState state = m_state;
    QString version;
    try {
        const QStringList arguments{QStringLiteral("--version")};
        const std::optional<std::chrono::milliseconds> limit = m_locator.versionQueryLimit();
        const LineCallback noLines;
        const ProcessOptions options = childOptions();
        const ProcessResult result = co_await runCancellable(state, ytDLPPath, arguments, noLines, options, limit);
        if (result.status == 0)
            version = QString::fromUtf8(result.standardOutput).trimmed();
    } catch (const ProcessRunnerError &) {
        // The real run that follows reports why the tool cannot start.
    }
    state->throwIfServiceGone();
    if (state->cancelled())
        throw CancellationError();
    // A failed query is asked again next time rather than remembered.
    if (!version.isEmpty()) {
        m_versions.insert(key, version);
        cache.store(ytDLPPath, version);
    }
    co_return version;
}

YTDLPInvocation YTDLPService::invocation(const QString &version, const CookieSource &cookies,
                                         const PrivateCookieFile *cookiesFile, int concurrentFragments) const {
    YTDLPInvocation invocation;
    invocation.version = version;
    invocation.concurrentFragments = concurrentFragments;
    invocation.proxy = m_network.proxy.ytDLPValue();
    invocation.javaScriptRuntimeArguments = m_locator.locateJavaScriptRuntimeArguments();
    if (cookies.kind == CookieSource::Kind::browser)
        invocation.cookiesFromBrowser = cookies.cookiesFromBrowser;
    if (cookiesFile)
        invocation.cookiesFile = cookiesFile->path();
    return invocation;
}

QCoro::Task<std::shared_ptr<PrivateCookieFile>> YTDLPService::privateCookieFile(SharedRunState state,
                                                                                CookieSource cookies) const {
    if (cookies.kind != CookieSource::Kind::file)
        co_return std::shared_ptr<PrivateCookieFile>();
    const JobFolders jobFolders = m_jobFolders;
    auto copying = [cookies, jobFolders] { return std::make_shared<PrivateCookieFile>(cookies.file, jobFolders); };
    std::shared_ptr<PrivateCookieFile> copy = co_await Background::run(copying);
    const QMutexLocker locker(&state->lock);
    if (!state->serviceExists)
        throw CancellationError(); // the copy goes with it
    state->cookiesFolder = copy->folder();
    co_return copy;
}

QCoro::Task<MediaAnalysis> YTDLPService::analyze(QUrl url, QString ytDLPPath, CookieSource cookies) {
    // A cancelled analysis winds down on its own state (its process gets SIGKILL after the
    // grace period); the new one takes a fresh state at once.
    if (m_state->isCancelledAnalysis()) {
        m_retiredStates.removeIf([](const std::weak_ptr<RunState> &retired) { return retired.expired(); });
        m_retiredStates.append(m_state);
        m_state = std::make_shared<RunState>();
    }
    const SharedRunState state = m_state;
    state->begin(Operation::analysis);
    const OperationEnd ending{[state] { state->end(); }};

    const QString version = co_await versionOf(ytDLPPath);
    const std::shared_ptr<PrivateCookieFile> cookiesFile = co_await privateCookieFile(state, cookies);
    const QStringList arguments = YTDLPArguments::analysis(url, invocation(version, cookies, cookiesFile.get()));
    // The whole document is needed: no tail limit here.
    const LineCallback noLines;
    const ProcessOptions options = childOptions();
    const std::optional<std::chrono::milliseconds> noLimit;
    const ProcessResult result = co_await runCancellable(state, ytDLPPath, arguments, noLines, options, noLimit);
    if (state->cancelled()) {
        co_await state->awaitStoppedProcesses();
        throw CancellationError();
    }
    if (const std::optional<ProcessRunnerError> killed = killedFromOutside(result.status))
        throw *killed;
    if (result.status != 0)
        throw ytDLPFailure(result.status, readableError(result.standardError), cookies, cookiesFile.get(),
                           YTDLPExplanations::Context::analysis, m_network.proxy);

    // The document is kept for the download, which then need not extract the page again.
    std::shared_ptr<const AnalysisDocument::Folder> documents;
    try {
        documents = std::make_shared<const AnalysisDocument::Folder>(m_jobFolders.createJobFolder());
    } catch (const PlatformError &) {
        // Without a folder the download extracts the address, as it would without an analysis.
    }
    std::optional<MediaAnalysis> analysis;
    QString decodingFailure;
    try {
        const QString documentsFolder = documents ? documents->path() : QString();
        analysis = co_await MediaAnalyses::decodeInBackground(result.standardOutput, documentsFolder);
    } catch (const MediaDecodingError &error) {
        decodingFailure = error.errorDescription();
    }
    if (!analysis)
        throw ProcessRunnerError::failed(
            0, QStringLiteral("yt-dlp respondió, pero no fue posible interpretar los formatos. ") + decodingFailure);
    if (const auto *list = std::get_if<PlaylistInfo>(&*analysis); list && list->downloadableCount() == 0)
        throw ProcessRunnerError::failed(0, QStringLiteral("Esta lista no contiene videos que se puedan descargar."));
    MediaAnalyses::holdDocuments(*analysis, documents);
    co_return *std::move(analysis);
}

QCoro::Task<QString> YTDLPService::download(QUrl url, DownloadChoice choice, QString ytDLPPath,
                                            std::optional<QString> ffmpegPath, QString destinationDirectory,
                                            ProgressCallback progress, DownloadOptions downloadOptions) {
    const SharedRunState state = m_state;
    state->begin(Operation::download);
    const OperationEnd ending{[state] { state->end(); }};

    // A destination that cannot take the file fails now, not after the whole download. A
    // download that turns out to need an analysis first leaves no folder behind that it created.
    const QStringList createdFolders =
        downloadOptions.withoutAnalysis ? missingFolders(destinationDirectory) : QStringList();
    JobFolders::prepareDestination(destinationDirectory);
    const QString version = co_await versionOf(ytDLPPath);
    const CookieSource cookies = downloadOptions.cookies;
    const std::shared_ptr<PrivateCookieFile> cookiesFile = co_await privateCookieFile(state, cookies);
    YTDLPInvocation runInvocation =
        invocation(version, cookies, cookiesFile.get(), std::clamp(downloadOptions.concurrentFragments, 1, 16));
    runInvocation.limitRate = m_network.limitRate;
    // An older yt-dlp would save the whole video instead of the stretch.
    if (downloadOptions.section && !YTDLPArguments::supportsSections(version))
        throw ProcessRunnerError::failed(0, QStringLiteral("Este yt-dlp (versión %1) no sabe recortar un video: "
                                                           "actualízalo en Opciones › Herramientas.")
                                                .arg(version));

    const bool merges = choice.formatSelector.contains(QLatin1Char('+'));
    const bool convertsToMP4 = choice.kind.value == DownloadChoice::Kind::Case::mp4;
    const ProgressCallback notice = progress;
    const bool postprocesses = merges || !choice.extraArguments.isEmpty() || downloadOptions.contents != FileContents();
    DownloadProgressTracker tracker(merges ? 2 : 1, postprocesses, std::move(progress),
                                    convertsToMP4 ? conversionShare(downloadOptions.conversion) : 0.0);
    // Says, between two runs of yt-dlp, why the address is extracted again.
    const auto announce = [&notice, &tracker](const QString &status) {
        if (notice)
            notice({tracker.lastFraction(), DownloadProgress::initial().phaseText, status, {}, {}});
    };
    const QString fileMarker = DownloadOutputProtocol::fileMarker();

    YTDLPArguments::DownloadSource source{url, downloadOptions.playlistItem, std::nullopt, downloadOptions.section,
                                          downloadOptions.withoutAnalysis};
    if (const std::shared_ptr<const AnalysisDocument> &document = downloadOptions.document;
        document && !source.printsDocument) {
        if (document->isUsable())
            source.document = document->path();
        else
            announce(QStringLiteral("El análisis ya no está vigente: se vuelve a leer la página…"));
    }
    QString jobFolder;
    // A folder of the service's own goes with a cancel or a failure; the caller's stays.
    const std::optional<QString> keptFolder = downloadOptions.jobFolder;
    const auto discardJobFolder = [&jobFolder, keptFolder] {
        if (!keptFolder)
            JobFolders::removeQuietly(jobFolder);
    };
    DownloadOutputState output;
    bool shortened = false;
    for (;;) {
        jobFolder = keptFolder ? *keptFolder : m_jobFolders.createJobFolder();
        output = DownloadOutputState();
        // Each line is one record: the runner divides records that yt-dlp glues together, and
        // hands over an unterminated post-processing report as soon as it arrives.
        const LineCallback onLine = [&](const QString &line) {
            // A refused download shows nothing of what it still prints while it stops.
            if (output.documentRefused)
                return;
            // The document comes before anything is fetched, so "MP4 compatible" can still share
            // out the bar as an analysis would have.
            if (source.printsDocument && !output.documentSeen && line.startsWith(QLatin1Char('{'))) {
                output.documentSeen = true;
                const std::optional<MediaInfo> item = itemOfDocument(line);
                if (!item) {
                    output.documentRefused = true;
                    state->stopActiveProcess();
                } else {
                    if (downloadOptions.onDocument)
                        downloadOptions.onDocument(*item);
                    if (convertsToMP4) {
                        ChoiceSelection analyzed;
                        analyzed.mediaInfo = item;
                        tracker.setConversionShare(conversionShare(analyzed.compatibleMP4Outlook()));
                    }
                }
                return;
            }
            if (downloadOptions.onLog &&
                DownloadOutputProtocol::leadingMarker(line) != DownloadOutputProtocol::Marker::progress)
                downloadOptions.onLog(line);
            if (tracker.consume(line))
                return;
            if (const auto path = DownloadOutputProtocol::payload(line, fileMarker)) {
                // One video was asked for; a second file means a list (a channel's tab, a page
                // of several videos), which is stopped rather than kept as its last file.
                if (output.finalPath && *output.finalPath != *path && !output.severalVideos) {
                    output.severalVideos = true;
                    state->stopActiveProcess();
                }
                output.finalPath = *path;
                tracker.finalizing();
                return;
            }
            if (isWarning(line)) {
                output.warnings.removeAll(line);
                output.warnings.append(line);
                if (output.warnings.size() > keptWarnings)
                    output.warnings.removeFirst();
            } else if (line.contains(QLatin1String("error"), Qt::CaseInsensitive)) {
                output.latestError = line;
            }
            if (!line.trimmed().isEmpty()) {
                output.recentLines.append(line);
                if (output.recentLines.size() > messageLines)
                    output.recentLines.removeFirst();
            }
        };
        QStringList arguments =
            YTDLPArguments::download(source, choice, jobFolder, ffmpegPath, runInvocation, downloadOptions.contents);
        const qsizetype name = arguments.indexOf(longFileName);
        if (shortened && name >= 0)
            arguments[name] = shortFileName;
        if (downloadOptions.onLog)
            downloadOptions.onLog(QStringLiteral("$ ") + CommandText::forDisplay(ytDLPPath, arguments));
        ProcessOptions options = childOptions();
        options.retainedOutputTail = retainedDownloadOutput;
        options.recordEnd = &DownloadOutputProtocol::recordEnd;
        if (source.printsDocument)
            options.longestLine = longestDocumentLine;
        const std::optional<std::chrono::milliseconds> noLimit;
        ProcessResult result;
        try {
            result = co_await runCancellable(state, ytDLPPath, arguments, onLine, options, noLimit);
        } catch (const CancellationError &) {
            discardJobFolder();
            throw;
        }
        if (result.status == 0 && !output.severalVideos && !output.documentRefused)
            break;

        // Only the application's own cancel is a cancel; a signal from elsewhere is a failure.
        const bool cancelled = state->cancelled();
        // What the cancel stopped (FFmpeg among it) must be gone before its folder goes.
        if (cancelled || output.severalVideos || output.documentRefused)
            co_await state->awaitStoppedProcesses();
        discardJobFolder();
        if (cancelled)
            throw CancellationError();
        if (output.documentRefused) {
            for (const QString &folder : createdFolders)
                QDir().rmdir(folder);
            co_return QString();
        }
        if (output.severalVideos)
            throw ProcessRunnerError::failed(result.status,
                                             QStringLiteral("Esta dirección es a su vez una lista de varios videos: "
                                                            "analízala por separado para elegir cuáles descargar."));
        if (const std::optional<ProcessRunnerError> killed = killedFromOutside(result.status))
            throw *killed;
        QStringList lines = output.warnings;
        if (output.latestError.isEmpty())
            lines += output.recentLines;
        else
            lines.append(output.latestError);
        lines.removeDuplicates();
        const QString message = lines.join(QLatin1Char('\n'));
        // A title too long for the destination's file system: once more, on its own, with a
        // shorter one.
        if (!shortened && name >= 0 &&
            QString(output.latestError + output.recentLines.join(QLatin1Char('\n'))).contains(fileNameTooLong)) {
            shortened = true;
            continue;
        }
        // The document's media addresses have expired: the address is extracted once more, and
        // whatever that run meets is the answer.
        if (source.document && mediaAddressesExpired(message)) {
            source.document.reset();
            announce(QStringLiteral("El sitio rechazó las direcciones del análisis: se vuelve a leer la página…"));
            continue;
        }
        // Without analysis, a failure before the document is the extraction's, as an analysis's.
        const YTDLPExplanations::Context context = source.printsDocument && !output.documentSeen
                                                       ? YTDLPExplanations::Context::analysis
                                                       : YTDLPExplanations::Context::download;
        throw ytDLPFailure(result.status, message, cookies, cookiesFile.get(), context, m_network.proxy);
    }

    const std::optional<QString> produced = JobFolders::locateResult(jobFolder, output.finalPath);
    if (!produced) {
        discardJobFolder();
        throw ProcessRunnerError::failed(
            0, QStringLiteral("La descarga terminó, pero no se encontró el archivo resultante."));
    }
    QString producedFile = *produced;
    if (convertsToMP4) {
        QString unconverted;
        try {
            producedFile = co_await compatibleMP4(state, producedFile, ffmpegPath, tracker, unconverted);
        } catch (...) {
            discardJobFolder();
            throw;
        }
        if (!unconverted.isEmpty() && downloadOptions.onNotice)
            downloadOptions.onNotice(unconverted);
    }
    if (downloadOptions.contents.coverIfHeld && ffmpegPath && !ffmpegPath->isEmpty()) {
        QString coverless;
        try {
            co_await embedCover(state, producedFile, *produced, *ffmpegPath, coverless);
        } catch (...) {
            discardJobFolder();
            throw;
        }
        if (!coverless.isEmpty() && downloadOptions.onNotice)
            downloadOptions.onNotice(coverless);
    }
    // Across disks the move is a copy of the whole file: it runs on a worker so that a large
    // result never stalls the window.
    auto placing = [producedFile, jobFolder, destinationDirectory] {
        return JobFolders::placeResult(producedFile, jobFolder, destinationDirectory);
    };
    const QString placed = co_await Background::run(placing);
    tracker.complete();
    co_return placed;
}

QCoro::Task<QString> YTDLPService::compatibleMP4(SharedRunState state, QString produced,
                                                 std::optional<QString> ffmpegPath, DownloadProgressTracker &tracker,
                                                 QString &unconverted) {
    const QString kept = QStringLiteral(" Se guardó el archivo tal como se descargó.");
    if (!ffmpegPath || ffmpegPath->isEmpty()) {
        // Nothing can look inside the file; one named MP4 is taken for one.
        if (QFileInfo(produced).suffix().compare(QLatin1String("mp4"), Qt::CaseInsensitive) != 0)
            unconverted = QStringLiteral("No se pudo convertir a MP4 compatible: hace falta FFmpeg (instálalo desde "
                                         "Opciones › Herramientas).") +
                          kept;
        co_return produced;
    }
    const QString ffmpeg = *ffmpegPath;
    const QString ffprobe = ffprobeBeside(ffmpeg);
    const QStringList probeArguments = CompatibleMP4::probeArguments(produced);
    const LineCallback noLines;
    const ProcessOptions probeOptions = childOptions();
    const std::optional<std::chrono::milliseconds> probeTime = probeLimit;
    std::optional<CompatibleMP4::Probe> probe;
    QString probeFailure;
    try {
        const ProcessResult probed =
            co_await runCancellable(state, ffprobe, probeArguments, noLines, probeOptions, probeTime);
        if (probed.status == 0)
            probe = CompatibleMP4::decodeProbe(probed.standardOutput);
        else
            probeFailure = readableError(probed.standardError);
    } catch (const CancellationError &) {
        throw;
    } catch (const TorvelError &error) {
        probeFailure = error.errorDescription();
    }
    if (state->cancelled()) {
        co_await state->awaitStoppedProcesses();
        throw CancellationError();
    }
    // A result that cannot be checked is kept as it is, never lost.
    if (!probe) {
        unconverted =
            QStringLiteral("No se pudo comprobar si el video es compatible (FFprobe: %1).").arg(probeFailure) + kept;
        co_return produced;
    }
    if (!CompatibleMP4::needsConversion(*probe, produced))
        co_return produced;

    // Beside the download, inside the job folder, so that every way out removes it too.
    const QFileInfo input(produced);
    const QString folder = input.absolutePath() + QStringLiteral("/converted");
    if (!QDir().mkpath(folder))
        throw PlatformError(QStringLiteral("No se pudo crear la carpeta de conversión ") + folder);
    const QString output = folder + QLatin1Char('/') + input.completeBaseName() + QStringLiteral(".mp4");

    const QStringList arguments = CompatibleMP4::conversionArguments(produced, output, *probe);
    tracker.converting(0, QStringLiteral("Preparando la conversión a H.264 y AAC"), {});
    std::optional<double> speed;
    const LineCallback onLine = [&](const QString &line) {
        const std::optional<CompatibleMP4::Report> report = CompatibleMP4::parseProgressLine(line);
        if (!report)
            return;
        if (report->speed)
            speed = report->speed;
        if (!report->position)
            return;
        const double position = *report->position;
        QString status = torvelDuration(position);
        QString eta;
        double fraction = 0;
        if (const std::optional<double> duration = probe->duration; duration && *duration > 0) {
            fraction = position / *duration;
            status += QStringLiteral(" de ") + torvelDuration(*duration);
            if (speed && *speed > 0)
                eta = QStringLiteral("Quedan ") + torvelDuration(std::max(0.0, *duration - position) / *speed);
        }
        tracker.converting(fraction, status + QStringLiteral(" convertidos"), eta);
    };
    ProcessOptions options = childOptions();
    options.retainedOutputTail = retainedDownloadOutput;
    const std::optional<std::chrono::milliseconds> noLimit;
    const ProcessResult converted = co_await runCancellable(state, ffmpeg, arguments, onLine, options, noLimit);
    if (state->cancelled()) {
        co_await state->awaitStoppedProcesses();
        throw CancellationError();
    }
    if (converted.status != 0) {
        unconverted = QStringLiteral("FFmpeg no pudo convertir el video a H.264 y AAC (%1).")
                          .arg(readableError(converted.standardError).simplified()) +
                      kept;
        co_return produced;
    }
    co_return output;
}

QCoro::Task<void> YTDLPService::embedCover(SharedRunState state, QString produced, QString thumbnailOf, QString ffmpeg,
                                           QString &coverless) {
    const QString cover = CoverArt::thumbnailBeside(thumbnailOf);
    const QFileInfo input(produced);
    if (!CoverArt::holdsCover(input.suffix()) || cover == input.absoluteFilePath() || !QFileInfo(cover).isFile())
        co_return;
    const QString kept = QStringLiteral(" Se guardó el archivo sin portada.");
    // The cover becomes the video stream after the file's own ones.
    const LineCallback noLines;
    ProcessOptions options = childOptions();
    std::optional<CompatibleMP4::Probe> probe;
    QString failure;
    try {
        const ProcessResult probed =
            co_await runCancellable(state, ffprobeBeside(ffmpeg), CompatibleMP4::probeArguments(produced), noLines,
                                    options, std::optional<std::chrono::milliseconds>(probeLimit));
        if (probed.status == 0)
            probe = CompatibleMP4::decodeProbe(probed.standardOutput);
        else
            failure = QStringLiteral("FFprobe: ") + readableError(probed.standardError).simplified();
    } catch (const CancellationError &) {
        throw;
    } catch (const TorvelError &error) {
        failure = QStringLiteral("FFprobe: ") + error.errorDescription();
    }
    if (state->cancelled()) {
        co_await state->awaitStoppedProcesses();
        throw CancellationError();
    }
    if (!probe) {
        coverless = QStringLiteral("No se pudo poner la portada en el archivo (%1).").arg(failure) + kept;
        co_return;
    }

    // Beside the download, inside the job folder, so that every way out removes it too.
    const QString output = input.absolutePath() + QStringLiteral("/.cover.") + input.suffix();
    const std::optional<QStringList> arguments =
        CoverArt::embeddingArguments(produced, cover, output, int(probe->videoCodecs.size()) + probe->coverPictures);
    if (!arguments)
        co_return;
    options.retainedOutputTail = retainedDownloadOutput;
    const std::optional<std::chrono::milliseconds> noLimit;
    try {
        const ProcessResult embedded = co_await runCancellable(state, ffmpeg, *arguments, noLines, options, noLimit);
        if (embedded.status != 0)
            failure = QStringLiteral("FFmpeg: ") + readableError(embedded.standardError).simplified();
    } catch (const CancellationError &) {
        throw;
    } catch (const TorvelError &error) {
        failure = QStringLiteral("FFmpeg: ") + error.errorDescription();
    }
    if (state->cancelled()) {
        co_await state->awaitStoppedProcesses();
        throw CancellationError();
    }
    // In one step: the file is whole, with or without its cover, at every moment.
    std::error_code renamed;
    if (failure.isEmpty()) {
        std::filesystem::rename(QFile::encodeName(output).toStdString(), QFile::encodeName(produced).toStdString(),
                                renamed);
        if (renamed)
            failure = QString::fromStdString(renamed.message());
    }
    if (!failure.isEmpty()) {
        QFile::remove(output);
        coverless = QStringLiteral("No se pudo poner la portada en el archivo (%1).").arg(failure) + kept;
    }
}

QCoro::Task<ProcessResult> YTDLPService::runCancellable(SharedRunState state, QString program, QStringList arguments,
                                                        LineCallback onLine, ProcessOptions options,
                                                        std::optional<std::chrono::milliseconds> limit) {
    if (state->cancelled())
        throw CancellationError();
    // A process that does not answer in time is stopped with everything it started.
    QTimer deadline;
    deadline.setSingleShot(true);
    const ProcessCallback onProcess = [state, &deadline, limit](const ProcessHandle &handle) {
        state->setActiveProcess(handle);
        if (!limit)
            return;
        const auto pid = qint32(handle.processID());
        QObject::connect(&deadline, &QTimer::timeout, [pid] { ProcessTree::kill(pid); });
        deadline.start(*limit);
    };
    const std::optional<ProcessHandle> none;
    ProcessResult result;
    try {
        const std::optional<ProcessEnvironment> inherited;
        result = co_await ProcessRunner::run(program, arguments, inherited, onProcess, onLine, options);
    } catch (...) {
        state->setActiveProcess(none);
        throw;
    }
    state->setActiveProcess(none);
    co_return result;
}

void YTDLPService::cancel() {
    if (const std::optional<ProcessHandle> process = m_state->requestCancel())
        m_state->terminate(*process);
}

void YTDLPService::killProcessTree() {
    if (const std::optional<ProcessHandle> process = m_state->requestCancel())
        ProcessTree::kill(qint32(process->processID()));
    for (const std::weak_ptr<RunState> &retired : std::as_const(m_retiredStates)) {
        if (const SharedRunState state = retired.lock())
            if (const std::optional<ProcessHandle> process = state->requestCancel())
                ProcessTree::kill(qint32(process->processID()));
    }
}

QString YTDLPService::readableError(const QByteArray &standardError) {
    const QString text = QString::fromUtf8(standardError).trimmed();
    const QStringList lines = LineAccumulator::splitLines(text);
    const qsizetype tail = std::max<qsizetype>(0, lines.size() - messageLines);
    // The warnings above the last lines come first: they may say why yt-dlp failed.
    QStringList warnings;
    for (const QString &line : lines.first(tail)) {
        if (isWarning(line) && !warnings.contains(line))
            warnings.append(line);
    }
    return (warnings.mid(std::max<qsizetype>(0, warnings.size() - keptWarnings)) + lines.mid(tail))
        .join(QLatin1Char('\n'));
}
