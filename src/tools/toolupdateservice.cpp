#include "toolupdateservice.h"

#include "common/serviceaddress.h"
#include "process/lineaccumulator.h"
#include "process/processtree.h"
#include "toolupdateerror.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QLockFile>
#include <QProcessEnvironment>
#include <QTemporaryFile>
#include <QTimer>

namespace {

const QString curl = QStringLiteral("/usr/bin/curl");
// curl prints this line after each transfer: the status code and where a redirect points.
const QString responseMarker = QStringLiteral("__TORVEL_RESPONSE__");
// A line of output longer than this is cut before it is reported; messages keep this much of
// each stream's end.
constexpr qsizetype maxReportedLine = 8'000;
constexpr qsizetype maxMessageTail = 8'000;

void report(const ToolUpdateEventHandler *onEvent, const ToolUpdateEvent &event) {
    if (onEvent && *onEvent)
        (*onEvent)(event);
}

// The end of a long text, for messages: what a tool printed last says what went wrong.
QString tail(const QString &text) {
    return text.size() <= maxMessageTail ? text : QStringLiteral("…") + text.right(maxMessageTail);
}

// curl draws its progress bar with carriage returns on the stream that also carries its error,
// and writes the error right after the bar; a message shows curl's own error lines
// ("curl: (18) …"), or else the last line it printed.
QString curlFailure(const QString &standardError) {
    QStringList errors;
    QString last;
    const QStringList lines = LineAccumulator::splitLines(standardError);
    for (const QString &line : lines) {
        const qsizetype error = line.indexOf(QLatin1String("curl: "));
        if (error >= 0)
            errors.append(line.mid(error).trimmed());
        else if (!line.trimmed().isEmpty())
            last = line.trimmed();
    }
    return tail(errors.isEmpty() ? last : errors.join(QLatin1Char('\n')));
}

QString sizeText(qint64 bytes) {
    return QLocale(QLocale::Spanish).formattedDataSize(bytes, 1, QLocale::DataSizeSIFormat);
}

} // namespace

ToolUpdateService::OperationScope::OperationScope(ToolUpdateService &service) : m_service(service) {
    QMutexLocker locker(&m_service.m_processLock);
    if (m_service.m_operationDepth++ == 0)
        m_service.m_cancelled = std::make_shared<std::atomic_bool>(false);
}

ToolUpdateService::OperationScope::~OperationScope() {
    QMutexLocker locker(&m_service.m_processLock);
    --m_service.m_operationDepth;
}

ToolUpdateService::ToolUpdateService(ToolHosts hosts, DependencyLocator locator)
    : ToolUpdateService(std::move(hosts), std::move(locator), Limits()) {}

ToolUpdateService::ToolUpdateService(ToolHosts hosts, DependencyLocator locator, Limits limits)
    : m_hosts(std::move(hosts)), m_locator(std::move(locator)), m_limits(limits),
      m_ytDLPSignature(m_hosts.ytDLPSigningKey) {
    const QString folder = managedToolsFolder();
    if (!QFileInfo(folder).isDir())
        return;
    try {
        const std::unique_ptr<QLockFile> lock = lockManagedFolder(folder);
        recoverInterruptedWork(folder);
    } catch (const ToolUpdateError &) {
        // Another process is changing the folder: what lies there is its work.
    }
}

void ToolUpdateService::cancel() {
    qint32 pid = 0;
    {
        QMutexLocker locker(&m_processLock);
        if (m_operationDepth == 0)
            return;
        m_cancelled->store(true);
        pid = m_activeProcess;
    }
    ProcessTree::terminate(pid);
}

void ToolUpdateService::setActiveProcess(qint32 pid) {
    bool stopAtOnce = false;
    {
        QMutexLocker locker(&m_processLock);
        m_activeProcess = pid;
        stopAtOnce = m_operationDepth > 0 && m_cancelled->load();
    }
    // A cancel that arrived while the command was being started.
    if (stopAtOnce)
        ProcessTree::terminate(pid);
}

