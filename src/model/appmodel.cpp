#include "appmodel.h"

#include "common/weburl.h"
#include "platform/singleinstance.h"
#include "tools/toolupdateservice.h"

#include <QFileInfo>
#include <QPointer>

AppModel::AppModel(AppSettings &settings, DesktopServices &desktop, ToolHosts toolHosts, DependencyLocator locator,
                   JobFolders jobFolders, const QString &queueStoreFile, AppUpdateService appUpdateService, Clock clock,
                   QObject *parent)
    : QObject(parent), m_settings(settings), m_desktop(desktop), m_locator(locator), m_service(locator, jobFolders),
      m_clock(std::move(clock)),
      m_toolUpdateService(std::make_shared<ToolUpdateService>(std::move(toolHosts), std::move(locator))),
      m_jobFolders(jobFolders),
      m_queue(std::make_unique<DownloadQueue>(settings, queueStoreFile, std::move(jobFolders))),
      m_appUpdateService(std::move(appUpdateService)) {
    m_service.cleanAbandonedJobs();
    applyNetworkSettings();
    connect(&m_settings, &AppSettings::proxyChanged, this, &AppModel::applyNetworkSettings);
    connect(&m_settings, &AppSettings::limitRateChanged, this, &AppModel::applyNetworkSettings);
    connectQueue();
    // Queued: a link is handled after whatever the interface is doing when it arrives.
    connect(&IncomingLinks::instance(), &IncomingLinks::urlReceived, this, &AppModel::handleIncomingURL,
            Qt::QueuedConnection);
    refreshDependencies();
    // Beside the tool search; silent unless it finds a newer build.
    checkForApplicationUpdate(false);
}

AppModel::~AppModel() {
    // A tool operation still running stops with its whole process tree; the service lives on
    // until its calls have ended.
    m_toolUpdateService->cancel();
}

void AppModel::applyNetworkSettings() {
    const QString rate = m_settings.limitRate();
    m_service.setNetwork({m_settings.proxy(), rate.isEmpty() ? std::nullopt : std::optional<QString>(rate)});
    m_toolUpdateService->setProxy(m_settings.proxy());
}

QString AppModel::normalizedURLText(const QString &text) {
    return WebURL::normalizedURLText(text);
}

std::optional<QUrl> AppModel::validatedWebURL(const QString &text) {
    return WebURL::firstWebURL(text);
}

void AppModel::setUrlInput(const QString &text) {
    if (m_urlInput == text)
        return;
    m_urlInput = text;
    // What was said before concerns another text; several addresses are all queued.
    m_fieldAddressCount = WebURL::addressesIn(text).size();
    setAddressNote(m_fieldAddressCount > 1
                       ? QStringLiteral("%1 direcciones: se añadirán todas a la cola.").arg(m_fieldAddressCount)
                       : QString());
    Q_EMIT urlInputChanged();
    forgetAnalysisOfOtherAddress();
}

void AppModel::setPhase(Phase phase) {
    if (m_phase == phase)
        return;
    m_phase = phase;
    // A notice describes how the last phase ended; the next one makes it old news.
    setNotice(QString());
    Q_EMIT phaseChanged();
}

void AppModel::setAddressNote(const QString &note) {
    if (m_addressNote == note)
        return;
    m_addressNote = note;
    Q_EMIT addressNoteChanged();
}

void AppModel::setNotice(const QString &notice, bool offersAddingAgain) {
    if (m_notice == notice && m_offersAddingAgain == offersAddingAgain)
        return;
    m_notice = notice;
    m_offersAddingAgain = offersAddingAgain;
    Q_EMIT noticeChanged();
}

void AppModel::setMediaInfo(const std::optional<MediaInfo> &media) {
    if (m_selection.mediaInfo == media)
        return;
    m_selection.mediaInfo = media;
    Q_EMIT mediaInfoChanged();
    setSectionTimes(QString(), QString());
}

void AppModel::setSectionTimes(const QString &start, const QString &end) {
    if (start == m_sectionStart && end == m_sectionEnd)
        return;
    m_sectionStart = start;
    m_sectionEnd = end;
    Q_EMIT sectionChanged();
}

QString AppModel::sectionProblem() const {
    QString problem;
    MediaSection::fromTimes(m_sectionStart, m_sectionEnd,
                            m_selection.mediaInfo ? m_selection.mediaInfo->duration : std::nullopt, problem);
    return problem;
}

std::optional<MediaSection> AppModel::section() const {
    QString problem;
    return MediaSection::fromTimes(m_sectionStart, m_sectionEnd,
                                   m_selection.mediaInfo ? m_selection.mediaInfo->duration : std::nullopt, problem);
}

void AppModel::setSelectedChoiceID(const QString &choiceID) {
    if (m_selection.selectedChoiceID == choiceID)
        return;
    m_selection.selectedChoiceID = choiceID;
    Q_EMIT selectionChanged();
}

void AppModel::setSelectedAudioFormatID(const std::optional<QString> &formatID) {
    if (m_selection.selectedAudioFormatID == formatID)
        return;
    m_selection.selectedAudioFormatID = formatID;
    Q_EMIT selectionChanged();
}

void AppModel::setSelectedSubtitles(const QStringList &codes) {
    if (m_selection.selectedSubtitles == codes)
        return;
    m_selection.selectedSubtitles = codes;
    Q_EMIT selectionChanged();
}

