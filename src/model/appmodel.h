#pragma once

#include "media/downloadchoice.h"
#include "media/downloadprogresstracker.h"
#include "media/mediainfo.h"
#include "media/playlistdownloader.h"
#include "media/playlistinfo.h"
#include "media/ytdlpservice.h"
#include "model/appsettings.h"
#include "model/appupdatealert.h"
#include "model/downloadqueue.h"
#include "model/finisheddownload.h"
#include "model/toolindicatorstate.h"
#include "platform/desktopservices.h"
#include "tools/dependencylocator.h"
#include "tools/homebrewsupportinfo.h"
#include "tools/toolhosts.h"
#include "tools/toolinfo.h"
#include "tools/toolupdateevent.h"
#include "tools/toolupdatelog.h"
#include "tools/toolupdatestatus.h"
#include "update/appupdateservice.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QObject>
#include <QUrl>

#include <QCoroTask>

#include <functional>
#include <memory>
#include <optional>

class ToolUpdateService;

// The one observable object behind every window and menu. It lives on the interface thread;
// every published value changes there and announces itself with a change signal. Operations
// never throw: each outcome lands in published state.
//
// The class is split over several sources by concern: appmodel.cpp (construction and state),
// appmodel_download.cpp (analysis and download workflow), appmodel_tools.cpp (the tools: version
// check, Homebrew state and the install, update and removal operations with their live log),
// appmodel_update.cpp (self-update), appmodel_playlist.cpp (lists of videos: the entries to
// download), appmodel_queue.cpp (downloads as items of the queue: "Descargar" and a list's entries
// followed on screen, "Añadir a la cola", several addresses at once).
class AppModel : public QObject {
    Q_OBJECT

public:
    enum class Phase { idle, analyzing, ready, downloading, completed, failed };
    Q_ENUM(Phase)
    enum class OptionsTab { general, network, tools, about };
    Q_ENUM(OptionsTab)
    enum class ToolUpdateOutcome { none, success, failure, cancelled };
    Q_ENUM(ToolUpdateOutcome)

    // A tool operation proposed to the user, waiting for confirmation.
    struct PendingToolAction {
        enum class Kind { install, update, uninstallHomebrew, rollBack };
        Kind kind = Kind::install;
        ToolKind tool = ToolKind::ytDLP;

        static PendingToolAction install(ToolKind tool) { return {Kind::install, tool}; }
        static PendingToolAction update(ToolKind tool) { return {Kind::update, tool}; }
        static PendingToolAction uninstallHomebrew(ToolKind tool) { return {Kind::uninstallHomebrew, tool}; }
        static PendingToolAction rollBack(ToolKind tool) { return {Kind::rollBack, tool}; }
        bool operator==(const PendingToolAction &) const = default;
    };
    using AppUpdateAlert = ::AppUpdateAlert;
    using Clock = std::function<QDateTime()>;

    // The settings and the desktop services must outlive the model. toolHosts: where tool
    // management finds its catalogs and downloads. The default update service has no update
    // host: the application passes AppUpdateService::Configuration::system(). clock: "now" for
    // the tool operations' times. queueStoreFile: where the download queue and its history are kept.
    AppModel(AppSettings &settings, DesktopServices &desktop, ToolHosts toolHosts,
             DependencyLocator locator = DependencyLocator(),
             JobFolders jobFolders = JobFolders(PlatformPaths::jobsRoot()),
             const QString &queueStoreFile = PlatformPaths::queueStoreFile(),
             AppUpdateService appUpdateService = AppUpdateService(), Clock clock = &QDateTime::currentDateTimeUtc,
             QObject *parent = nullptr);
    ~AppModel() override;

    AppSettings &settings() const { return m_settings; }
    DesktopServices &desktop() const { return m_desktop; }
    YTDLPService &service() { return m_service; }
    DownloadQueue &queue() { return *m_queue; }
    QDateTime now() const { return m_clock(); }

