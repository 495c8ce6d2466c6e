#pragma once

#include "media/downloadprogresstracker.h"
#include "media/jobfolders.h"
#include "media/ytdlpservice.h"
#include "platform/platformpaths.h"
#include "queue/queuestore.h"

#include <QHash>
#include <QObject>
#include <QTimer>

#include <QCoroTask>

#include <chrono>
#include <memory>
#include <optional>

// The programs a QueueRunner starts.
struct QueueRunnerTools {
    QString ytDLP;
    QString ytDLPVersion; // when already known: spares asking yt-dlp for it
    std::optional<QString> ffmpeg;
};

// What a front end that starts an item at once already holds of it, so that nothing is extracted
// twice: the analysis it made of the address (to tell a list from a video), or the document that a
// list's analysis carries whole for one of its entries. Neither outlives the run it is given to.
struct QueueItemStart {
    std::optional<MediaInfo> analysis;
    std::shared_ptr<const AnalysisDocument> entryDocument;
};

// How a QueueRunner keeps time; tests shorten it.
struct QueueRunnerTiming {
    std::chrono::milliseconds lease{30'000};
    std::chrono::milliseconds tick{1'000};
    // Before the second and the third attempt.
    QList<std::chrono::milliseconds> retryWaits{std::chrono::seconds(10), std::chrono::seconds(30)};
    // How often a running item's progress is written to the store (each change is signalled).
    std::chrono::milliseconds progressSaving{1'000};
};

// Runs the queue's waiting items, up to maximumJobs() at once. Each running item has a
// YTDLPService of its own — its yt-dlp and FFmpeg processes, its cancel — and a job folder of its
// own that it keeps until it is completed or removed, so a pause, a crash or a kill leaves partial
// data that the next run continues with a range request. An item runs as a single download does:
// an item queued after an analysis downloads from the analysis document kept with it while that is
// fresh; a standard way without a stretch or subtitles runs one yt-dlp that extracts the address and
// downloads it, as when it is run by hand; otherwise (or when that yt-dlp's document shows an
// entry of a list) the address is analysed, the stored way chosen from the analysis, and the
// download starts from the analysis's document. An entry of a list is downloaded as the list
// names it, from the document the list carried when there is one.
//
// Every tick the runner renews the leases of its items, stops those that were paused, cancelled
// or removed meanwhile (by this process or another sharing the store) and takes waiting items
// into free places. Failures of the network kind (connection reset, time-out, HTTP 5xx, 429) are
// tried again on their own, up to maximumAttempts in all, after the waits of Timing.
class QueueRunner : public QObject {
    Q_OBJECT

public:
    static constexpr int minimumJobs = 1;
    static constexpr int maximumAllowedJobs = 8;
    static constexpr int defaultJobs = 3;
    static constexpr int maximumAttempts = 3;

    using Tools = QueueRunnerTools;
    using Timing = QueueRunnerTiming;

    QueueRunner(QueueStore &store, Tools tools, JobFolders jobFolders = JobFolders(PlatformPaths::jobsRoot()),
                Timing timing = Timing(), QObject *parent = nullptr);
    // Stops what still runs (its items wait again, their partial data kept).
    ~QueueRunner() override;

    const Tools &tools() const { return m_tools; }
    // Items started later use these.
    void setTools(Tools tools) { m_tools = std::move(tools); }
    int maximumJobs() const { return m_maximumJobs; }
    // 1 to 8; takes effect at once: more places start waiting items, fewer let running ones end.
    void setMaximumJobs(int jobs);
    void setConcurrentFragments(int fragments) { m_concurrentFragments = fragments; }
    // The proxy and speed limit every item's yt-dlp uses.
    void setNetwork(YTDLPNetwork network) { m_network = std::move(network); }
    // What goes into each file besides its streams: title, chapters and cover, and the first of
    // the preferred subtitle languages ("es, en") that a video has.
    void setFileContents(bool embedMetadata, QString preferredSubtitles) {
        m_embedMetadata = embedMetadata;
        m_preferredSubtitles = std::move(preferredSubtitles);
    }
    // What the failure of an item whose address is a list of videos advises, after "Esta
    // dirección es una lista con N videos.".
    void setListAdvice(QString advice) { m_listAdvice = std::move(advice); }

    // Starts taking waiting items, until stop().
    void start();
    // Runs a waiting item at once, beyond maximumJobs() and whether or not the runner was started
    // (a download the person asked for now), from what the caller already knows of it. False when
    // the item is not waiting any more.
    bool startNow(qint64 id, QueueItemStart known = {});
    // Stops every running item; each goes to `state` — waiting after an interruption, paused when
    // the application quits — keeping its partial data.
    void stop(QueueState state = QueueState::waiting);
    bool isActive() const { return m_active; }
    // Ends once nothing runs and, while active, nothing waits (a retry's wait included).
    QCoro::Task<> untilIdle();

    // Looks at the store now rather than at the next tick: an item paused, cancelled or removed
    // meanwhile stops at once.
    void refresh() { tick(); }

    int runningCount() const { return int(m_running.size()); }
    QList<qint64> runningItems() const { return m_running.keys(); }

    // Whether a failure's message is of the network kind, which is worth another attempt.
    static bool isNetworkFailure(const QString &message);

Q_SIGNALS:
    void itemStarted(qint64 id);
    void itemProgress(qint64 id, const DownloadProgress &progress);
    void itemNotice(qint64 id, const QString &notice);
    // Each yt-dlp command of the item as it starts and what it prints but its progress: its live log.
    void itemLog(qint64 id, const QString &text);
    // The item's state once this run of it ended: completed, failed, waiting (a retry to come, or
    // interrupted), paused or cancelled.
    void itemFinished(qint64 id, QueueState state);
    void idle();

private:
    struct Running;
    void tick();
    void fillPlaces();
    void launch(const QueueItem &item, QueueItemStart known = {});
    QCoro::Task<> runItem(QueueItem item, std::shared_ptr<Running> running, QueueItemStart known);
    // The steps of one item's download; each returns the placed file's path and throws as
    // YTDLPService::download does. The first is the whole sequence, the others its ways.
    QCoro::Task<QString> downloadItem(QueueItem &item, YTDLPService &service, QueueItemStart known,
                                      std::shared_ptr<bool> alive);
    // Empty when yt-dlp's document showed that the address needs an analysis first.
    QCoro::Task<QString> downloadWithoutAnalysis(const QueueItem &item, YTDLPService &service,
                                                 const DownloadChoice &way, YTDLPService::DownloadOptions options);
    QCoro::Task<QString> downloadAnalyzed(const QueueItem &item, YTDLPService &service, const MediaInfo &media,
                                          YTDLPService::DownloadOptions options);
    QCoro::Task<QString> downloadListEntry(const QueueItem &item, YTDLPService &service,
                                           std::shared_ptr<const AnalysisDocument> document,
                                           YTDLPService::DownloadOptions options);
    // The analysis document kept with the item, while it is fresh and readable.
    QCoro::Task<std::optional<MediaInfo>> keptAnalysis(const QueueItem &item);
    YTDLPService::DownloadOptions downloadOptions(const QueueItem &item, const std::shared_ptr<bool> &alive);
    void prepareJobFolder(QueueItem &item);
    // A job folder that received nothing is not kept for the item's next run.
    void forgetEmptyJobFolder(const QueueItem &item);
    void saveAnalysis(qint64 id, const MediaInfo &media);
    // Signals each change and writes it to the store now and then.
    YTDLPService::ProgressCallback progressCallback(qint64 id);
    bool isIdle() const;
    void checkIdle();

    QueueStore &m_store;
    Tools m_tools;
    JobFolders m_jobFolders;
    Timing m_timing;
    qint64 m_pid;
    int m_maximumJobs = defaultJobs;
    int m_concurrentFragments = 0; // 0: YTDLPService's default
    YTDLPNetwork m_network;
    bool m_embedMetadata = false;
    QString m_preferredSubtitles;
    QString m_listAdvice =
        QStringLiteral("Añade sus videos a la cola uno por uno, o descárgala con «download --playlist».");
    bool m_active = false;
    QueueState m_interruptedState = QueueState::waiting;
    QHash<qint64, std::shared_ptr<Running>> m_running;
    QTimer m_ticker;
    // Cleared when the runner goes: item runs still winding down touch nothing of it.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};
