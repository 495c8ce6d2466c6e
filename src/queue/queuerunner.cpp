#include "queuerunner.h"

#include "common/background.h"
#include "media/cookiesource.h"
#include "media/downloadchoice.h"
#include "media/mediasection.h"
#include "media/ytdlpexplanations.h"
#include "media/ytdlpservice.h"
#include "process/processrunnererror.h"

#include <QCoreApplication>
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
        if (!listed || !selection.selectedVideoOnlyFormat())
            throw ProcessRunnerError::failed(
                0, QStringLiteral("La pista de audio %1 no existe para este enlace.").arg(item.pairedAudioID));
        selection.selectedAudioFormatID = item.pairedAudioID;
    }
    return selection.selectedChoice();
}

// The item's subtitles (explicit codes, none, or the preferred ones) and its stretch, into the
// selection and the options. Throws ProcessRunnerError for a stretch the video cannot give.
void applyContents(ChoiceSelection &selection, YTDLPService::DownloadOptions &options, const QueueItem &item,
                   const QString &preferredSubtitles) {
    const MediaInfo &media = *selection.mediaInfo;
    selection.selectedSubtitles.clear();
    if (selection.selectedChoiceHasVideo() && item.subtitles != QStringList{QueueItem::noSubtitles}) {
        if (!item.subtitles.isEmpty())
            selection.selectedSubtitles = item.subtitles;
        else if (const std::optional<QString> subtitles = SubtitleRequests::preferred(preferredSubtitles, media))
            selection.selectedSubtitles = {*subtitles};
    }
    if (!item.section.isEmpty()) {
        QString problem;
        options.section = MediaSection::fromRange(item.section, media.duration, problem);
        if (!options.section)
            throw ProcessRunnerError::failed(0, problem);
    }
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

bool QueueRunner::startNow(qint64 id) {
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
    launch(*item);
    return true;
}

void QueueRunner::launch(const QueueItem &item) {
    auto running = std::make_shared<Running>();
    running->service = std::make_unique<YTDLPService>(DependencyLocator(), m_jobFolders);
    running->service->setNetwork(m_network);
    m_running.insert(item.id, running);
    runItem(item, running);
}

QCoro::Task<> QueueRunner::runItem(QueueItem item, std::shared_ptr<Running> running) {
    const std::shared_ptr<bool> alive = m_alive;
    YTDLPService &service = *running->service;
    if (!m_tools.ytDLPVersion.isEmpty())
        service.rememberVersion(m_tools.ytDLP, m_tools.ytDLPVersion);
    Q_EMIT itemStarted(item.id);

    QString placed;
    QString failure;
    bool cancelled = false;
    try {
        const CookieSource cookies = CookieSource::fromSetting(item.cookies, PlatformPaths::homeFolder());
        ChoiceSelection selection;
        selection.mediaInfo = co_await mediaOf(item, service, cookies);
        if (!*alive)
            co_return;
        const MediaInfo &media = *selection.mediaInfo;
        m_store.saveAnalysis(item.id, media.title, media.thumbnail.value_or(QString()),
                             media.extractor.value_or(QString()), media.id);
        const DownloadChoice choice = chosenWay(selection, item);
        YTDLPService::DownloadOptions options;
        applyContents(selection, options, item, m_preferredSubtitles);
        // The item's own folder, kept across pauses and restarts.
        if (item.jobFolder.isEmpty() || !QFileInfo(item.jobFolder).isDir()) {
            item.jobFolder = m_jobFolders.createQueuedJobFolder();
            m_store.saveJobFolder(item.id, item.jobFolder);
        }
        options.cookies = cookies;
        options.conversion = selection.compatibleMP4Outlook();
        options.document = media.document;
        options.jobFolder = item.jobFolder;
        options.contents = selection.fileContents(m_embedMetadata);
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
        auto lastSaved = std::make_shared<std::chrono::steady_clock::time_point>();
        const YTDLPService::ProgressCallback onProgress = [this, alive, id,
                                                           lastSaved](const DownloadProgress &progress) {
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
        placed = co_await service.download(QUrl(item.url), choice, m_tools.ytDLP, m_tools.ffmpeg, item.destination,
                                           onProgress, options);
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
    Q_EMIT itemFinished(item.id, outcome);
    fillPlaces();
    checkIdle();
}

QCoro::Task<MediaInfo> QueueRunner::mediaOf(const QueueItem &item, YTDLPService &service, const CookieSource &cookies) {
    const QString ytDLP = m_tools.ytDLP;
    if (!item.document.isEmpty()) {
        auto document = std::make_shared<const AnalysisDocument>(item.document, nullptr);
        if (document->isUsable()) {
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
            }
            if (media) {
                media->document = document;
                co_return *std::move(media);
            }
        }
    }
    MediaAnalysis analysis = co_await service.analyze(QUrl(item.url), ytDLP, cookies);
    if (std::holds_alternative<PlaylistInfo>(analysis))
        throw ProcessRunnerError::failed(
            0, QStringLiteral("Esta dirección es una lista de videos: añade sus videos a la cola uno por uno, o "
                              "descárgala con «download --playlist»."));
    co_return std::get<MediaInfo>(std::move(analysis));
}