void ToolUpdateService::clearActiveProcess(qint32 pid) {
    QMutexLocker locker(&m_processLock);
    // Only the run that holds the slot gives it up.
    if (m_activeProcess == pid)
        m_activeProcess = 0;
}

bool ToolUpdateService::isCancelRequested() const {
    QMutexLocker locker(&m_processLock);
    return m_operationDepth > 0 && m_cancelled->load();
}

void ToolUpdateService::throwIfCancelled() const {
    if (isCancelRequested())
        throw CancellationError();
}

std::shared_ptr<std::atomic_bool> ToolUpdateService::cancelFlag() const {
    QMutexLocker locker(&m_processLock);
    return m_operationDepth > 0 ? m_cancelled : std::make_shared<std::atomic_bool>(false);
}

ProcessEnvironment ToolUpdateService::homebrewEnvironment(bool noAutoUpdate) {
    ProcessEnvironment environment;
    const QProcessEnvironment system = QProcessEnvironment::systemEnvironment();
    const QStringList keys = system.keys();
    for (const QString &key : keys)
        environment.insert(key, system.value(key));
    environment.insert(QStringLiteral("HOMEBREW_COLOR"), QStringLiteral("0"));
    environment.insert(QStringLiteral("HOMEBREW_NO_ENV_HINTS"), QStringLiteral("1"));
    if (noAutoUpdate)
        environment.insert(QStringLiteral("HOMEBREW_NO_AUTO_UPDATE"), QStringLiteral("1"));
    return environment;
}

QCoro::Task<ToolUpdateService::RunOutcome> ToolUpdateService::execute(Run run) {
    // An auxiliary query (the version check, a Homebrew refresh) belongs to no operation: the
    // operation's cancel neither stops nor ends it.
    if (run.cancellable)
        throwIfCancelled();
    RunOutcome outcome;
    qint32 pid = 0;
    QTimer limitTimer;
    limitTimer.setSingleShot(true);
    QTimer sizeTimer;
    const auto stop = [&](RunOutcome::Stop reason) {
        if (outcome.stop != RunOutcome::Stop::none)
            return;
        outcome.stop = reason;
        ProcessTree::terminate(pid);
    };
    QObject::connect(&limitTimer, &QTimer::timeout, [&] { stop(RunOutcome::Stop::timeLimit); });
    QObject::connect(&sizeTimer, &QTimer::timeout, [&] {
        if (QFileInfo(run.watchedFile).size() > run.maxFileBytes)
            stop(RunOutcome::Stop::fileSize);
    });

    const ProcessCallback onProcess = [&](const ProcessHandle &handle) {
        pid = qint32(handle.processID());
        if (run.cancellable)
            setActiveProcess(pid);
        if (run.limit.count() > 0)
            limitTimer.start(run.limit);
        if (!run.watchedFile.isEmpty())
            sizeTimer.start(100);
        report(run.onEvent, ToolUpdateEvent::processStarted(pid));
    };
    qint64 printed = 0;
    const LineCallback onLine = [&](const QString &line) {
        printed += line.size();
        if (printed > m_limits.maxOutputCharacters)
            stop(RunOutcome::Stop::outputSize);
        if (outcome.stop != RunOutcome::Stop::none ||
            (!run.withheldPrefix.isEmpty() && line.startsWith(run.withheldPrefix)))
            return;
        report(run.onEvent, ToolUpdateEvent::output(line.size() <= maxReportedLine
                                                        ? line
                                                        : line.left(maxReportedLine) + QStringLiteral("…")));
    };

    // Whatever way the command ends, it is no longer the one cancel() would stop.
    struct ActiveProcessReset {
        ToolUpdateService *service;
        const qint32 &pid;
        bool active;
        ~ActiveProcessReset() {
            if (active)
                service->clearActiveProcess(pid);
        }
    } reset{this, pid, run.cancellable};

    outcome.result = co_await ProcessRunner::run(run.executable, run.arguments, run.environment, onProcess, onLine);
    limitTimer.stop();
    sizeTimer.stop();
    report(run.onEvent, ToolUpdateEvent::processFinished(outcome.result.status));
    if (run.cancellable)
        throwIfCancelled();
    if (outcome.stop == RunOutcome::Stop::outputSize)
        throw ToolUpdateError::commandFailed(
            QStringLiteral("El comando se detuvo porque escribió demasiada salida (más de ") +
            QLocale(QLocale::Spanish).toString(m_limits.maxOutputCharacters) + QStringLiteral(" caracteres)."));
    co_return outcome;
}

