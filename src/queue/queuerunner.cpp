#include "queuerunner.h"

#include "common/background.h"
#include "common/plural.h"
#include "media/cookiesource.h"
#include "media/downloadchoice.h"
#include "media/mediasection.h"
#include "media/ytdlpexplanations.h"
#include "media/ytdlpservice.h"
#include "process/processrunnererror.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <QCoroSignal>

#include <algorithm>

namespace {

// What made a running item stop before its end.
enum class Stop { none, interrupted, paused, cancelled, removed };

// The progress line the command line shows, kept with the item.
QString progressText(const DownloadProgress &progress) {
    QStringList parts{progress.phaseText, QStringLiteral("%1 %").arg(int(progress.fraction * 100))};
    for (const QString &text : {progress.statusText, progress.speedText, progress.etaText})
        if (!text.isEmpty())
            parts.append(text);
    return parts.join(QStringLiteral(" · "));
}

// The stored way, chosen among those the analysis offers. Throws ProcessRunnerError when it is
// not offered.
DownloadChoice chosenWay(ChoiceSelection &selection, const QueueItem &item) {
    selection.audioExportFormat = item.audioFormat;
    QList<DownloadChoice> offered = selection.standardChoices();
    offered.append(selection.exactChoices());
    const auto chosen = std::find_if(offered.cbegin(), offered.cend(),
                                     [&](const DownloadChoice &choice) { return choice.id == item.choiceID; });
    if (chosen == offered.cend()) {
        QStringList valid;
        for (const DownloadChoice &choice : std::as_const(offered))
            valid.append(choice.id);
        throw ProcessRunnerError::failed(
            0, QStringLiteral("Esta forma de descarga no existe para este enlace: %1. Usa una de estas: %2.")
                   .arg(item.choiceID, valid.join(QStringLiteral(", "))));
    }
    selection.selectChoice(*chosen);
    if (!item.pairedAudioID.isEmpty()) {
        const QList<MediaFormat> audioOnly = selection.audioOnlyFormats();
        const bool listed = std::any_of(audioOnly.cbegin(), audioOnly.cend(), [&](const MediaFormat &format) {
            return format.formatID == item.pairedAudioID;
        });
        if (!listed)
            throw ProcessRunnerError::failed(
                0, QStringLiteral("La pista de audio %1 no existe para este enlace.").arg(item.pairedAudioID));
        if (!selection.selectedVideoOnlyFormat())
            throw ProcessRunnerError::failed(
                0, QStringLiteral("Solo un formato de video sin audio puede combinarse con una pista de audio."));
        selection.selectedAudioFormatID = item.pairedAudioID;
    }
    return selection.selectedChoice();
}

// The item's way when it is a standard one, which an analysis need not offer first.
std::optional<DownloadChoice> standardWay(const QueueItem &item) {
    ChoiceSelection selection;
    selection.audioExportFormat = item.audioFormat;
    const QList<DownloadChoice> standard = selection.standardChoices();
    const auto found = std::find_if(standard.cbegin(), standard.cend(),
                                    [&](const DownloadChoice &choice) { return choice.id == item.choiceID; });
    return found == standard.cend() ? std::nullopt : std::optional<DownloadChoice>(*found);
}

} // namespace

struct QueueRunner::Running {
    std::unique_ptr<YTDLPService> service;
    Stop stop = Stop::none;
};

QueueRunner::QueueRunner(QueueStore &store, Tools tools, JobFolders jobFolders, Timing timing, QObject *parent)
    : QObject(parent), m_store(store), m_tools(std::move(tools)), m_jobFolders(std::move(jobFolders)),
      m_timing(std::move(timing)), m_pid(QCoreApplication::applicationPid()) {
    m_ticker.setInterval(m_timing.tick);
    connect(&m_ticker, &QTimer::timeout, this, &QueueRunner::tick);
}

QueueRunner::~QueueRunner() {
    *m_alive = false;
    for (auto it = m_running.cbegin(); it != m_running.cend(); ++it) {
        it.value()->service->killProcessTree();
        try {
            m_store.release(it.key(), m_pid, m_interruptedState);
        } catch (const TorvelError &) {
            // The lease runs out instead, and the next runner takes the item back.
        }
    }
}

