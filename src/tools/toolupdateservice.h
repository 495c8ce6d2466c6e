#pragma once

#include "common/networkoptions.h"
#include "dependencylocator.h"
#include "homebrewsupportinfo.h"
#include "previoustoolcopy.h"
#include "process/processrunner.h"
#include "signatureverifier.h"
#include "toolhosts.h"
#include "toolinfo.h"
#include "toolupdateevent.h"
#include "toolupdatestatus.h"

#include <QMutex>
#include <QStringList>
#include <QUrl>

#include <QCoroTask>

class QLockFile;

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

// Checks, installs, updates and removes the outside tools: yt-dlp, Deno, FFmpeg with FFprobe,
// and Homebrew's copies of them. Every command the user should see is announced through the
// event handler with its process id, its live output and its end. One operation runs at a time;
// cancel() stops it wherever it is: the running command with every process it started, a
// transfer, the digest or an extraction.
//
// The class is split over several sources by concern: toolupdateservice.cpp (commands,
// transfers, cancellation), toolupdateservice_install.cpp (verification, atomic replacement and
// the managed installs), toolupdateservice_homebrew.cpp (version check, Homebrew, updates).
class ToolUpdateService {
public:
    // The proxy of every later transfer (version catalogs, checksums, downloads), as the
    // settings say: curl's own --proxy, or --noproxy for none; the system's lets curl read the
    // environment.
    void setProxy(NetworkOptions::Proxy proxy) { m_proxy = std::move(proxy); }

    struct ManagedInstallResult {
        QString path;    // the installed executable (for FFmpeg, "ffmpeg")
        QString message; // summary for the user
        bool operator==(const ManagedInstallResult &) const = default;
    };

