#pragma once

#include "media/downloadchoice.h"
#include "media/downloadprogresstracker.h"
#include "media/jobfolders.h"
#include "media/mediainfo.h"
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

// Runs yt-dlp: analysis of an address into MediaInfo, and the download of one chosen way into
// a private job folder, with progress, cancellation and placement of the finished file. One
// yt-dlp at a time: a second analysis or download is refused while one runs, so the running
// one keeps its process and stays cancellable. Only a cancelled analysis gives way at once to
// a new one, while its process is still being stopped.
class YTDLPService {
public:
    using ProgressCallback = std::function<void(const DownloadProgress &)>;

    explicit YTDLPService(DependencyLocator locator = DependencyLocator(),
                          JobFolders jobFolders = JobFolders(PlatformPaths::jobsRoot()));
    // Kills whatever yt-dlp still runs: nothing the service started outlives it.
    ~YTDLPService();
    YTDLPService(const YTDLPService &) = delete;
    YTDLPService &operator=(const YTDLPService &) = delete;

    // Throws CancellationError when cancelled, ProcessRunnerError (couldNotStart, also while
    // another yt-dlp runs, or failed with yt-dlp's last lines or the decoding failure).
    QCoro::Task<MediaInfo> analyze(QUrl url, QString ytDLPPath);

    // Returns the placed file's path. Throws CancellationError when yt-dlp was stopped by a
    // signal, ProcessRunnerError for a failure (couldNotStart while another yt-dlp runs),
    // PlatformError when the destination cannot be written or the result cannot be placed.
    QCoro::Task<QString> download(QUrl url, DownloadChoice choice, QString ytDLPPath, std::optional<QString> ffmpegPath,
                                  QString destinationDirectory, ProgressCallback progress);

    // Stops the running yt-dlp (version query, analysis or download) with everything it started:
    // SIGTERM now, SIGKILL two seconds later. A request made before yt-dlp has started is kept
    // and delivered the moment it starts.
    void cancel();
    // Kills the running yt-dlp and everything it started at once; for quitting the application.
    void killProcessTree();

    void cleanAbandonedJobs() const { m_jobFolders.cleanAbandonedJobs(); }
    static QString uniqueDestination(const QString &fileName, const QString &folder) {
        return JobFolders::uniqueDestination(fileName, folder);
    }

    // Tool discovery already read the version of the located yt-dlp; this spares asking again.
    void rememberVersion(const QString &ytDLPPath, const QString &version);

    // What the last six lines of a tool's standard error say.
    static QString readableError(const QByteArray &standardError);
    // Appends the advice for refused temporary addresses (HTTP 403/404).
    static QString actionableDownloadError(const QString &message);

    // The exact command lines, for the given located version of yt-dlp. Options that a version
    // predates are left out, since yt-dlp rejects unknown options.
    QStringList analysisArguments(const QUrl &url, const QString &ytDLPVersion) const;
    QStringList downloadArguments(const QUrl &url, const DownloadChoice &choice, const QString &jobFolder,
                                  const std::optional<QString> &ffmpegPath, const QString &ytDLPVersion) const;

private:
    enum class Operation { none, analysis, download };
    // The running operation's process and cancel state. The operation's coroutines hold it,
    // since they may outlive the service: once the service is gone they end without touching it.
    struct RunState;
    using SharedRunState = std::shared_ptr<RunState>;

    // Runs yt-dlp as the operation's cancellable process. Throws CancellationError, without
    // starting anything, when a cancel is already pending.
    static QCoro::Task<ProcessResult> runYTDLP(SharedRunState state, QString ytDLPPath, QStringList arguments,
                                               LineCallback onLine, ProcessOptions options,
                                               std::optional<std::chrono::milliseconds> limit);
    // The version of the yt-dlp at path, asked once per file, modification time and size.
    QCoro::Task<QString> versionOf(QString ytDLPPath);
    QStringList javaScriptRuntimeArguments(const QString &ytDLPVersion) const;

    DependencyLocator m_locator;
    JobFolders m_jobFolders;
    QHash<QString, QString> m_versions; // "path|mtime|size" → version, interface thread only
    SharedRunState m_state;
    // Cancelled analyses still winding down, so that killProcessTree() reaches them too.
    QList<std::weak_ptr<RunState>> m_retiredStates;
};