    // Published state of the download side.
    const QString &urlInput() const { return m_urlInput; }
    void setUrlInput(const QString &text);
    Phase phase() const { return m_phase; }
    const std::optional<MediaInfo> &mediaInfo() const { return m_selection.mediaInfo; }
    const QString &selectedChoiceID() const { return m_selection.selectedChoiceID; }
    const std::optional<QString> &selectedAudioFormatID() const { return m_selection.selectedAudioFormatID; }
    void setSelectedAudioFormatID(const std::optional<QString> &formatID);
    AudioExportFormat audioExportFormat() const { return m_selection.audioExportFormat; }
    void setAudioExportFormat(AudioExportFormat format);
    // Codes of the subtitles to embed ("Subtítulos"); empty for none. After an analysis: the
    // first preferred language (setting "Subtítulos preferidos") the page's subtitles have.
    const QStringList &selectedSubtitles() const { return m_selection.selectedSubtitles; }
    void setSelectedSubtitles(const QStringList &codes);
    // What "Descargar" puts into the file besides its streams, with the settings as they are.
    FileContents fileContents() const { return m_selection.fileContents(m_settings.embedMetadata()); }
    // The selection with everything derived from it.
    const ChoiceSelection &choiceSelection() const { return m_selection; }
    const DownloadProgress &progress() const { return m_progress; }
    const QString &errorMessage() const { return m_errorMessage; }
    // The live log of the running or last download: each yt-dlp command as it ran, secrets
    // masked, and what it printed but its progress.
    const QString &downloadLog() const { return m_downloadLog.text(); }
    // A neutral line about how the last download ended ("Descarga cancelada."), until the phase
    // changes again.
    const QString &notice() const { return m_notice; }
    // The notice says that the address was downloaded before: "Añadir a la cola" again adds it anyway.
    bool offersAddingAgain() const { return m_offersAddingAgain; }
    // Beside the address field: what became of the addresses queued from it, or how many the
    // field holds. Empty when there is nothing to say.
    const QString &addressNote() const { return m_addressNote; }
    // How many web addresses the field holds; more than one are queued all at once.
    qsizetype fieldAddressCount() const { return m_fieldAddressCount; }
    // The queue's items the downloading card follows: the one "Descargar" started, or a list's.
    QList<qint64> followedItems() const { return m_followed ? m_followed->ids : QList<qint64>(); }
    const std::optional<QString> &completedFile() const { return m_completedFile; }
    const std::optional<ToolInfo> &ytDLP() const { return m_ytDLP; }
    const std::optional<ToolInfo> &ffmpeg() const { return m_ffmpeg; }
    bool isCheckingTools() const { return m_isCheckingTools; }
    OptionsTab selectedOptionsTab() const { return m_selectedOptionsTab; }
    void setSelectedOptionsTab(OptionsTab tab);

    // Published state of the tool side.
    const QList<ToolUpdateStatus> &updateStatuses() const { return m_updateStatuses; }
    bool isCheckingUpdates() const { return m_isCheckingUpdates; }
    // Why a located tool's state is unchecked: a check under way, one that failed, or none yet.
    QString uncheckedReason() const;
    const std::optional<QDateTime> &lastUpdateCheck() const { return m_lastUpdateCheck; }
    bool isUpdatingTools() const { return m_operation.isUpdatingTools; }
    const QString &updateMessage() const { return m_operation.message; }
    const QString &updateStage() const { return m_operation.stage; }
    const QString &updateLog() const { return m_operation.log.text(); }
    const std::optional<QDateTime> &updateStartedAt() const { return m_operation.startedAt; }
    const std::optional<QDateTime> &updateFinishedAt() const { return m_operation.finishedAt; }
    ToolUpdateOutcome updateOutcome() const { return m_operation.outcome; }
    const std::optional<QDateTime> &updateLastActivityAt() const { return m_operation.lastActivityAt; }
    std::optional<qint32> updateProcessID() const { return m_operation.processID; }
    const QString &updateNotice() const { return m_operation.notice; }
    const std::optional<HomebrewSupportInfo> &homebrewSupportInfo() const { return m_homebrewSupportInfo; }
    const QMap<ToolKind, QStringList> &homebrewDependents() const { return m_homebrewDependents; }
    bool isCheckingHomebrewSupport() const { return m_isCheckingHomebrewSupport; }
    const std::optional<PendingToolAction> &pendingToolAction() const { return m_pendingToolAction; }
    void setPendingToolAction(const std::optional<PendingToolAction> &action);