    // How long anything may take and how large it may grow. Production values by default;
    // tests shorten them.
    struct Limits {
        std::chrono::seconds catalogFetch{15};            // version catalogs
        std::chrono::seconds dataFetch{30};               // checksum files, Deno's release document
        std::chrono::seconds connect{30};                 // reaching a server, per transfer
        std::chrono::seconds stalledTransfer{60};         // a download slower than 1 byte/s this long ends
        std::chrono::milliseconds testRun{120'000};       // a downloaded program's version query
        std::chrono::milliseconds homebrewQuery{120'000}; // brew doctor, brew uses
        qint64 maxAssetBytes = qint64(1) << 30;           // one downloaded program or archive
        qint64 maxDocumentBytes = qint64(8) << 20;        // a catalog document or checksum file
        qint64 maxUnpackedBytes = qint64(2) << 30;        // what one archive may unpack to
        qint64 maxOutputCharacters = qint64(16) << 20;    // what one command may print
        int maxRedirects = 10;
    };

    struct InstallPair {
        QString source;
        QString destination;
        QString keepReplacedAs = {}; // where a replaced file goes once the whole set is in place; removed when empty
    };
    // Renames a file within one file system; returns the system's description of a failure.
    using FileMove = std::function<std::optional<QString>(const QString &from, const QString &to)>;

    explicit ToolUpdateService(ToolHosts hosts = ToolHosts(), DependencyLocator locator = DependencyLocator());
    ToolUpdateService(ToolHosts hosts, DependencyLocator locator, Limits limits);
    ToolUpdateService(const ToolUpdateService &) = delete;
    ToolUpdateService &operator=(const ToolUpdateService &) = delete;

    const ToolHosts &hosts() const { return m_hosts; }
    const DependencyLocator &locator() const { return m_locator; }

    // The latest published versions of the located tools. Never throws; a tool that is absent,
    // or whose catalog cannot be read, has no entry. yt-dlp first.
    QCoro::Task<QList<ToolUpdateStatus>> check(std::optional<ToolInfo> ytDLP, std::optional<ToolInfo> ffmpeg);

    // The official single-file yt-dlp (and Deno when no JavaScript runtime is found), verified,
    // test-run and moved into the managed tools folder.
    QCoro::Task<ManagedInstallResult> installManagedYTDLP(ToolUpdateEventHandler onEvent);
    // FFmpeg and FFprobe as one set: verified, checked to be executables for this machine,
    // test-run, then both replaced or neither.
    QCoro::Task<ManagedInstallResult> installManagedFFmpeg(ToolUpdateEventHandler onEvent);

    // Homebrew's own view of this machine; absent when brew cannot tell. Never throws.
    QCoro::Task<std::optional<HomebrewSupportInfo>> checkHomebrewSupport(QString brewPath);
    // Installed formulae that depend on the tool's formula; empty when brew cannot tell.
    QCoro::Task<QStringList> homebrewInstalledDependents(ToolKind tool, QString brewPath);
    // Removes only the tool's own formula, never a dependency; refuses while formulae need it.
    QCoro::Task<QString> uninstallHomebrew(ToolKind tool, QString brewPath, ToolUpdateEventHandler onEvent);
    // Updates each outdated tool the way its installer allows; returns the summary.
    QCoro::Task<QString> update(QList<ToolUpdateStatus> statuses, std::optional<ToolInfo> ytDLP,
                                std::optional<ToolInfo> ffmpeg, std::optional<ToolKind> only,
                                ToolUpdateEventHandler onEvent);

    // The version of the managed copy that the last install replaced, when it is kept for a step
    // back (yt-dlp, or FFmpeg with FFprobe).
    std::optional<QString> previousVersion(ToolKind tool) const;
    // Puts the kept previous copy back in place of the managed one, after checking that it is
    // the very copy that was kept and that it still answers with the recorded version; the
    // replaced copy is not kept. Both copies stay as they were when anything fails. Returns the
    // summary. move: the file move (tests make one fail).
    QCoro::Task<QString> rollBack(ToolKind tool, ToolUpdateEventHandler onEvent, FileMove move = renameFile);

    // Stops the running operation from any thread and returns at once: the running command and
    // every process it started get SIGTERM now and SIGKILL two seconds later; in-process steps
    // stop at their next check. The operation then throws CancellationError. Does nothing when
    // no operation runs.
    void cancel();

    // The digest listed for a file name in a checksum list ("DIGEST  name" or "DIGEST *name").
    static std::optional<QString> sha256Entry(const QString &name, const QString &list);
    // Replaces a set of files all or nothing, each by one rename over the previous file, so the
    // previous file stays in place until the new one takes its name. A set of several files is
    // first recorded in the folder ("swap-journal.json") with a second name for each file it
    // replaces; when any move fails, the new files go back to their sources and the previous ones
    // to their places, and after an interruption recoverInterruptedWork does the same. Throws
    // PlatformError with the failure. Returns false when a replaced file could not be moved to
    // its keepReplacedAs (it is then removed).
    static bool installAtomically(const QList<InstallPair> &pairs, const FileMove &move = renameFile);
    // What an interrupted install or rollback left in the managed tools folder: a recorded swap
    // is undone (the previous set back in place, the new files back at their sources), downloads,
    // work folders and second names are removed, and a previous-copy record whose files are gone
    // is forgotten. The constructor runs it unless another process is changing the folder.
    static void recoverInterruptedWork(const QString &folder);
    static std::optional<QString> renameFile(const QString &from, const QString &to);

private:
    // One child process as the service runs it.
    struct Run {
        QString executable;
        QStringList arguments;
        std::optional<ProcessEnvironment> environment;
        const ToolUpdateEventHandler *onEvent = nullptr; // reports start, output lines and end
        bool cancellable = true;                         // the operation's own: cancel() stops it
        std::chrono::milliseconds limit{0};              // none when zero
        QString withheldPrefix;                          // output lines not reported
        QString watchedFile;                             // stopped when it grows past maxFileBytes
        qint64 maxFileBytes = 0;
    };
    struct RunOutcome {
        enum class Stop { none, timeLimit, fileSize, outputSize };
        ProcessResult result;
        Stop stop = Stop::none;
    };
    // One HTTP(S) transfer into a file, redirects followed one hop at a time.
    struct Transfer {
        QUrl address;
        QString file;
        std::chrono::seconds maxTime{0}; // none when zero: a stalled download ends instead
        qint64 maxBytes = 0;
        const ToolUpdateEventHandler *onEvent = nullptr;
        bool cancellable = true;
    };
    class OperationScope;

    // Commands and transfers (toolupdateservice.cpp).
    QCoro::Task<RunOutcome> execute(Run run);
    QCoro::Task<> runUpdate(QString executable, QStringList arguments, ToolUpdateEventHandler onEvent);
    QCoro::Task<QUrl> downloadAsset(QUrl address, QString destination, ToolUpdateEventHandler onEvent);
    QCoro::Task<QByteArray> curlJSON(QUrl address);
    QCoro::Task<QByteArray> downloadData(QUrl address);
    QCoro::Task<QByteArray> fetchIntoMemory(QUrl address, std::chrono::seconds maxTime, bool cancellable);
    QCoro::Task<QUrl> transfer(Transfer transfer);
    static ProcessEnvironment homebrewEnvironment(bool noAutoUpdate = false);
    void setActiveProcess(qint32 pid);
    void clearActiveProcess(qint32 pid);
    bool isCancelRequested() const;
    void throwIfCancelled() const;
    std::shared_ptr<std::atomic_bool> cancelFlag() const;

    // Verification and installs (toolupdateservice_install.cpp).
    // yt-dlp's "SHA2-256SUMS" from the release folder, accepted only with a good signature by
    // the key in m_hosts.
    QCoro::Task<QString> signedYTDLPChecksums(QString releasePath, ToolUpdateEventHandler onEvent);
    QCoro::Task<> verifySHA256(QString file, QUrl checksumURL, QString expectedFileName,
                               ToolUpdateEventHandler onEvent);
    QCoro::Task<std::optional<ProcessResult>> testRun(QString executable, QStringList arguments);
    QCoro::Task<QString> validatedVersion(QString executable, QStringList arguments);
    QCoro::Task<> extract(QString archive, QString folder, const ToolUpdateEventHandler &onEvent);
    QCoro::Task<ManagedInstallResult> installManagedDeno(ToolUpdateEventHandler onEvent);
    static void makeExecutable(const QString &path);

    // The previous copy (toolupdateservice_rollback.cpp). outgoingCopy: the managed copy an install
    // of incomingVersion is about to replace, when it is worth keeping (complete, answering, of
    // another version). replaceManagedCopy: installAtomically for an install, keeping outgoing.
    QCoro::Task<std::optional<PreviousToolCopy>> outgoingCopy(ToolKind tool, QString incomingVersion);
    void replaceManagedCopy(ToolKind tool, QList<InstallPair> pairs, const std::optional<PreviousToolCopy> &outgoing,
                            const ToolUpdateEventHandler &onEvent);
    QString managedToolsFolder() const;
    // Held by an install or rollback for as long as it changes the managed tools folder, so that
    // another process (the window and the command line) neither changes it at the same time nor
    // takes its work for leftovers. Throws ToolUpdateError when another process holds it.
    static std::unique_ptr<QLockFile> lockManagedFolder(const QString &folder);

    // Catalogs and Homebrew (toolupdateservice_homebrew.cpp).
    QCoro::Task<std::optional<ToolUpdateStatus>> ytDLPStatus(std::optional<ToolInfo> ytDLP);
    QCoro::Task<std::optional<ToolUpdateStatus>> ffmpegStatus(std::optional<ToolInfo> ffmpeg);
    QCoro::Task<QString> formulaVersion(QString name);
    QCoro::Task<QStringList> installedDependents(ToolKind tool, QString brewPath, bool cancellable);

    ToolHosts m_hosts;
    DependencyLocator m_locator;
    Limits m_limits;
    NetworkOptions::Proxy m_proxy;
    SignatureVerifier m_ytDLPSignature;

    mutable QMutex m_processLock;                  // guards the three fields below, nothing else
    qint32 m_activeProcess = 0;                    // the command cancel() would stop; 0 when none
    int m_operationDepth = 0;                      // operations under way (an update runs an install inside)
    std::shared_ptr<std::atomic_bool> m_cancelled; // the running operation's cancellation
};

// Marks an operation under way for as long as it lives: the outermost one gets a fresh
// cancellation flag, nested ones (an install inside an update) share it.
class ToolUpdateService::OperationScope {
public:
    explicit OperationScope(ToolUpdateService &service);
    ~OperationScope();
    OperationScope(const OperationScope &) = delete;
    OperationScope &operator=(const OperationScope &) = delete;

private:
    ToolUpdateService &m_service;
};
