#include "appmodel.h"

#include "platform/manualinstall.h"
#include "tools/toolupdateservice.h"

#include <QPointer>

#include <utility>

namespace {

QString displayName(ToolKind tool) {
    return ToolUpdateStatus::rawValue(ToolUpdateStatus::of(tool));
}

const QString buildFromSourceNotice = QStringLiteral(
    "Homebrew está compilando desde código fuente en este equipo. Puede tardar desde varios minutos hasta horas.");
const QString cancelledMessage = QStringLiteral(
    "La operación fue cancelada. Las herramientas que ya hubieran terminado de instalarse se conservaron.");

} // namespace

// Announces every change made while it lives once, when the outermost one ends.
class AppModel::AnnounceOnce {
public:
    explicit AnnounceOnce(AppModel &model) : m_model(model) { ++m_model.m_batchDepth; }
    ~AnnounceOnce() {
        if (--m_model.m_batchDepth == 0)
            m_model.announce(0);
    }
    AnnounceOnce(const AnnounceOnce &) = delete;
    AnnounceOnce &operator=(const AnnounceOnce &) = delete;

private:
    AppModel &m_model;
};

void AppModel::announce(unsigned changes) {
    m_unannounced |= changes;
    if (m_batchDepth > 0 || m_unannounced == 0)
        return;
    // Taken first: a slot may change the model again and announce that itself.
    const unsigned pending = std::exchange(m_unannounced, 0u);
    const std::pair<ToolChange, void (AppModel::*)()> signals[] = {
        {statusesChange, &AppModel::updateStatusesChanged}, {homebrewChange, &AppModel::homebrewChanged},
        {stageChange, &AppModel::updateStageChanged},       {logChange, &AppModel::updateLogChanged},
        {messageChange, &AppModel::updateMessageChanged},   {timesChange, &AppModel::updateTimesChanged},
        {outcomeChange, &AppModel::updateOutcomeChanged},   {processChange, &AppModel::updateProcessIDChanged},
        {noticeChange, &AppModel::updateNoticeChanged},     {updatingChange, &AppModel::isUpdatingToolsChanged},
    };
    for (const auto &[change, signal] : signals)
        if (pending & change)
            Q_EMIT(this->*signal)();
}

void AppModel::setUpdateStage(const QString &stage) {
    if (m_operation.stage == stage)
        return;
    m_operation.stage = stage;
    announce(stageChange);
}

void AppModel::setUpdateMessage(const QString &message) {
    if (m_operation.message == message)
        return;
    m_operation.message = message;
    announce(messageChange);
}

void AppModel::setUpdateNotice(const QString &notice) {
    if (m_operation.notice == notice)
        return;
    m_operation.notice = notice;
    announce(noticeChange);
}

void AppModel::setUpdateProcessID(std::optional<qint32> pid) {
    if (m_operation.processID == pid)
        return;
    m_operation.processID = pid;
    announce(processChange);
}

void AppModel::setUpdatingTools(bool updating) {
    if (m_operation.isUpdatingTools == updating)
        return;
    m_operation.isUpdatingTools = updating;
    announce(updatingChange);
}

void AppModel::setUpdateOutcome(ToolUpdateOutcome outcome) {
    if (m_operation.outcome == outcome)
        return;
    m_operation.outcome = outcome;
    announce(outcomeChange);
}

void AppModel::appendUpdateLog(const QString &text) {
    if (m_operation.log.append(text))
        announce(logChange);
}

void AppModel::setPendingToolAction(const std::optional<PendingToolAction> &action) {
    if (m_pendingToolAction == action)
        return;
    m_pendingToolAction = action;
    Q_EMIT pendingToolActionChanged();
}

// Version check and Homebrew state.

QCoro::Task<> AppModel::checkForUpdates() {
    if (m_isCheckingUpdates || isUpdatingTools())
        co_return;
    {
        AnnounceOnce once(*this);
        m_isCheckingUpdates = true;
        announce(statusesChange);
        setUpdateMessage(QString());
    }
    QPointer<AppModel> self(this);
    const std::shared_ptr<ToolUpdateService> service = m_toolUpdateService;
    const std::optional<ToolInfo> ytDLP = m_ytDLP;
    const std::optional<ToolInfo> ffmpeg = m_ffmpeg;
    const QList<ToolUpdateStatus> statuses = co_await service->check(ytDLP, ffmpeg);
    if (!self)
        co_return;
    m_updateStatuses = statuses;
    m_isCheckingUpdates = false;
    m_lastUpdateCheck = m_clock();
    announce(statusesChange);
}