    // Derived reads for the pills and the options window.
    ToolIndicatorState indicatorState(ToolKind tool) const;
    bool toolUsesHomebrew(ToolKind tool) const;
    // How to install both tools by hand here: the distribution's command, Homebrew's if present.
    QStringList manualInstallCommands() const;
    std::optional<QString> homebrewSupportWarning() const;
    std::optional<QString> homebrewWarning(ToolKind tool) const;
    std::optional<QString> homebrewDependentSummary(ToolKind tool) const;
    // The version a rollback would restore: the copy the last managed install replaced, offered
    // while the located tool is the managed copy.
    std::optional<QString> previousManagedVersion(ToolKind tool) const;

    // The offered choices and the resolved selection, derived afresh on every read.
    QList<DownloadChoice> standardChoices() const { return m_selection.standardChoices(); }
    QList<MediaFormat> exactFormats() const { return m_selection.exactFormats(); }
    QList<DownloadChoice> exactChoices() const { return m_selection.exactChoices(); }
    QList<MediaFormat> audioOnlyFormats() const { return m_selection.audioOnlyFormats(); }
    std::optional<MediaFormat> selectedVideoOnlyFormat() const { return m_selection.selectedVideoOnlyFormat(); }
    DownloadChoice selectedChoice() const { return m_selection.selectedChoice(); }
    ConversionOutlook compatibleMP4Outlook() const { return m_selection.compatibleMP4Outlook(); }
    void selectChoice(const DownloadChoice &choice);
    // "Recortar": the start and end of the stretch to keep, as typed; both empty keep the whole
    // video. A new analysis empties them.
    void setSectionTimes(const QString &start, const QString &end);
    QString sectionStart() const { return m_sectionStart; }
    QString sectionEnd() const { return m_sectionEnd; }
    // Why the typed stretch cannot be kept (checked against the video's duration), or empty; a
    // download does not start while there is one.
    QString sectionProblem() const;
    std::optional<MediaSection> section() const;

    // The workflow. The tasks may be awaited or left to run on their own.
    // Analyzes the field's address; a newer request or a reset discards a running analysis's
    // result. A download always fetches the address that was analyzed.
    QCoro::Task<> analyze();
    QCoro::Task<> startDownload();
    // After a failure: the download again when the address was analyzed, otherwise the analysis.
    QCoro::Task<> retry();
    // For a failure that a newer yt-dlp may mend: its update, then retry() when it succeeded.
    QCoro::Task<> updateYTDLPAndRetry();
    // Stops the running analysis (back to idle, the address kept) or cancels the followed
    // download (back to ready), or the followed list's items still to come.
    void cancelDownload();
    // Back to idle with an empty field; a running analysis is stopped, a download is left alone.
    void reset();
    void revealCompletedFile();
    // Analyzed at once, also while downloads run; never downloaded from here.
    void handleIncomingURL(const QUrl &url);
    // A pasted text, into the field.
    void offerAddress(const QString &text);

    // The queue (appmodel_queue.cpp). "Añadir a la cola": the analyzed item (or a list's chosen
    // entries) as chosen, to run when its turn comes; the field is then free for the next address.
    // An item downloaded before is only named, unless `again`.
    void addToQueue(bool again = false);
    // Every web address in `text` (several pasted, or a text file's lines), queued with the
    // chosen standard way ("recommended" when an exact format is chosen); those downloaded before
    // are left out and counted. The field is cleared for the next address.
    void queueAddresses(const QString &text);
    // The same for the addresses in a text file.
    void queueAddressesFromFile(const QString &path);
    QCoro::Task<> refreshDependencies();

    // The tool operations. At most one runs at a time: a call while one runs changes nothing.
    QCoro::Task<> checkForUpdates();
    QCoro::Task<> updateTools(std::optional<ToolKind> only);
    QCoro::Task<> installTool(ToolKind tool);
    QCoro::Task<> uninstallHomebrew(ToolKind tool);
    // Puts the managed copy that the last install replaced back in place.
    QCoro::Task<> rollBackTool(ToolKind tool);
    // Stops the running operation; it then takes its cancelled end.
    void cancelToolOperation();
    // The options window on the tools tab, proposing the install or update the tool needs.
    void showToolManager(ToolKind tool, bool proposeAction);
    void appendUpdateLog(const QString &text);
    void copyToolUpdateLog();

    // The destination folder: downloadDirectory with "~" expanded.
    QString downloadDirectoryURL() const { return m_settings.downloadDirectoryPath(); }
    void chooseDownloadDirectory();
    void chooseExecutable(ToolKind tool);
    // A Netscape-format cookies file for yt-dlp, stored as the cookies setting when chosen.
    void chooseCookiesFile();