bool QueueRunner::isNetworkFailure(const QString &message) {
    static const QRegularExpression serverTrouble(
        QStringLiteral("HTTP Error (5[0-9][0-9]|429)|Too Many Requests|timed out|Connection reset"),
        QRegularExpression::CaseInsensitiveOption);
    if (serverTrouble.match(message).hasMatch())
        return true;
    const auto explanation = YTDLPExplanations::explain(message, YTDLPExplanations::Context::download, false);
    return explanation && explanation->kind == QLatin1String("network");
}

void QueueRunner::setMaximumJobs(int jobs) {
    m_maximumJobs = std::clamp(jobs, minimumJobs, maximumAllowedJobs);
    if (m_active)
        fillPlaces();
}

void QueueRunner::start() {
    m_active = true;
    m_ticker.start();
    fillPlaces();
    checkIdle();
}

void QueueRunner::stop(QueueState state) {
    m_active = false;
    m_ticker.stop();
    m_interruptedState = state;
    for (const std::shared_ptr<Running> &running : std::as_const(m_running)) {
        if (running->stop == Stop::none)
            running->stop = Stop::interrupted;
        running->service->cancel();
    }
    checkIdle();
}

bool QueueRunner::isIdle() const {
    if (!m_running.isEmpty())
        return false;
    try {
        return !m_active || !m_store.nextWaitingTime();
    } catch (const TorvelError &) {
        return false;
    }
}

void QueueRunner::checkIdle() {
    if (isIdle())
        Q_EMIT idle();
}

QCoro::Task<> QueueRunner::untilIdle() {
    while (!isIdle())
        co_await qCoro(this, &QueueRunner::idle);
}

void QueueRunner::tick() {
    QList<qint64> mine;
    try {
        mine = m_store.renewLeases(m_pid, m_timing.lease);
    } catch (const TorvelError &) {
        return; // the store is busy beyond its wait: the next tick tries again
    }
    for (auto it = m_running.cbegin(); it != m_running.cend(); ++it) {
        Running &running = *it.value();
        if (mine.contains(it.key()) || running.stop != Stop::none)
            continue;
        // Changed by the person, here or in another process.
        std::optional<QueueItem> now;
        try {
            now = m_store.item(it.key());
        } catch (const TorvelError &) {
            continue;
        }
        running.stop = !now                                ? Stop::removed
                       : now->state == QueueState::paused  ? Stop::paused
                       : now->state == QueueState::waiting ? Stop::interrupted
                                                           : Stop::cancelled;
        running.service->cancel();
    }
    fillPlaces();
    checkIdle();
}

void QueueRunner::fillPlaces() {
    while (m_active && m_running.size() < m_maximumJobs) {
        std::optional<QueueItem> item;
        try {
            item = m_store.claimNext(m_pid, m_timing.lease);
        } catch (const TorvelError &) {
            return; // the next tick tries again
        }
        if (!item)
            return;
        launch(*item);
    }
}

bool QueueRunner::startNow(qint64 id, QueueItemStart known) {
    std::optional<QueueItem> item;
    try {
        item = m_store.claim(id, m_pid, m_timing.lease);
    } catch (const TorvelError &) {
        return false;
    }
    if (!item)
        return false;
    // Its lease is renewed like any other's.
    m_ticker.start();
    launch(*item, std::move(known));
    return true;
}

void QueueRunner::launch(const QueueItem &item, QueueItemStart known) {
    auto running = std::make_shared<Running>();
    running->service = std::make_unique<YTDLPService>(DependencyLocator(), m_jobFolders);
    running->service->setNetwork(m_network);
    m_running.insert(item.id, running);
    runItem(item, running, std::move(known));
}

YTDLPService::ProgressCallback QueueRunner::progressCallback(qint64 id) {
    auto lastSaved = std::make_shared<std::chrono::steady_clock::time_point>();
    return [this, alive = m_alive, id, lastSaved](const DownloadProgress &progress) {
        if (!*alive)
            return;
        Q_EMIT itemProgress(id, progress);
        const auto now = std::chrono::steady_clock::now();
        if (now - *lastSaved >= m_timing.progressSaving) {
            *lastSaved = now;
            try {
                m_store.saveProgress(id, progress.fraction, progressText(progress));
            } catch (const TorvelError &) {
                // Only the shown progress is late; the download goes on.
            }
        }
    };
}

