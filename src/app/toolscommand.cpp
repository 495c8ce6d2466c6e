#include "toolscommand.h"

#include "console.h"
#include "interruptwatcher.h"
#include "model/appsettings.h"
#include "tools/toolupdatelog.h"
#include "tools/toolupdateservice.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>

namespace ToolsCommand {

namespace {

using Console::err;
using Console::out;

const QString cancelledMessage = QStringLiteral(
    "La operación fue cancelada. Las herramientas que ya hubieran terminado de instalarse se conservaron.");

int usage() {
    err() << "Uso:\n"
          << "  torvel-downloader tools [--json]\n"
          << "  torvel-downloader tools install yt-dlp|ffmpeg\n"
          << "  torvel-downloader tools update [yt-dlp|ffmpeg]\n"
          << "  torvel-downloader tools remove-homebrew yt-dlp|ffmpeg\n"
          << "  torvel-downloader tools rollback yt-dlp|ffmpeg\n";
    err().flush();
    return 2;
}

std::optional<ToolKind> toolNamed(const QString &name) {
    if (name.compare(QLatin1String("yt-dlp"), Qt::CaseInsensitive) == 0)
        return ToolKind::ytDLP;
    if (name.compare(QLatin1String("ffmpeg"), Qt::CaseInsensitive) == 0)
        return ToolKind::ffmpeg;
    return std::nullopt;
}

QString displayName(ToolKind tool) {
    return ToolUpdateStatus::rawValue(ToolUpdateStatus::of(tool));
}

// One line of the live log, in the form the options window shows it.
void logLine(const QString &text) {
    const QString line = ToolUpdateLog::cleaned(text);
    if (line.isEmpty())
        return;
    err() << line << '\n';
    err().flush();
}

void logEvent(const ToolUpdateEvent &event) {
    if (const std::optional<QString> entry = ToolUpdateLog::entry(event))
        logLine(*entry);
}

struct Located {
    std::optional<ToolInfo> ytDLP;
    std::optional<ToolInfo> ffmpeg;

