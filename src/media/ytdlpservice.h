#pragma once

#include "common/networkoptions.h"
#include "media/cookiesource.h"
#include "media/downloadchoice.h"
#include "media/downloadprogresstracker.h"
#include "media/jobfolders.h"
#include "media/mediainfo.h"
#include "media/playlistinfo.h"
#include "media/ytdlparguments.h"
#include "platform/platformpaths.h"
#include "process/processrunner.h"
#include "tools/dependencylocator.h"

#include <QHash>
#include <QMutex>
#include <QUrl>

#include <chrono>

#include <QCoroTask>

#include <functional>
#include <memory>
#include <optional>

// What a download takes besides the choice.
struct YTDLPDownloadOptions {
    CookieSource cookies;
    // For "MP4 compatible": how much of the bar to keep for FFmpeg's conversion.
    ConversionOutlook conversion = ConversionOutlook::possible;
    // Only this video (counted from 1) of a page that holds several.
    std::optional<qsizetype> playlistItem = std::nullopt;
    // Told when "MP4 compatible" kept the result as it was downloaded, since it could not be
    // checked or converted; the text says why.
    std::function<void(const QString &)> onNotice = nullptr;
    // What the analysis kept of the item: the download starts from it while it is usable, and
    // extracts the address once more when the site refuses its expired media addresses.
    std::shared_ptr<const AnalysisDocument> document = nullptr;
    // No analysis came first: one yt-dlp extracts the address and downloads, as when it is run by
    // hand, printing its document of the item before it fetches anything. A document that is an
    // entry of a list, or that cannot be read as an item, stops it before anything is kept, and
    // the download returns an empty path: the caller analyzes the address instead. Only for
    // choices whose selector names no format of the item.
    bool withoutAnalysis = false;
    // Without analysis: told the item that yt-dlp's document describes, once it is printed.
    std::function<void(const MediaInfo &)> onDocument = nullptr;
    // Told each yt-dlp command as it starts ("$ " and CommandText's form of it, secrets masked),
    // then every line it prints but its progress records and its document: the live log.
    std::function<void(const QString &)> onLog = nullptr;
    // Fragments of a DASH or HLS format fetched at once, 1 to 16.
    int concurrentFragments = YTDLPArguments::defaultConcurrentFragments;
    // Subtitles, metadata and cover to put into the file (with FFmpeg).
    FileContents contents = FileContents();
    // A job folder the caller keeps (a queued item's): yt-dlp continues the partial data it finds
    // there, and a cancel or a failure leaves it in place. Placing the result removes it.
    std::optional<QString> jobFolder = std::nullopt;
    // Only this stretch of the video is kept; the caller has checked it against the duration.
    std::optional<MediaSection> section = std::nullopt;
};

// How yt-dlp reaches the network on every run: the proxy, and the speed limit of downloads.
struct YTDLPNetwork {
    NetworkOptions::Proxy proxy;
    std::optional<QString> limitRate; // in yt-dlp's form ("500K"); none for no limit
};

// Runs yt-dlp: analysis of an address into MediaInfo, and the download of one chosen way into
// a private job folder, with progress, cancellation and placement of the finished file ("MP4
// compatible" converted by FFmpeg first when it is not H.264 and AAC). One yt-dlp at a time: a
// second analysis or download is refused while one runs, so the running one keeps its process
// and stays cancellable. A failure's message starts with what yt-dlp's text means, when one of
// YTDLPExplanations' kinds fits it.
// Only a cancelled analysis gives way at once to a new one, while its process is still being
// stopped.
class YTDLPService {
public:
    using ProgressCallback = std::function<void(const DownloadProgress &)>;

    using DownloadOptions = YTDLPDownloadOptions;

    explicit YTDLPService(DependencyLocator locator = DependencyLocator(),
                          JobFolders jobFolders = JobFolders(PlatformPaths::jobsRoot()));
    // Kills whatever yt-dlp still runs: nothing the service started outlives it.
    ~YTDLPService();
    YTDLPService(const YTDLPService &) = delete;
    YTDLPService &operator=(const YTDLPService &) = delete;

    // One item, or a list of videos (named, not extracted), with yt-dlp's document kept for the
    // download (MediaInfo::document, PlaylistEntry::document). Throws CancellationError when
    // cancelled, ProcessRunnerError (couldNotStart, also while another yt-dlp runs, or failed with
    // yt-dlp's last lines, the decoding failure or a list without a video to download).
    QCoro::Task<MediaAnalysis> analyze(QUrl url, QString ytDLPPath, CookieSource cookies = CookieSource::none());