void QueueRunner::saveAnalysis(qint64 id, const MediaInfo &media) {
    m_store.saveAnalysis(id, media.title, media.thumbnail.value_or(QString()), media.extractor.value_or(QString()),
                         media.id);
}

void QueueRunner::prepareJobFolder(QueueItem &item) {
    // The item's own folder, kept across pauses and restarts.
    if (item.jobFolder.isEmpty() || !QFileInfo(item.jobFolder).isDir()) {
        item.jobFolder = m_jobFolders.createQueuedJobFolder();
        m_store.saveJobFolder(item.id, item.jobFolder);
    }
}

void QueueRunner::forgetEmptyJobFolder(const QueueItem &item) {
    if (item.jobFolder.isEmpty())
        return;
    const QStringList held =
        QDir(item.jobFolder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    if (held != QStringList{QStringLiteral(".queued")})
        return;
    try {
        m_store.saveJobFolder(item.id, QString());
        JobFolders::removeQuietly(item.jobFolder);
    } catch (const TorvelError &) {
        // Kept: the item's next run uses it.
    }
}

YTDLPService::DownloadOptions QueueRunner::downloadOptions(const QueueItem &item, const std::shared_ptr<bool> &alive) {
    YTDLPService::DownloadOptions options;
    options.cookies = CookieSource::fromSetting(item.cookies, PlatformPaths::homeFolder());
    options.jobFolder = item.jobFolder;
    if (m_concurrentFragments > 0)
        options.concurrentFragments = m_concurrentFragments;
    const qint64 id = item.id;
    options.onNotice = [this, alive, id](const QString &notice) {
        if (*alive)
            Q_EMIT itemNotice(id, notice);
    };
    options.onLog = [this, alive, id](const QString &text) {
        if (*alive)
            Q_EMIT itemLog(id, text);
    };
    return options;
}

QCoro::Task<QString> QueueRunner::downloadItem(QueueItem &item, YTDLPService &service, QueueItemStart known,
                                               std::shared_ptr<bool> alive) {
    const QString ytDLP = m_tools.ytDLP;
    if (known.entryDocument || item.playlistItem > 0) {
        prepareJobFolder(item);
        YTDLPService::DownloadOptions options = downloadOptions(item, alive);
        co_return co_await downloadListEntry(item, service, known.entryDocument, std::move(options));
    }
    // A standard way names no format of the item: one yt-dlp extracts the address and downloads
    // it. What only an analysis tells needs it first: whether a stretch fits, which subtitles the
    // page has, whether a format or an audio track exists.
    // An item queued after an analysis downloads from the document kept with it.
    const std::optional<DownloadChoice> standard = standardWay(item);
    const bool noSubtitles = item.subtitles == QStringList{QueueItem::noSubtitles} ||
                             (item.subtitles.isEmpty() && m_preferredSubtitles.trimmed().isEmpty());
    if (!known.analysis && item.document.isEmpty() && standard && item.pairedAudioID.isEmpty() && noSubtitles &&
        item.section.isEmpty()) {
        prepareJobFolder(item);
        YTDLPService::DownloadOptions options = downloadOptions(item, alive);
        const QString placed = co_await downloadWithoutAnalysis(item, service, *standard, std::move(options));
        if (!*alive)
            throw CancellationError();
        if (!placed.isEmpty())
            co_return placed;
        // Refused: what yt-dlp began before it was stopped is no partial data of this item.
        JobFolders::removeQuietly(item.jobFolder);
        item.jobFolder.clear();
        m_store.saveJobFolder(item.id, item.jobFolder);
    }
    std::optional<MediaInfo> media = std::move(known.analysis);
    if (!media)
        media = co_await keptAnalysis(item);
    if (!*alive)
        throw CancellationError();
    if (!media) {
        const CookieSource cookies = CookieSource::fromSetting(item.cookies, PlatformPaths::homeFolder());
        MediaAnalysis analysis = co_await service.analyze(QUrl(item.url), ytDLP, cookies);
        if (!*alive)
            throw CancellationError();
        if (const auto *list = std::get_if<PlaylistInfo>(&analysis))
            throw ProcessRunnerError::failed(
                0, QStringLiteral("Esta dirección es una lista con %1. %2")
                       .arg(countedText(list->entryCount(), QStringLiteral("video"), QStringLiteral("videos")),
                            m_listAdvice));
        media = std::get<MediaInfo>(std::move(analysis));
    }
    saveAnalysis(item.id, *media);
    prepareJobFolder(item);
    YTDLPService::DownloadOptions options = downloadOptions(item, alive);
    co_return co_await downloadAnalyzed(item, service, *media, std::move(options));
}

QCoro::Task<QString> QueueRunner::downloadWithoutAnalysis(const QueueItem &item, YTDLPService &service,
                                                          const DownloadChoice &way,
                                                          YTDLPService::DownloadOptions options) {
    ChoiceSelection selection;
    selection.audioExportFormat = item.audioFormat;
    selection.selectChoice(way);
    options.conversion = selection.compatibleMP4Outlook();
    // A cover goes in after the download, once the file shows it can keep one.
    options.contents = selection.fileContents(m_embedMetadata);
    options.withoutAnalysis = true;
    const std::shared_ptr<bool> alive = m_alive;
    const qint64 id = item.id;
    options.onDocument = [this, alive, id](const MediaInfo &media) {
        if (!*alive)
            return;
        try {
            saveAnalysis(id, media);
        } catch (const TorvelError &) {
            // Only the item's title waits for its end.
        }
    };
    co_return co_await service.download(QUrl(item.url), selection.selectedChoice(), m_tools.ytDLP, m_tools.ffmpeg,
                                        item.destination, progressCallback(id), options);
}

QCoro::Task<QString> QueueRunner::downloadAnalyzed(const QueueItem &item, YTDLPService &service, const MediaInfo &media,
                                                   YTDLPService::DownloadOptions options) {
    ChoiceSelection selection;
    selection.mediaInfo = media;
    chosenWay(selection, item);
    // Subtitles the page does not have fail here, before anything is downloaded.
    if (item.subtitles == QStringList{QueueItem::noSubtitles}) {
        // None, whatever the preferred ones.
    } else if (!item.subtitles.isEmpty()) {
        if (!selection.selectedChoiceHasVideo())
            throw ProcessRunnerError::failed(
                0, QStringLiteral("Los subtítulos se guardan solo con video: --subtitles no se aplica a %1.")
                       .arg(item.choiceID));
        selection.selectedSubtitles = SubtitleRequests::resolve(item.subtitles.join(QLatin1Char(',')), media);
    } else if (selection.selectedChoiceHasVideo()) {
        if (const std::optional<QString> subtitles = SubtitleRequests::preferred(m_preferredSubtitles, media))
            selection.selectedSubtitles = {*subtitles};
    }
    if (!item.section.isEmpty()) {
        QString problem;
        options.section = MediaSection::fromRange(item.section, media.duration, problem);
        if (!options.section)
            throw ProcessRunnerError::failed(0, problem);
    }
    options.conversion = selection.compatibleMP4Outlook();
    options.document = media.document;
    options.contents = selection.fileContents(m_embedMetadata);
    co_return co_await service.download(QUrl(item.url), selection.selectedChoice(), m_tools.ytDLP, m_tools.ffmpeg,
                                        item.destination, progressCallback(item.id), options);
}

QCoro::Task<QString> QueueRunner::downloadListEntry(const QueueItem &item, YTDLPService &service,
                                                    std::shared_ptr<const AnalysisDocument> document,
                                                    YTDLPService::DownloadOptions options) {
    const std::optional<DownloadChoice> way = standardWay(item);
    if (!way)
        throw ProcessRunnerError::failed(0, QStringLiteral("Una lista se descarga de una de las formas recommended, "
                                                           "compatible-mp4 o audio-only; %1 no es una de ellas.")
                                                .arg(item.choiceID));
    // An entry the list's document carried whole downloads from its own document; one without a
    // page of its own is otherwise its number in the list's page. Entries are not analyzed one by
    // one: their containers are unknown, so no cover.
    if (item.playlistItem > 0)
        options.playlistItem = item.playlistItem;
    // The document names the video for the history: entries of one page share its address.
    if (document && document->isUsable()) {
        const std::shared_ptr<bool> alive = m_alive;
        QFile file(document->path());
        const QByteArray json = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        std::optional<MediaAnalysis> named;
        try {
            named = co_await MediaAnalyses::decodeInBackground(json);
        } catch (const TorvelError &) {
            // Unnamed, the entry is remembered by its address.
        }
        if (!*alive)
            throw CancellationError();
        try {
            if (const auto *media = named ? std::get_if<MediaInfo>(&*named) : nullptr)
                saveAnalysis(item.id, *media);
        } catch (const TorvelError &) {
            // Only the item's title and name wait.
        }
    }
    options.document = std::move(document);
    options.contents.metadata = m_embedMetadata;
    co_return co_await service.download(QUrl(item.url), *way, m_tools.ytDLP, m_tools.ffmpeg, item.destination,
                                        progressCallback(item.id), options);
}

QCoro::Task<> QueueRunner::runItem(QueueItem item, std::shared_ptr<Running> running, QueueItemStart known) {
    const std::shared_ptr<bool> alive = m_alive;
    YTDLPService &service = *running->service;
    if (!m_tools.ytDLPVersion.isEmpty())
        service.rememberVersion(m_tools.ytDLP, m_tools.ytDLPVersion);
    Q_EMIT itemStarted(item.id);

    QString placed;
    QString failure;
    bool cancelled = false;
    try {
        placed = co_await downloadItem(item, service, std::move(known), alive);
    } catch (const CancellationError &) {
        cancelled = true;
    } catch (const TorvelError &error) {
        failure = error.errorDescription();
    }
    if (!*alive)
        co_return;
    // A pause, a cancel or a removal that came while the item was ending is answered anyway.
    m_running.remove(item.id);

    QueueState outcome = QueueState::completed;
    try {
        if (!cancelled && failure.isEmpty()) {
            m_store.complete(item.id, placed, QFileInfo(placed).size());
        } else if (cancelled || running->stop != Stop::none) {
            switch (running->stop) {
            case Stop::none:
            case Stop::interrupted:
                outcome = m_interruptedState;
                m_store.release(item.id, m_pid, outcome);
                break;
            case Stop::paused:
                outcome = QueueState::paused;
                break;
            case Stop::cancelled:
                outcome = QueueState::cancelled;
                break;
            case Stop::removed:
                outcome = QueueState::cancelled;
                JobFolders::removeQuietly(item.jobFolder);
                break;
            }
        } else if (isNetworkFailure(failure) && item.attempts < maximumAttempts && !m_timing.retryWaits.isEmpty()) {
            outcome = QueueState::waiting;
            const qsizetype wait = std::min<qsizetype>(item.attempts - 1, m_timing.retryWaits.size() - 1);
            m_store.retryLater(item.id, failure, m_timing.retryWaits.at(std::max<qsizetype>(0, wait)));
            // The wait's end is met by a tick.
        } else {
            outcome = QueueState::failed;
            m_store.fail(item.id, failure);
        }
    } catch (const TorvelError &) {
        // The store could not be written: the lease runs out and the item is taken back.
        outcome = QueueState::waiting;
    }
    if (outcome != QueueState::completed && running->stop != Stop::removed)
        forgetEmptyJobFolder(item);
    Q_EMIT itemFinished(item.id, outcome);
    fillPlaces();
    checkIdle();
}

QCoro::Task<std::optional<MediaInfo>> QueueRunner::keptAnalysis(const QueueItem &item) {
    if (item.document.isEmpty())
        co_return std::nullopt;
    auto document = std::make_shared<const AnalysisDocument>(item.document, nullptr);
    if (!document->isUsable())
        co_return std::nullopt;
    // A large site's document is megabytes: read and decoded on a worker thread.
    const QString path = item.document;
    auto reading = [path] {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            throw PlatformError(QStringLiteral("No se pudo leer %1: %2").arg(path, file.errorString()));
        return MediaInfo::decode(file.readAll());
    };
    std::optional<MediaInfo> media;
    try {
        media = co_await Background::run(reading);
    } catch (const TorvelError &) {
        // Unreadable: the address is analysed instead.
        co_return std::nullopt;
    }
    media->document = document;
    co_return media;
}