    const std::optional<ToolInfo> &of(ToolKind tool) const { return tool == ToolKind::ytDLP ? ytDLP : ffmpeg; }
};

// The same search the application makes, starting from the configured paths; both searches
// run side by side.
QCoro::Task<Located> locate(const DependencyLocator &locator, const AppSettings &settings) {
    auto ytDLPSearch = locator.locateYT_DLP(settings.ytDLPPath());
    auto ffmpegSearch = locator.locateFFmpeg(settings.ffmpegPath());
    Located located;
    located.ytDLP = co_await ytDLPSearch;
    located.ffmpeg = co_await ffmpegSearch;
    co_return located;
}

std::optional<ToolUpdateStatus> statusOf(const QList<ToolUpdateStatus> &statuses, ToolKind tool) {
    for (const ToolUpdateStatus &status : statuses)
        if (status.tool == ToolUpdateStatus::of(tool))
            return status;
    return std::nullopt;
}

QJsonValue toolJSON(const std::optional<ToolInfo> &info, const std::optional<ToolUpdateStatus> &status) {
    if (!info)
        return QJsonValue::Null;
    return QJsonObject{{QStringLiteral("path"), info->path},
                       {QStringLiteral("source"), info->installSource.displayLabel()},
                       {QStringLiteral("installedVersion"), info->version},
                       {QStringLiteral("latestVersion"), status ? QJsonValue(status->latestVersion) : QJsonValue()},
                       {QStringLiteral("updateAvailable"), status && status->updateAvailable}};
}

void printTool(ToolKind tool, const std::optional<ToolInfo> &info, const std::optional<ToolUpdateStatus> &status) {
    out() << displayName(tool) << ": ";
    if (!info) {
        out() << "no encontrado\n";
        return;
    }
    out() << info->path << '\n'
          << "  Origen: " << info->installSource.displayLabel() << '\n'
          << "  Versión instalada: " << info->version << '\n'
          << "  Versión publicada: " << (status ? status->latestVersion : QStringLiteral("desconocida")) << '\n'
          << "  Actualización disponible: " << (status && status->updateAvailable ? "sí" : "no") << '\n';
}

QCoro::Task<int> status(bool json, ToolHosts hosts) {
    QSettings store;
    const AppSettings settings(&store);
    ToolUpdateService service(hosts);
    service.setProxy(settings.proxy());
    const Located located = co_await locate(service.locator(), settings);
    const QList<ToolUpdateStatus> statuses = co_await service.check(located.ytDLP, located.ffmpeg);
    const QStringList runtime = service.locator().locateJavaScriptRuntimeArguments();
    const auto ytDLPStatus = statusOf(statuses, ToolKind::ytDLP);
    const auto ffmpegStatus = statusOf(statuses, ToolKind::ffmpeg);
    if (json) {
        const QJsonObject report{
            {QStringLiteral("yt-dlp"), toolJSON(located.ytDLP, ytDLPStatus)},
            {QStringLiteral("FFmpeg"), toolJSON(located.ffmpeg, ffmpegStatus)},
            {QStringLiteral("javaScriptRuntime"),
             runtime.isEmpty() ? QJsonValue() : QJsonValue(QJsonArray::fromStringList(runtime))},
        };
        out() << QString::fromUtf8(QJsonDocument(report).toJson(QJsonDocument::Indented));
    } else {
        printTool(ToolKind::ytDLP, located.ytDLP, ytDLPStatus);
        printTool(ToolKind::ffmpeg, located.ffmpeg, ffmpegStatus);
        out() << "Entorno JavaScript para yt-dlp: "
              << (runtime.isEmpty() ? QStringLiteral("ninguno") : runtime.join(QLatin1Char(' '))) << '\n';
        if (statuses.isEmpty() && (located.ytDLP || located.ffmpeg))
            out() << "No se pudo consultar el catálogo de versiones.\n";
    }
    out().flush();
    co_return 0;
}

// Why an update cannot go on: a tool asked for is not installed, or the catalogs gave no
// version for it. Without a name every installed tool is asked for.
std::optional<QString> uncheckedTools(const Located &located, const QList<ToolUpdateStatus> &statuses,
                                      std::optional<ToolKind> only) {
    QList<ToolKind> asked;
    for (const ToolKind tool : {ToolKind::ytDLP, ToolKind::ffmpeg}) {
        if (only && *only != tool)
            continue;
        if (!located.of(tool)) {
            if (only)
                return displayName(tool) + QStringLiteral(" no está instalado.");
            continue;
        }
        asked.append(tool);
    }
    if (asked.isEmpty())
        return QStringLiteral("No se encontró yt-dlp ni FFmpeg.");
    for (const ToolKind tool : asked)
        if (!statusOf(statuses, tool))
            return QStringLiteral("No se pudo consultar el catálogo de versiones.");
    return std::nullopt;
}

enum class Action { install, update, removeHomebrew, rollBack };

// Runs one operation with Ctrl-C wired to cancel(), the log on standard error and the outcome
// as the exit status.
QCoro::Task<int> operation(Action action, std::optional<ToolKind> tool, ToolHosts hosts) {
    QSettings store;
    AppSettings settings(&store);
    ToolUpdateService service(hosts);
    service.setProxy(settings.proxy());
    bool interrupted = false;
    InterruptWatcher interrupts;
    QObject::connect(&interrupts, &InterruptWatcher::interrupted, [&] {
        interrupted = true;
        service.cancel();
    });
    const ToolUpdateEventHandler onEvent = logEvent;
    const QString toolName = tool ? displayName(*tool) : QStringLiteral("herramientas");

    try {
        QString message;
        if (action == Action::install) {
            logLine(QStringLiteral("Iniciando instalación administrada de ") + toolName + QStringLiteral("."));
            // The application uses the new copy from now on, as it does after an install in
            // the options window.
            if (*tool == ToolKind::ytDLP) {
                const ToolUpdateService::ManagedInstallResult result = co_await service.installManagedYTDLP(onEvent);
                settings.setYtDLPPath(result.path);
                message = result.message;
            } else {
                const ToolUpdateService::ManagedInstallResult result = co_await service.installManagedFFmpeg(onEvent);
                settings.setFfmpegPath(result.path);
                message = result.message;
            }
        } else if (action == Action::rollBack) {
            logLine(QStringLiteral("Iniciando la vuelta a la versión anterior de ") + toolName + QStringLiteral("."));
            message = co_await service.rollBack(*tool, onEvent);
            // The restored copy is the managed one: the application uses it from now on, and
            // says so when another copy was chosen before.
            const bool ytDLP = *tool == ToolKind::ytDLP;
            const QString before = ytDLP ? settings.ytDLPPath() : settings.ffmpegPath();
            const QString managed =
                ytDLP ? service.locator().managedYTDLPPath() : service.locator().managedFFmpegPath();
            ytDLP ? settings.setYtDLPPath(managed) : settings.setFfmpegPath(managed);
            if (before != managed)
                message += QStringLiteral("\nTorvel Downloader usa ahora ") + managed +
                           (before.isEmpty() ? QString() : QStringLiteral(" en lugar de ") + before) + QLatin1Char('.');
        } else {
            // Locating and the version check cannot be cancelled; Ctrl-C during them ends the
            // command before the operation starts.
            const Located located = co_await locate(service.locator(), settings);
            if (interrupted)
                throw CancellationError();
            if (action == Action::update) {
                logLine(QStringLiteral("Iniciando actualización de ") + toolName + QStringLiteral("."));
                const QList<ToolUpdateStatus> statuses = co_await service.check(located.ytDLP, located.ffmpeg);
                if (interrupted)
                    throw CancellationError();
                // Nothing checked is nothing known: never "ya están actualizadas".
                if (const std::optional<QString> problem = uncheckedTools(located, statuses, tool)) {
                    err() << *problem << '\n';
                    err().flush();
                    co_return 1;
                }
                message = co_await service.update(statuses, located.ytDLP, located.ffmpeg, tool, onEvent);
            } else {
                const std::optional<ToolInfo> &info = located.of(*tool);
                if (!info || info->installSource.kind != ToolInstallSource::Kind::homebrew) {
                    err() << "La copia de " << toolName << " no está instalada con Homebrew.\n";
                    err().flush();
                    co_return 1;
                }
                logLine(QStringLiteral("Iniciando desinstalación de la copia Homebrew de ") + toolName +
                        QStringLiteral("."));
                message = co_await service.uninstallHomebrew(*tool, info->installSource.brewPath, onEvent);
                if (*tool == ToolKind::ytDLP)
                    settings.setYtDLPPath(QString());
                else
                    settings.setFfmpegPath(QString());
            }
        }
        out() << message << '\n';
        out().flush();
        co_return 0;
    } catch (const CancellationError &) {
        out() << cancelledMessage << '\n';
        out().flush();
        co_return 130;
    } catch (const std::exception &error) {
        const QString description = describeError(error);
        err() << (description.isEmpty() ? QStringLiteral("No se pudo completar la operación.") : description) << '\n';
        err().flush();
        co_return 1;
    }
}

} // namespace

QCoro::Task<int> run(QStringList arguments, ToolHosts hosts) {
    const QString action = arguments.value(0);
    if (arguments.isEmpty() || arguments == QStringList{QStringLiteral("--json")})
        co_return co_await status(!arguments.isEmpty(), hosts);
    const std::optional<ToolKind> tool = toolNamed(arguments.value(1));
    if (arguments.size() > 2 || (arguments.size() == 2 && !tool))
        co_return usage();
    if (action == QLatin1String("install") && tool)
        co_return co_await operation(Action::install, tool, hosts);
    if (action == QLatin1String("update"))
        co_return co_await operation(Action::update, tool, hosts);
    if (action == QLatin1String("remove-homebrew") && tool)
        co_return co_await operation(Action::removeHomebrew, tool, hosts);
    if (action == QLatin1String("rollback") && tool)
        co_return co_await operation(Action::rollBack, tool, hosts);
    co_return usage();
}

} // namespace ToolsCommand