    // Returns the placed file's path (empty when a download without analysis was refused, see
    // YTDLPDownloadOptions::withoutAnalysis). Throws CancellationError after cancel(), ProcessRunnerError
    // (also when yt-dlp was ended by a signal from elsewhere) for a failure (couldNotStart while another yt-dlp runs),
    // PlatformError when the destination cannot be written or the result cannot be placed.
    QCoro::Task<QString> download(QUrl url, DownloadChoice choice, QString ytDLPPath, std::optional<QString> ffmpegPath,
                                  QString destinationDirectory, ProgressCallback progress,
                                  DownloadOptions options = DownloadOptions());

    // Stops the running yt-dlp (version query, analysis or download; FFmpeg while it converts)
    // with everything it started: SIGTERM now, SIGKILL two seconds later. A request made before
    // the process has started is kept and delivered the moment it starts.
    void cancel();
    // Kills the running yt-dlp and everything it started at once; for quitting the application.
    void killProcessTree();

    // Used by every later analysis and download.
    void setNetwork(YTDLPNetwork network) { m_network = std::move(network); }
    const YTDLPNetwork &network() const { return m_network; }

    void cleanAbandonedJobs() const { m_jobFolders.cleanAbandonedJobs(); }
    static QString uniqueDestination(const QString &fileName, const QString &folder) {
        return JobFolders::uniqueDestination(fileName, folder);
    }

    // Tool discovery already read the version of the located yt-dlp; this spares asking again.
    void rememberVersion(const QString &ytDLPPath, const QString &version);

    // What the last six lines of a tool's standard error say, after the warnings printed above them.
    static QString readableError(const QByteArray &standardError);

private:
    enum class Operation { none, analysis, download };
    // The running operation's process and cancel state. The operation's coroutines hold it,
    // since they may outlive the service: once the service is gone they end without touching it.
    struct RunState;
    using SharedRunState = std::shared_ptr<RunState>;

    // Runs yt-dlp, FFprobe or FFmpeg as the operation's cancellable process. Throws
    // CancellationError, without starting anything, when a cancel is already pending.
    static QCoro::Task<ProcessResult> runCancellable(SharedRunState state, QString program, QStringList arguments,
                                                     LineCallback onLine, ProcessOptions options,
                                                     std::optional<std::chrono::milliseconds> limit);
    // The version of the yt-dlp at path, asked once per file as the version cache tells files
    // apart, and remembered there between runs.
    QCoro::Task<QString> versionOf(QString ytDLPPath);
    // The plain values of one run's command lines; cookiesFile is the private copy of the
    // user's file, when one is in use.
    YTDLPInvocation invocation(const QString &version, const CookieSource &cookies,
                               const PrivateCookieFile *cookiesFile, int concurrentFragments = 1) const;
    // The private copy of the user's cookies file, when the run uses one.
    QCoro::Task<std::shared_ptr<PrivateCookieFile>> privateCookieFile(SharedRunState state, CookieSource cookies) const;
    // "MP4 compatible": the produced file when it already is H.264 and AAC in MP4, otherwise
    // FFmpeg's conversion of it inside the job folder, reported through the tracker. When it
    // cannot be checked or converted, the produced file with the reason in unconverted.
    QCoro::Task<QString> compatibleMP4(SharedRunState state, QString produced, std::optional<QString> ffmpegPath,
                                       DownloadProgressTracker &tracker, QString &unconverted);
    // The cover a download could not take before yt-dlp ran (FileContents::coverIfHeld): FFmpeg's
    // copy of the produced file with the thumbnail yt-dlp wrote beside `thumbnailOf`, put in its
    // place. A file that keeps no cover, a missing thumbnail or a failure (said in coverless)
    // leave the produced file as it is.
    QCoro::Task<void> embedCover(SharedRunState state, QString produced, QString thumbnailOf, QString ffmpeg,
                                 QString &coverless);

    DependencyLocator m_locator;
    JobFolders m_jobFolders;
    QHash<QString, QString> m_versions; // the version cache's key → version, interface thread only
    SharedRunState m_state;
    YTDLPNetwork m_network;
    // Cancelled analyses still winding down, so that killProcessTree() reaches them too.
    QList<std::weak_ptr<RunState>> m_retiredStates;
};