QCoro::Task<> ToolUpdateService::runUpdate(QString executable, QStringList arguments, ToolUpdateEventHandler onEvent) {
    QStringList shown{executable};
    // A proxy's user and password are not shown.
    for (const QString &argument : arguments)
        shown.append(NetworkOptions::maskedAddress(argument));
    report(&onEvent, ToolUpdateEvent::command(shown.join(QLatin1Char(' '))));

    Run run;
    run.executable = executable;
    run.arguments = arguments;
    run.environment = homebrewEnvironment();
    run.onEvent = &onEvent;
    const RunOutcome outcome = co_await execute(run);
    const qint32 status = outcome.result.status;
    if (status == 0)
        co_return;
    if (status == 15 || status == 9)
        throw CancellationError();

    QStringList details;
    for (const QByteArray &stream : {outcome.result.standardError, outcome.result.standardOutput}) {
        // Only the end is shown: decoding megabytes to keep the last lines would stall the window.
        const QString text = QString::fromUtf8(stream.right(4 * maxMessageTail + 4));
        if (!text.trimmed().isEmpty())
            details.append(tail(text));
    }
    const QString detail = details.isEmpty() ? QStringLiteral("La herramienta no proporcionó más detalles.")
                                             : details.join(QLatin1Char('\n'));
    throw ToolUpdateError::commandFailed(QStringLiteral("El comando terminó con el código ") + QString::number(status) +
                                         QStringLiteral(".\n") + detail);
}

QCoro::Task<QUrl> ToolUpdateService::downloadAsset(QUrl address, QString destination, ToolUpdateEventHandler onEvent) {
    report(&onEvent, ToolUpdateEvent::command(curl + QStringLiteral(" --location ") + address.toString()));
    Transfer download;
    download.address = address;
    download.file = destination;
    download.maxBytes = m_limits.maxAssetBytes;
    download.onEvent = &onEvent;
    co_return co_await transfer(download);
}

QCoro::Task<QByteArray> ToolUpdateService::curlJSON(QUrl address) {
    // The version check runs its two lookups side by side and is not an operation the user
    // waits on, so its fetches do not take the one cancellable slot.
    return fetchIntoMemory(address, m_limits.catalogFetch, false);
}

QCoro::Task<QByteArray> ToolUpdateService::downloadData(QUrl address) {
    return fetchIntoMemory(address, m_limits.dataFetch, true);
}

QCoro::Task<QByteArray> ToolUpdateService::fetchIntoMemory(QUrl address, std::chrono::seconds maxTime,
                                                           bool cancellable) {
    // Into a private file rather than a pipe, so that its size can be watched and bounded.
    QTemporaryFile file(QDir::tempPath() + QStringLiteral("/torvel-fetch-XXXXXX"));
    if (!file.open())
        throw PlatformError(file.errorString());
    file.close();
    Transfer fetch;
    fetch.address = address;
    fetch.file = file.fileName();
    fetch.maxTime = maxTime;
    fetch.maxBytes = m_limits.maxDocumentBytes;
    fetch.cancellable = cancellable;
    co_await transfer(fetch);
    QFile body(file.fileName());
    if (!body.open(QIODevice::ReadOnly))
        throw PlatformError(body.errorString());
    co_return body.read(m_limits.maxDocumentBytes);
}