void AppModel::setAudioExportFormat(AudioExportFormat format) {
    if (m_selection.audioExportFormat == format)
        return;
    m_selection.audioExportFormat = format;
    Q_EMIT selectionChanged();
}

void AppModel::selectChoice(const DownloadChoice &choice) {
    const ChoiceSelection before = m_selection;
    m_selection.selectChoice(choice);
    if (!(m_selection == before))
        Q_EMIT selectionChanged();
}

void AppModel::setProgress(const DownloadProgress &progress) {
    if (m_progress == progress)
        return;
    m_progress = progress;
    Q_EMIT progressChanged();
}

void AppModel::setErrorMessage(const QString &message) {
    if (m_errorMessage == message)
        return;
    m_errorMessage = message;
    Q_EMIT errorMessageChanged();
}

void AppModel::setCompletedFile(const std::optional<QString> &file) {
    if (m_completedFile == file)
        return;
    m_completedFile = file;
    Q_EMIT completedFileChanged();
}

void AppModel::fail(const QString &message) {
    setErrorMessage(message);
    setPhase(Phase::failed);
}

std::function<void(const QString &)> AppModel::freshDownloadLog() {
    m_downloadLog.clear();
    Q_EMIT downloadLogChanged();
    QPointer<AppModel> self(this);
    return [self](const QString &text) {
        QMetaObject::invokeMethod(self, [self, text] {
            if (self && self->m_downloadLog.append(text))
                Q_EMIT self->downloadLogChanged();
        });
    };
}

void AppModel::deliverProgress(const DownloadProgress &progress) {
    {
        // The engine may report from any thread; only the latest snapshot matters.
        QMutexLocker locker(&m_pendingProgressLock);
        const bool scheduled = m_pendingProgress.has_value();
        m_pendingProgress = progress;
        if (scheduled)
            return;
    }
    QMetaObject::invokeMethod(
        this,
        [this] {
            std::optional<DownloadProgress> latest;
            {
                QMutexLocker locker(&m_pendingProgressLock);
                latest.swap(m_pendingProgress);
            }
            if (latest)
                setProgress(*latest);
        },
        Qt::QueuedConnection);
}

void AppModel::dropPendingProgress() {
    QMutexLocker locker(&m_pendingProgressLock);
    m_pendingProgress.reset();
}

QCoro::Task<> AppModel::refreshDependencies() {
    QPointer<AppModel> self(this);
    m_isCheckingTools = true;
    Q_EMIT toolsChanged();
    // Both searches start before either is awaited, so they run side by side.
    auto ytDLPSearch = m_locator.locateYT_DLP(m_settings.ytDLPPath());
    auto ffmpegSearch = m_locator.locateFFmpeg(m_settings.ffmpegPath());
    const std::optional<ToolInfo> ytDLP = co_await ytDLPSearch;
    const std::optional<ToolInfo> ffmpeg = co_await ffmpegSearch;
    if (!self)
        co_return;
    m_ytDLP = ytDLP;
    m_ffmpeg = ffmpeg;
    m_previousVersions.clear();
    for (const ToolKind tool : {ToolKind::ytDLP, ToolKind::ffmpeg})
        if (const std::optional<QString> version = m_toolUpdateService->previousVersion(tool))
            m_previousVersions.insert(tool, *version);
    if (ytDLP) {
        m_settings.setYtDLPPath(ytDLP->path);
        m_service.rememberVersion(ytDLP->path, ytDLP->version);
    }
    if (ffmpeg)
        m_settings.setFfmpegPath(ffmpeg->path);
    m_queue->setTools(ytDLP, ffmpeg);
    m_isCheckingTools = false;
    Q_EMIT toolsChanged();
    if (m_analysisAwaitsTools) {
        m_analysisAwaitsTools = false;
        analyze();
    }
    co_await refreshHomebrewSupport();
    if (self)
        co_await checkForUpdates();
}

void AppModel::setSelectedOptionsTab(OptionsTab tab) {
    if (m_selectedOptionsTab == tab)
        return;
    m_selectedOptionsTab = tab;
    Q_EMIT selectedOptionsTabChanged();
}

void AppModel::chooseDownloadDirectory() {
    const std::optional<QString> folder = m_desktop.chooseFolder(QStringLiteral("Elegir carpeta de descargas"),
                                                                 QStringLiteral("Seleccionar"), downloadDirectoryURL());
    if (folder)
        m_settings.setDownloadDirectory(*folder);
}

void AppModel::chooseCookiesFile() {
    const CookieSource current = m_settings.cookieSource();
    const QString start =
        current.kind == CookieSource::Kind::file ? QFileInfo(current.file).absolutePath() : m_settings.homeFolder();
    const std::optional<QString> file =
        m_desktop.chooseFile(QStringLiteral("Elegir archivo de cookies"), QStringLiteral("Usar archivo"), start);
    if (file)
        m_settings.setCookies(QFileInfo(*file).absoluteFilePath());
}

void AppModel::chooseExecutable(ToolKind tool) {
    const std::optional<QString> path = m_desktop.chooseExecutable(
        tool == ToolKind::ytDLP ? QStringLiteral("Seleccionar yt-dlp") : QStringLiteral("Seleccionar ffmpeg"),
        QStringLiteral("Usar ejecutable"));
    if (!path)
        return;
    if (tool == ToolKind::ytDLP)
        m_settings.setYtDLPPath(*path);
    else
        m_settings.setFfmpegPath(*path);
    refreshDependencies();
}