QCoro::Task<> AppModel::refreshHomebrewSupport() {
    QList<ToolKind> homebrewTools;
    for (ToolKind tool : {ToolKind::ytDLP, ToolKind::ffmpeg})
        if (toolUsesHomebrew(tool))
            homebrewTools.append(tool);
    if (homebrewTools.isEmpty()) {
        m_homebrewSupportInfo.reset();
        m_homebrewDependents.clear();
        m_isCheckingHomebrewSupport = false;
        announce(homebrewChange);
        co_return;
    }
    // Both tools normally come from the same Homebrew; the first one's brew answers for both.
    const QString brewPath = located(homebrewTools.first())->installSource.brewPath;
    m_isCheckingHomebrewSupport = true;
    announce(homebrewChange);

    QPointer<AppModel> self(this);
    const std::shared_ptr<ToolUpdateService> service = m_toolUpdateService;
    const std::optional<HomebrewSupportInfo> support = co_await service->checkHomebrewSupport(brewPath);
    if (!self)
        co_return;
    m_homebrewSupportInfo = support;
    announce(homebrewChange);
    QMap<ToolKind, QStringList> dependents;
    for (ToolKind tool : homebrewTools) {
        const QStringList names = co_await service->homebrewInstalledDependents(tool, brewPath);
        if (!self)
            co_return;
        dependents.insert(tool, names);
    }
    m_homebrewDependents = dependents;
    m_isCheckingHomebrewSupport = false;
    announce(homebrewChange);
}

// Derived reads.

ToolIndicatorState AppModel::indicatorState(ToolKind tool) const {
    if (!located(tool))
        return ToolIndicatorState::missing;
    const ToolUpdateStatus::Tool kind = ToolUpdateStatus::of(tool);
    const auto status = std::find_if(m_updateStatuses.cbegin(), m_updateStatuses.cend(),
                                     [&](const ToolUpdateStatus &s) { return s.tool == kind; });
    // Not knowing of a newer version is no proof that there is none.
    if (status == m_updateStatuses.cend())
        return ToolIndicatorState::unchecked;
    return status->updateAvailable ? ToolIndicatorState::updateAvailable : ToolIndicatorState::current;
}

QString AppModel::uncheckedReason() const {
    if (m_isCheckingUpdates)
        return QStringLiteral("Comprobando si hay una versión más reciente…");
    if (m_lastUpdateCheck)
        return QStringLiteral("No se pudo consultar el catálogo de versiones: no se sabe si hay una versión más "
                              "reciente.");
    return QStringLiteral("Todavía no se ha comprobado si hay una versión más reciente.");
}

QStringList AppModel::manualInstallCommands() const {
    return ManualInstall::commands(!m_locator.homebrewExecutable().isEmpty());
}

bool AppModel::toolUsesHomebrew(ToolKind tool) const {
    const std::optional<ToolInfo> &info = located(tool);
    return info && info->installSource.kind == ToolInstallSource::Kind::homebrew;
}

namespace {

// "no compatible" or "Tier n" when Homebrew's view of this machine calls for a warning.
std::optional<QString> riskyHomebrewTier(const std::optional<HomebrewSupportInfo> &info) {
    if (!info)
        return std::nullopt;
    if (info->unsupported)
        return QStringLiteral("no compatible");
    if (info->tier && *info->tier >= 3)
        return QStringLiteral("Tier ") + QString::number(*info->tier);
    return std::nullopt;
}

} // namespace