    // The self-update: the dialog to show (the interface dismisses it), the check and the
    // installation with its stage text.
    const std::optional<AppUpdateAlert> &appUpdateAlert() const;
    void dismissAppUpdateAlert();
    bool isCheckingApplicationUpdate() const { return m_isCheckingApplicationUpdate; }
    bool isInstallingApplicationUpdate() const { return m_isInstallingApplicationUpdate; }
    const QString &applicationUpdateStage() const { return m_applicationUpdateStage; }
    qint64 currentApplicationBuild() const;
    QString currentApplicationVersion() const;
    const AppUpdateService &appUpdateService() const { return m_appUpdateService; }
    QCoro::Task<> checkForApplicationUpdate(bool manual);
    QCoro::Task<> installApplicationUpdate(AppUpdateManifest manifest);
    // The user kept the application open when it quit for the update: the waiting installer is
    // stopped, its files are removed and the window is usable again, with a message.
    void abandonApplicationRestart();

    // A list of videos instead of one item (appmodel_playlist.cpp): the analyzed list, which of
    // its entries are chosen (all at first), the entry that runs, and how the run ended.
    const std::optional<PlaylistInfo> &playlist() const { return m_playlist.info; }
    bool isPlaylistEntryChecked(qsizetype index) const { return m_playlist.checked.value(index); }
    qsizetype checkedPlaylistEntryCount() const { return m_playlist.checked.count(true); }
    // Only downloadable entries can be chosen.
    void setPlaylistEntryChecked(qsizetype index, bool checked);
    void setAllPlaylistEntriesChecked(bool checked);
    const std::optional<PlaylistDownloader::Position> &playlistPosition() const { return m_playlist.position; }
    const std::optional<PlaylistDownloader::Outcome> &playlistOutcome() const { return m_playlist.outcome; }
    // The list's folder; the summary's button asks, the setting reveals it by itself.
    void revealPlaylistFolder(DesktopServices::Reveal reveal = DesktopServices::Reveal::asked);

    static QString normalizedURLText(const QString &text);
    static std::optional<QUrl> validatedWebURL(const QString &text);

Q_SIGNALS:
    void urlInputChanged();
    void phaseChanged();
    void mediaInfoChanged();
    void sectionChanged();
    // selectedChoiceID, selectedAudioFormatID, audioExportFormat or selectedSubtitles
    void selectionChanged();
    void progressChanged();
    void errorMessageChanged();
    void downloadLogChanged();
    void noticeChanged();
    void addressNoteChanged();
    void completedFileChanged();
    // ytDLP, ffmpeg, the previous managed versions or isCheckingTools
    void toolsChanged();
    void selectedOptionsTabChanged();
    void playlistChanged();
    void playlistCheckedChanged();
    void playlistPositionChanged();
    void playlistOutcomeChanged();
    // updateStatuses or isCheckingUpdates
    void updateStatusesChanged();
    void isUpdatingToolsChanged();
    void updateMessageChanged();
    void updateStageChanged();
    void updateLogChanged();
    // updateStartedAt, updateFinishedAt or updateLastActivityAt
    void updateTimesChanged();
    void updateOutcomeChanged();
    void updateProcessIDChanged();
    void updateNoticeChanged();
    // homebrewSupportInfo, homebrewDependents or isCheckingHomebrewSupport
    void homebrewChanged();
    void pendingToolActionChanged();
    void appUpdateAlertChanged();
    // isCheckingApplicationUpdate, isInstallingApplicationUpdate or applicationUpdateStage
    void applicationUpdateChanged();
    // An update is ready and its installer waits: the application quits the way the user would.
    void applicationTerminationRequested();
    // A download ended with a placed file or a failure, after the phase says so.
    void downloadFinished(const FinishedDownload &finished);

private:
    // The proxy and speed limit of the settings, to the services that reach the network.
    void applyNetworkSettings();
    void setPhase(Phase phase);
    void setMediaInfo(const std::optional<MediaInfo> &media);
    void setSelectedChoiceID(const QString &choiceID);
    void setProgress(const DownloadProgress &progress);
    void setErrorMessage(const QString &message);
    void setCompletedFile(const std::optional<QString> &file);
    void fail(const QString &message);
    void setNotice(const QString &notice, bool offersAddingAgain = false);
    void setAddressNote(const QString &note);
    // The media and choices of an address the field no longer holds go away (outside a running
    // analysis or download), so that nothing is downloaded under another address's title.
    void forgetAnalysisOfOtherAddress();
    // Back to idle without the analyzed media or list, or anything that followed from them.
    void forgetAnalysis();
    // Hands a snapshot from the engine to the interface thread. Snapshots that arrive faster
    // than the interface draws are folded into the latest one.
    void deliverProgress(const DownloadProgress &progress);
    void dropPendingProgress();
    // Starts the download log afresh; what the service's onLog hands it, on the interface thread.
    std::function<void(const QString &)> freshDownloadLog();
    void setAppUpdateAlert(const std::optional<AppUpdateAlert> &alert);
    void setPlaylist(const std::optional<PlaylistInfo> &list);
    void setPlaylistPosition(const std::optional<PlaylistDownloader::Position> &position);
    void setPlaylistOutcome(const std::optional<PlaylistDownloader::Outcome> &outcome);

