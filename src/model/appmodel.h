#pragma once

#include "media/downloadchoice.h"
#include "media/downloadprogresstracker.h"
#include "media/mediainfo.h"
#include "media/ytdlpservice.h"
#include "model/appsettings.h"
#include "model/appupdatealert.h"
#include "model/toolindicatorstate.h"
#include "platform/desktopservices.h"
#include "tools/dependencylocator.h"
#include "tools/toolinfo.h"
#include "update/appupdateservice.h"

#include <QMutex>
#include <QObject>
#include <QUrl>

#include <QCoroTask>

#include <optional>

// The one observable object behind every window and menu. It lives on the interface thread;
// every published value changes there and announces itself with a change signal. Operations
// never throw: each outcome lands in published state.
//
// The class is split over several sources by concern: appmodel.cpp (construction and state),
// appmodel_download.cpp (analysis and download workflow), appmodel_update.cpp (self-update).
class AppModel : public QObject {
    Q_OBJECT

public:
    enum class Phase { idle, analyzing, ready, downloading, completed, failed };
    Q_ENUM(Phase)
    enum class OptionsTab { general, tools, about };
    Q_ENUM(OptionsTab)

    using AppUpdateAlert = ::AppUpdateAlert;

    // The settings and the desktop services must outlive the model. The default update service
    // has no update host: the application passes AppUpdateService::Configuration::system().
    AppModel(AppSettings &settings, DesktopServices &desktop, DependencyLocator locator = DependencyLocator(),
             JobFolders jobFolders = JobFolders(PlatformPaths::jobsRoot()),
             AppUpdateService appUpdateService = AppUpdateService(), QObject *parent = nullptr);
    ~AppModel() override;

    AppSettings &settings() const { return m_settings; }
    YTDLPService &service() { return m_service; }

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
    const DownloadProgress &progress() const { return m_progress; }
    const QString &errorMessage() const { return m_errorMessage; }
    const std::optional<QString> &completedFile() const { return m_completedFile; }
    const std::optional<ToolInfo> &ytDLP() const { return m_ytDLP; }
    const std::optional<ToolInfo> &ffmpeg() const { return m_ffmpeg; }
    bool isCheckingTools() const { return m_isCheckingTools; }
    // How the toolbar and the options window show a tool.
    ToolIndicatorState indicatorState(ToolKind tool) const;
    OptionsTab selectedOptionsTab() const { return m_selectedOptionsTab; }
    void setSelectedOptionsTab(OptionsTab tab);

    // The offered choices and the resolved selection, derived afresh on every read.
    QList<DownloadChoice> standardChoices() const { return m_selection.standardChoices(); }
    QList<MediaFormat> exactFormats() const { return m_selection.exactFormats(); }
    QList<DownloadChoice> exactChoices() const { return m_selection.exactChoices(); }
    QList<MediaFormat> audioOnlyFormats() const { return m_selection.audioOnlyFormats(); }
    std::optional<MediaFormat> selectedVideoOnlyFormat() const { return m_selection.selectedVideoOnlyFormat(); }
    DownloadChoice selectedChoice() const { return m_selection.selectedChoice(); }
    void selectChoice(const DownloadChoice &choice);

    // The workflow. The tasks may be awaited or left to run on their own.
    QCoro::Task<> analyze();
    QCoro::Task<> startDownload();
    void cancelDownload() { m_service.cancel(); }
    void reset();
    void revealCompletedFile();
    void handleIncomingURL(const QUrl &url);
    QCoro::Task<> refreshDependencies();

    // The destination folder: downloadDirectory with "~" expanded.
    QString downloadDirectoryURL() const { return m_settings.downloadDirectoryPath(); }
    void chooseDownloadDirectory();
    void chooseExecutable(ToolKind tool);

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

    static QString normalizedURLText(const QString &text);
    static std::optional<QUrl> validatedWebURL(const QString &text);

Q_SIGNALS:
    void urlInputChanged();
    void phaseChanged();
    void mediaInfoChanged();
    // selectedChoiceID, selectedAudioFormatID or audioExportFormat
    void selectionChanged();
    void progressChanged();
    void errorMessageChanged();
    void completedFileChanged();
    // ytDLP, ffmpeg or isCheckingTools
    void toolsChanged();
    void selectedOptionsTabChanged();
    void appUpdateAlertChanged();
    // isCheckingApplicationUpdate, isInstallingApplicationUpdate or applicationUpdateStage
    void applicationUpdateChanged();
    // An update is ready and its installer waits: the application quits the way the user would.
    void applicationTerminationRequested();

private:
    void setPhase(Phase phase);
    void setMediaInfo(const std::optional<MediaInfo> &media);
    void setSelectedChoiceID(const QString &choiceID);
    void setProgress(const DownloadProgress &progress);
    void setErrorMessage(const QString &message);
    void setCompletedFile(const std::optional<QString> &file);
    void fail(const QString &message);
    // Hands a snapshot from the engine to the interface thread. Snapshots that arrive faster
    // than the interface draws are folded into the latest one.
    void deliverProgress(const DownloadProgress &progress);
    void dropPendingProgress();
    void setAppUpdateAlert(const std::optional<AppUpdateAlert> &alert);
    void setApplicationUpdateState(bool checking, bool installing, const QString &stage);

    AppSettings &m_settings;
    DesktopServices &m_desktop;
    DependencyLocator m_locator;
    YTDLPService m_service;

    QString m_urlInput;
    Phase m_phase = Phase::idle;
    ChoiceSelection m_selection;
    DownloadProgress m_progress = DownloadProgress::initial();
    QString m_errorMessage;
    std::optional<QString> m_completedFile;
    std::optional<ToolInfo> m_ytDLP;
    std::optional<ToolInfo> m_ffmpeg;
    bool m_isCheckingTools = false;
    // An incoming link arrived during a tool search; its analysis starts when the search ends.
    bool m_analysisAwaitsTools = false;
    OptionsTab m_selectedOptionsTab = OptionsTab::general;

    AppUpdateService m_appUpdateService;
    std::optional<AppUpdateAlert> m_appUpdateAlert;
    bool m_isCheckingApplicationUpdate = false;
    bool m_isInstallingApplicationUpdate = false;
    QString m_applicationUpdateStage;

    QMutex m_pendingProgressLock; // guards m_pendingProgress only
    std::optional<DownloadProgress> m_pendingProgress;
};