std::optional<QString> AppModel::homebrewSupportWarning() const {
    const std::optional<QString> tier = riskyHomebrewTier(m_homebrewSupportInfo);
    if (!tier || (!toolUsesHomebrew(ToolKind::ytDLP) && !toolUsesHomebrew(ToolKind::ffmpeg)))
        return std::nullopt;
    return QStringLiteral("Homebrew clasificó este equipo como ") + *tier +
           QStringLiteral(". Los paquetes pueden compilarse desde código fuente y tardar horas. Recomendamos migrar a "
                          "las versiones precompiladas administradas por Torvel.");
}

std::optional<QString> AppModel::homebrewWarning(ToolKind tool) const {
    const std::optional<QString> tier = riskyHomebrewTier(m_homebrewSupportInfo);
    if (!tier || !toolUsesHomebrew(tool))
        return std::nullopt;
    return QStringLiteral("Homebrew confirmó que este host es ") + *tier +
           QStringLiteral(". La actualización puede compilar esta herramienta y sus dependencias desde código fuente y "
                          "tardar horas.");
}

QString AppModel::homebrewIntelWarning(std::optional<ToolKind> tool) const {
    const QList<ToolKind> tools = tool ? QList<ToolKind>{*tool} : QList<ToolKind>{ToolKind::ytDLP, ToolKind::ffmpeg};
    for (ToolKind candidate : tools)
        if (const std::optional<QString> warning = homebrewWarning(candidate))
            return *warning;
    return QString();
}

std::optional<QString> AppModel::homebrewDependentSummary(ToolKind tool) const {
    const QStringList names = m_homebrewDependents.value(tool);
    if (names.isEmpty())
        return std::nullopt;
    return names.join(QStringLiteral(", "));
}

void AppModel::showToolManager(ToolKind tool, bool proposeAction) {
    setSelectedOptionsTab(OptionsTab::tools);
    if (!proposeAction)
        return;
    switch (indicatorState(tool)) {
    case ToolIndicatorState::current:
    case ToolIndicatorState::unchecked:
        setPendingToolAction(std::nullopt);
        break;
    case ToolIndicatorState::updateAvailable:
        setPendingToolAction(PendingToolAction::update(tool));
        break;
    case ToolIndicatorState::missing:
        setPendingToolAction(PendingToolAction::install(tool));
        break;
    }
}

void AppModel::copyToolUpdateLog() {
    if (!updateLog().isEmpty())
        m_desktop.setClipboardText(updateLog());
}

// The operations.

void AppModel::beginToolOperation(const QString &title, const QString &notice) {
    AnnounceOnce once(*this);
    ++m_operationNumber;
    setUpdatingTools(true);
    setUpdateMessage(QString());
    setUpdateStage(QStringLiteral("Iniciando…"));
    m_operation.log.clear();
    announce(logChange);
    setUpdateOutcome(ToolUpdateOutcome::none);
    const QDateTime now = m_clock();
    m_operation.startedAt = now;
    m_operation.finishedAt.reset();
    m_operation.lastActivityAt = now;
    announce(timesChange);
    setUpdateProcessID(std::nullopt);
    setUpdateNotice(notice);
    appendUpdateLog(title);
}

ToolUpdateEventHandler AppModel::toolEventHandler() {
    QPointer<AppModel> self(this);
    return [self](const ToolUpdateEvent &event) {
        if (self)
            self->deliverToolEvent(event);
    };
}

void AppModel::deliverToolEvent(const ToolUpdateEvent &event) {
    {
        // A tool printing as fast as it can reports thousands of lines between two turns of the
        // event loop: they are handled together, in order, and announced once.
        QMutexLocker locker(&m_pendingToolEventsLock);
        m_pendingToolEvents.append(event);
        if (std::exchange(m_toolEventsScheduled, true))
            return;
    }
    QMetaObject::invokeMethod(this, &AppModel::handlePendingToolEvents, Qt::QueuedConnection);
}

void AppModel::handlePendingToolEvents() {
    QList<ToolUpdateEvent> events;
    {
        QMutexLocker locker(&m_pendingToolEventsLock);
        events.swap(m_pendingToolEvents);
        m_toolEventsScheduled = false;
    }
    if (events.isEmpty())
        return;
    AnnounceOnce once(*this);
    const QDateTime now = m_clock();
    for (const ToolUpdateEvent &event : std::as_const(events))
        handleToolUpdateEvent(event, now);
}