    // The queue's side (appmodel_queue.cpp).
    void connectQueue();
    // The analyzed item as selected. Its analysis document is copied into a job folder of its
    // own, so that its download fetches no page while the document is fresh.
    QueueItem selectedItem() const;
    void keepDocument(QueueItem &item, const std::shared_ptr<const AnalysisDocument> &document) const;
    // The standard way for items that were not analyzed here.
    QString standardChoiceID() const;
    // The chosen entries of the list as items into `folder`; without those downloaded before
    // (counted in `skipped`) when asked.
    QList<QueueItem> listItems(const QString &folder, bool skipDownloaded, int &skipped) const;
    // A new folder for the list's videos in the download folder; a failure has been shown.
    std::optional<QString> newListFolder();
    std::optional<HistoryEntry> downloadedBefore(const QString &url, const QString &extractor = QString(),
                                                 const QString &videoID = QString()) const;
    static QString downloadedBeforeText(const HistoryEntry &entry);
    // Adds the items to the store; their ids, or none (the problem shown) when it cannot be written.
    std::optional<QList<qint64>> addItems(const QList<QueueItem> &items);
    void followItems(const QList<qint64> &ids, const std::optional<QString> &listFolder);
    void downloadList();
    // After a queueing action: the field empty for the next address (a download on screen stays),
    // and a line saying what happened.
    void clearFieldAfterQueueing(const QString &note);
    void followedItemStarted(qint64 id);
    void followedItemProgress(qint64 id, const DownloadProgress &progress);
    void followedItemFinished(qint64 id, QueueState state);
    void endFollowedItem(const QueueItem &item);
    void endFollowedList();
    void setApplicationUpdateState(bool checking, bool installing, const QString &stage);

    // The tool side (appmodel_tools.cpp). Changes made while a batch of events is handled are
    // announced once, when the batch ends.
    enum ToolChange : unsigned {
        statusesChange = 1u << 0,
        updatingChange = 1u << 1,
        messageChange = 1u << 2,
        stageChange = 1u << 3,
        logChange = 1u << 4,
        timesChange = 1u << 5,
        outcomeChange = 1u << 6,
        processChange = 1u << 7,
        noticeChange = 1u << 8,
        homebrewChange = 1u << 9,
    };
    class AnnounceOnce;
    void announce(unsigned changes);
    void setUpdateStage(const QString &stage);
    void setUpdateMessage(const QString &message);
    void setUpdateNotice(const QString &notice);
    void setUpdateProcessID(std::optional<qint32> pid);
    void setUpdatingTools(bool updating);
    void setUpdateOutcome(ToolUpdateOutcome outcome);
    QCoro::Task<> refreshHomebrewSupport();
    void beginToolOperation(const QString &title, const QString &notice);
    ToolUpdateEventHandler toolEventHandler();
    void deliverToolEvent(const ToolUpdateEvent &event);
    void handlePendingToolEvents();
    void handleToolUpdateEvent(const ToolUpdateEvent &event, const QDateTime &now);
    void updateStageFromOutput(const QString &line);
    QCoro::Task<> finishSuccessfulToolOperation(QString message);
    void finishCancelledToolOperation();
    void finishFailedToolOperation(const QString &description);
    // Awaits a service call. Its value when it succeeded; otherwise the cancelled or failed end
    // has been taken and there is none.
    template <typename T> QCoro::Task<std::optional<T>> outcomeOf(QCoro::Task<T> &work);
    QString homebrewIntelWarning(std::optional<ToolKind> tool) const;
    const std::optional<ToolInfo> &located(ToolKind tool) const { return tool == ToolKind::ytDLP ? m_ytDLP : m_ffmpeg; }