QCoro::Task<QUrl> ToolUpdateService::transfer(Transfer transfer) {
    // Redirects are followed here, one hop per curl run, so that every address is checked
    // before it is contacted: https anywhere, http only on this machine.
    QUrl current = transfer.address;
    QElapsedTimer clock;
    clock.start();
    const QString tooLarge = QStringLiteral("La descarga de ") + transfer.address.toString() +
                             QStringLiteral(" supera el tamaño máximo permitido (") + sizeText(transfer.maxBytes) +
                             QStringLiteral(").");
    for (int hop = 0;; ++hop) {
        if (!ServiceAddress::isAcceptable(current))
            throw ToolUpdateError::commandFailed(QStringLiteral("Se rechazó la dirección ") + current.toString() +
                                                 QStringLiteral(": solo se admiten direcciones https."));
        QStringList arguments{QStringLiteral("--fail"),
                              QStringLiteral("--show-error"),
                              transfer.onEvent ? QStringLiteral("--progress-bar") : QStringLiteral("--silent"),
                              QStringLiteral("--proto"),
                              QStringLiteral("=http,https"),
                              QStringLiteral("--connect-timeout"),
                              QString::number(m_limits.connect.count()),
                              QStringLiteral("--max-filesize"),
                              QString::number(transfer.maxBytes)};
        if (m_proxy.kind == NetworkOptions::Proxy::Kind::address)
            arguments << QStringLiteral("--proxy") << m_proxy.address;
        else if (m_proxy.kind == NetworkOptions::Proxy::Kind::none)
            arguments << QStringLiteral("--noproxy") << QStringLiteral("*");
        if (transfer.maxTime.count() > 0) {
            const qint64 remaining = transfer.maxTime.count() - clock.elapsed() / 1000;
            arguments << QStringLiteral("--max-time") << QString::number(std::max<qint64>(1, remaining));
        } else {
            arguments << QStringLiteral("--speed-limit") << QStringLiteral("1") << QStringLiteral("--speed-time")
                      << QString::number(m_limits.stalledTransfer.count());
        }
        arguments << QStringLiteral("--output") << transfer.file << QStringLiteral("--write-out")
                  << QLatin1Char('\n') + responseMarker + QStringLiteral("%{http_code} %{redirect_url}\n")
                  << current.toString(QUrl::FullyEncoded);

        Run run;
        run.executable = curl;
        run.arguments = arguments;
        run.onEvent = transfer.onEvent;
        run.cancellable = transfer.cancellable;
        run.withheldPrefix = responseMarker;
        run.watchedFile = transfer.file;
        run.maxFileBytes = transfer.maxBytes;
        const RunOutcome outcome = co_await execute(run);
        const qint32 status = outcome.result.status;
        if (outcome.stop == RunOutcome::Stop::fileSize || status == 63)
            throw ToolUpdateError::commandFailed(tooLarge);
        if ((status == 15 || status == 9) && transfer.onEvent)
            throw CancellationError();
        if (status != 0) {
            throw ToolUpdateError::transferFailed(status, current.host(),
                                                  curlFailure(QString::fromUtf8(outcome.result.standardError)));
        }

        QString response;
        const QStringList lines = QString::fromUtf8(outcome.result.standardOutput).split(QLatin1Char('\n'));
        for (const QString &line : lines)
            if (line.startsWith(responseMarker))
                response = line.mid(responseMarker.size());
        const int code = response.section(QLatin1Char(' '), 0, 0).toInt();
        const QString location = response.section(QLatin1Char(' '), 1).trimmed();
        if (code >= 200 && code < 300)
            co_return current;
        if (code >= 300 && code < 400 && !location.isEmpty()) {
            if (hop >= m_limits.maxRedirects)
                throw ToolUpdateError::commandFailed(QStringLiteral("Demasiadas redirecciones al descargar ") +
                                                     transfer.address.toString() + QStringLiteral("."));
            current = QUrl(location, QUrl::StrictMode);
            continue;
        }
        throw ToolUpdateError::commandFailed(QStringLiteral("El servidor respondió con el código ") +
                                             QString::number(code) + QStringLiteral(" a ") + current.toString() +
                                             QStringLiteral("."));
    }
}