void AppModel::handleToolUpdateEvent(const ToolUpdateEvent &event, const QDateTime &now) {
    switch (event.kind) {
    case ToolUpdateEvent::Kind::stage:
        setUpdateStage(event.text);
        break;
    case ToolUpdateEvent::Kind::command:
        break;
    case ToolUpdateEvent::Kind::output:
        m_operation.lastActivityAt = now;
        announce(timesChange);
        updateStageFromOutput(event.text);
        break;
    case ToolUpdateEvent::Kind::processStarted:
        setUpdateProcessID(event.value);
        m_operation.lastActivityAt = now;
        announce(timesChange);
        break;
    case ToolUpdateEvent::Kind::processFinished:
        setUpdateProcessID(std::nullopt);
        break;
    }
    if (const std::optional<QString> entry = ToolUpdateLog::entry(event))
        appendUpdateLog(*entry);
}

void AppModel::updateStageFromOutput(const QString &line) {
    const QString cleaned = ToolUpdateLog::cleaned(line);
    if (ToolUpdateLog::announcesBuildFromSource(cleaned))
        setUpdateNotice(buildFromSourceNotice);
    if (const std::optional<QString> step = ToolUpdateLog::homebrewStep(cleaned))
        setUpdateStage(*step);
}

template <typename T> QCoro::Task<std::optional<T>> AppModel::outcomeOf(QCoro::Task<T> &work) {
    QPointer<AppModel> self(this);
    std::optional<T> value;
    bool cancelled = false;
    QString failure;
    try {
        value = co_await work;
    } catch (const CancellationError &) {
        cancelled = true;
    } catch (const std::exception &error) {
        failure = describeError(error);
    }
    if (!self)
        co_return std::nullopt;
    // Whatever the operation reported comes before its end.
    handlePendingToolEvents();
    if (cancelled)
        finishCancelledToolOperation();
    else if (!value)
        finishFailedToolOperation(failure);
    co_return value;
}

QCoro::Task<> AppModel::finishSuccessfulToolOperation(QString message) {
    const quint64 operation = m_operationNumber;
    {
        AnnounceOnce once(*this);
        setUpdatingTools(false);
        setUpdateProcessID(std::nullopt);
    }
    QPointer<AppModel> self(this);
    co_await refreshDependencies();
    // Another operation may have begun while the tools were located again: its record is not
    // this one's to finish.
    if (!self || m_operationNumber != operation)
        co_return;
    AnnounceOnce once(*this);
    setUpdateStage(QStringLiteral("Operación completada"));
    setUpdateMessage(message);
    m_operation.finishedAt = m_clock();
    announce(timesChange);
    setUpdateOutcome(ToolUpdateOutcome::success);
    appendUpdateLog(message);
}

void AppModel::finishCancelledToolOperation() {
    AnnounceOnce once(*this);
    setUpdateMessage(cancelledMessage);
    setUpdateStage(QStringLiteral("Operación cancelada"));
    m_operation.finishedAt = m_clock();
    announce(timesChange);
    setUpdateProcessID(std::nullopt);
    setUpdateOutcome(ToolUpdateOutcome::cancelled);
    appendUpdateLog(cancelledMessage);
    setUpdatingTools(false);
}

void AppModel::finishFailedToolOperation(const QString &description) {
    AnnounceOnce once(*this);
    const QString firstLine = description.section(QLatin1Char('\n'), 0, 0).trimmed();
    setUpdateMessage(firstLine.isEmpty() ? QStringLiteral("No se pudo completar la operación.") : firstLine);
    setUpdateStage(QStringLiteral("La operación falló"));
    m_operation.finishedAt = m_clock();
    announce(timesChange);
    setUpdateProcessID(std::nullopt);
    setUpdateOutcome(ToolUpdateOutcome::failure);
    appendUpdateLog(QStringLiteral("ERROR: ") + description);
    setUpdatingTools(false);
}