    AppSettings &m_settings;
    DesktopServices &m_desktop;
    DependencyLocator m_locator;
    YTDLPService m_service;
    Clock m_clock;
    // Shared with the coroutines that use it, so a call still under way when the model goes
    // away finishes on a live service.
    std::shared_ptr<ToolUpdateService> m_toolUpdateService;
    JobFolders m_jobFolders;
    std::unique_ptr<DownloadQueue> m_queue;

    QString m_urlInput;
    Phase m_phase = Phase::idle;
    ChoiceSelection m_selection;
    QString m_sectionStart;
    QString m_sectionEnd;
    DownloadProgress m_progress = DownloadProgress::initial();
    QString m_errorMessage;
    ToolUpdateLog m_downloadLog;
    QString m_notice;
    bool m_offersAddingAgain = false;
    // The address of the latest analysis, which the shown media and choices belong to.
    std::optional<QUrl> m_analyzedURL;
    // Counts analysis requests and resets: a result is applied only while its number is current.
    quint64 m_analysisRequest = 0;
    QString m_addressNote;
    qsizetype m_fieldAddressCount = 0;
    // The items the downloading card follows, until they end or another analysis takes the window.
    struct Followed {
        QList<qint64> ids; // in the list's order
        std::optional<QString> listFolder;
        QHash<qint64, double> fractions;
        QHash<qint64, QueueState> ended;
        double shownFraction = 0; // a list's bar never goes back
        QString unconverted;
    };
    std::optional<Followed> m_followed;
    std::optional<QString> m_completedFile;
    std::optional<ToolInfo> m_ytDLP;
    std::optional<ToolInfo> m_ffmpeg;
    QMap<ToolKind, QString> m_previousVersions; // kept copies of the managed tools
    bool m_isCheckingTools = false;
    // An incoming link arrived during a tool search; its analysis starts when the search ends.
    bool m_analysisAwaitsTools = false;
    OptionsTab m_selectedOptionsTab = OptionsTab::general;
    struct PlaylistState {
        std::optional<PlaylistInfo> info;
        QList<bool> checked;
        std::optional<PlaylistDownloader::Position> position;
        std::optional<PlaylistDownloader::Outcome> outcome;
    } m_playlist;

    QList<ToolUpdateStatus> m_updateStatuses;
    bool m_isCheckingUpdates = false;
    std::optional<QDateTime> m_lastUpdateCheck; // when a version check last ended, well or not
    std::optional<HomebrewSupportInfo> m_homebrewSupportInfo;
    QMap<ToolKind, QStringList> m_homebrewDependents;
    bool m_isCheckingHomebrewSupport = false;
    std::optional<PendingToolAction> m_pendingToolAction;
    // The current or last tool operation.
    struct ToolOperation {
        bool isUpdatingTools = false;
        QString message;
        QString stage;
        ToolUpdateLog log;
        std::optional<QDateTime> startedAt;
        std::optional<QDateTime> finishedAt;
        ToolUpdateOutcome outcome = ToolUpdateOutcome::none;
        std::optional<QDateTime> lastActivityAt;
        std::optional<qint32> processID;
        QString notice;
    } m_operation;
    quint64 m_operationNumber = 0; // counts the operations begun
    int m_batchDepth = 0;
    unsigned m_unannounced = 0;

    QMutex m_pendingToolEventsLock; // guards the two fields below only
    QList<ToolUpdateEvent> m_pendingToolEvents;
    bool m_toolEventsScheduled = false;

    AppUpdateService m_appUpdateService;
    std::optional<AppUpdateAlert> m_appUpdateAlert;
    bool m_isCheckingApplicationUpdate = false;
    bool m_isInstallingApplicationUpdate = false;
    QString m_applicationUpdateStage;
    std::optional<AppUpdateService::Installer> m_waitingInstaller;

    QMutex m_pendingProgressLock; // guards m_pendingProgress only
    std::optional<DownloadProgress> m_pendingProgress;
};