QCoro::Task<> AppModel::updateTools(std::optional<ToolKind> only) {
    if (isUpdatingTools())
        co_return;
    const QString name = only ? displayName(*only) : QStringLiteral("herramientas");
    beginToolOperation(QStringLiteral("Iniciando actualización de ") + name + QStringLiteral("."),
                       homebrewIntelWarning(only));
    QPointer<AppModel> self(this);
    const std::shared_ptr<ToolUpdateService> service = m_toolUpdateService;
    const ToolUpdateEventHandler onEvent = toolEventHandler();
    QCoro::Task<QString> work = service->update(m_updateStatuses, m_ytDLP, m_ffmpeg, only, onEvent);
    const std::optional<QString> message = co_await outcomeOf(work);
    if (self && message)
        co_await finishSuccessfulToolOperation(*message);
}

QCoro::Task<> AppModel::installTool(ToolKind tool) {
    if (isUpdatingTools())
        co_return;
    beginToolOperation(
        QStringLiteral("Iniciando instalación administrada de ") + displayName(tool) + QStringLiteral("."), QString());
    QPointer<AppModel> self(this);
    const std::shared_ptr<ToolUpdateService> service = m_toolUpdateService;
    const ToolUpdateEventHandler onEvent = toolEventHandler();
    QCoro::Task<ToolUpdateService::ManagedInstallResult> work =
        tool == ToolKind::ytDLP ? service->installManagedYTDLP(onEvent) : service->installManagedFFmpeg(onEvent);
    const std::optional<ToolUpdateService::ManagedInstallResult> result = co_await outcomeOf(work);
    if (!self || !result)
        co_return;
    if (tool == ToolKind::ytDLP)
        m_settings.setYtDLPPath(result->path);
    else
        m_settings.setFfmpegPath(result->path);
    co_await finishSuccessfulToolOperation(result->message);
}

QCoro::Task<> AppModel::uninstallHomebrew(ToolKind tool) {
    if (isUpdatingTools() || !toolUsesHomebrew(tool))
        co_return;
    beginToolOperation(QStringLiteral("Iniciando desinstalación de la copia Homebrew de ") + displayName(tool) +
                           QStringLiteral("."),
                       QString());
    QPointer<AppModel> self(this);
    const std::shared_ptr<ToolUpdateService> service = m_toolUpdateService;
    const ToolUpdateEventHandler onEvent = toolEventHandler();
    QCoro::Task<QString> work = service->uninstallHomebrew(tool, located(tool)->installSource.brewPath, onEvent);
    const std::optional<QString> message = co_await outcomeOf(work);
    if (!self || !message)
        co_return;
    // The next search must not start from the removed copy.
    if (tool == ToolKind::ytDLP)
        m_settings.setYtDLPPath(QString());
    else
        m_settings.setFfmpegPath(QString());
    co_await finishSuccessfulToolOperation(*message);
    if (self)
        setPendingToolAction(PendingToolAction::install(tool));
}

QCoro::Task<> AppModel::rollBackTool(ToolKind tool) {
    if (isUpdatingTools() || !previousManagedVersion(tool))
        co_return;
    beginToolOperation(QStringLiteral("Iniciando la vuelta a la versión anterior de ") + displayName(tool) +
                           QStringLiteral("."),
                       QString());
    QPointer<AppModel> self(this);
    const std::shared_ptr<ToolUpdateService> service = m_toolUpdateService;
    const ToolUpdateEventHandler onEvent = toolEventHandler();
    QCoro::Task<QString> work = service->rollBack(tool, onEvent);
    const std::optional<QString> message = co_await outcomeOf(work);
    if (self && message)
        co_await finishSuccessfulToolOperation(*message);
}

std::optional<QString> AppModel::previousManagedVersion(ToolKind tool) const {
    const std::optional<ToolInfo> &info = located(tool);
    if (!info || info->installSource.kind != ToolInstallSource::Kind::managed || !m_previousVersions.contains(tool))
        return std::nullopt;
    return m_previousVersions.value(tool);
}

void AppModel::cancelToolOperation() {
    if (!isUpdatingTools())
        return;
    AnnounceOnce once(*this);
    handlePendingToolEvents();
    setUpdateStage(QStringLiteral("Cancelando…"));
    appendUpdateLog(QStringLiteral("Se solicitó cancelar el proceso."));
    m_toolUpdateService->cancel();
}
