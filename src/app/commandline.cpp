#include "commandline.h"

#include "console.h"
#include "interruptwatcher.h"
#include "media/ytdlpservice.h"
#include "model/appsettings.h"
#include "model/weburl.h"
#include "platform/platformpaths.h"
#include "selfupdatecommand.h"
#include "tools/dependencylocator.h"
#include "toolscommand.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>

#include <unistd.h>

namespace {

using Console::err;
using Console::out;

QJsonValue toolJSON(const std::optional<ToolInfo> &tool) {
    if (!tool)
        return QJsonValue::Null;
    return QJsonObject{{QStringLiteral("path"), tool->path},
                       {QStringLiteral("version"), tool->version},
                       {QStringLiteral("installSource"), tool->installSource.displayLabel()}};
}

void printTool(const QString &name, const std::optional<ToolInfo> &tool) {
    if (!tool) {
        out() << name << ": no encontrado\n";
        return;
    }
    out() << name << ": " << tool->path << '\n'
          << "  Versión: " << tool->version << '\n'
          << "  Origen: " << tool->installSource.displayLabel() << '\n';
}

struct LocatedTools {
    std::optional<ToolInfo> ytDLP;
    std::optional<ToolInfo> ffmpeg;
};

// Both searches start before either is awaited, so they run side by side. Analysis needs no
// FFmpeg, so it does not search for one.
QCoro::Task<LocatedTools> locateTools(const AppSettings &settings, bool withFFmpeg = true) {
    const DependencyLocator locator;
    auto ytDLPSearch = locator.locateYT_DLP(settings.ytDLPPath());
    LocatedTools tools;
    if (withFFmpeg) {
        auto ffmpegSearch = locator.locateFFmpeg(settings.ffmpegPath());
        tools.ffmpeg = co_await ffmpegSearch;
    }
    tools.ytDLP = co_await ytDLPSearch;
    co_return tools;
}

QCoro::Task<int> doctor(bool json) {
    // The same search the application makes, starting from the configured paths.
    QSettings store;
    const AppSettings settings(&store);
    const LocatedTools tools = co_await locateTools(settings);
    const std::optional<ToolInfo> &ytDLP = tools.ytDLP;
    const std::optional<ToolInfo> &ffmpeg = tools.ffmpeg;
    const QStringList runtimeArguments = DependencyLocator().locateJavaScriptRuntimeArguments();

    if (json) {
        const QJsonObject report{
            {QStringLiteral("ytDLP"), toolJSON(ytDLP)},
            {QStringLiteral("ffmpeg"), toolJSON(ffmpeg)},
            {QStringLiteral("javaScriptRuntimeArguments"), QJsonArray::fromStringList(runtimeArguments)},
            {QStringLiteral("managedToolsFolder"), PlatformPaths::managedToolsFolder()},
            {QStringLiteral("jobsRoot"), PlatformPaths::jobsRoot()},
            {QStringLiteral("settingsFile"), PlatformPaths::settingsFile()},
        };
        out() << QString::fromUtf8(QJsonDocument(report).toJson(QJsonDocument::Indented));
        out().flush();
        co_return 0;
    }

    printTool(QStringLiteral("yt-dlp"), ytDLP);
    printTool(QStringLiteral("FFmpeg"), ffmpeg);
    out() << "Entorno JavaScript para yt-dlp: "
          << (runtimeArguments.isEmpty() ? QStringLiteral("ninguno") : runtimeArguments.join(QLatin1Char(' '))) << '\n'
          << "Carpeta de herramientas administradas: " << PlatformPaths::managedToolsFolder() << '\n'
          << "Carpeta de trabajos de descarga: " << PlatformPaths::jobsRoot() << '\n'
          << "Archivo de ajustes: " << PlatformPaths::settingsFile() << '\n';
    out().flush();
    co_return 0;
}

void printUsage() {
    err() << "Uso:\n"
          << "  torvel-downloader doctor [--json]\n"
          << "  torvel-downloader analyze URL [--json]\n"
          << "  torvel-downloader download URL [--choice ID] [--audio-format m4a|mp3] [--audio FORMAT_ID] [--to "
             "CARPETA]\n"
          << "  torvel-downloader tools [--json] | install yt-dlp|ffmpeg | update [yt-dlp|ffmpeg] | remove-homebrew "
             "yt-dlp|ffmpeg | rollback yt-dlp|ffmpeg\n";
    err().flush();
}

int fail(const QString &message) {
    err() << message << '\n';
    err().flush();
    return 1;
}

// A command line that cannot be understood: the usage, the problem, status 2.
int usageError(const QString &problem) {
    printUsage();
    err() << problem << '\n';
    err().flush();
    return 2;
}

int cancelled(const QString &message) {
    err() << message << '\n';
    err().flush();
    return 130;
}

// Ctrl-C, from the start of a command: it stops whatever yt-dlp the service runs, and the flag
// stops the command between two runs (during the tool search, before the download starts).
class Interruption {
public:
    explicit Interruption(YTDLPService &service) {
        QObject::connect(&m_watcher, &InterruptWatcher::interrupted, [this, &service] {
            m_requested = true;
            service.cancel();
        });
    }
    bool requested() const { return m_requested; }

private:
    InterruptWatcher m_watcher;
    bool m_requested = false;
};

// Options after the subcommand: the address first, then "--name value" pairs.
struct Options {
    QString url;
    QHash<QString, QString> values;
    QStringList flags;
    QString problem;
};

Options parseOptions(const QStringList &arguments, const QStringList &withValue, const QStringList &flags) {
    Options options;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (withValue.contains(argument)) {
            if (i + 1 >= arguments.size()) {
                options.problem = QStringLiteral("Falta el valor de %1.").arg(argument);
                return options;
            }
            options.values.insert(argument, arguments.at(++i));
        } else if (flags.contains(argument)) {
            options.flags.append(argument);
        } else if (options.url.isNull() && (!argument.startsWith(QLatin1String("--")) || argument.size() == 2)) {
            // "--" alone is not an option name, and an address may itself begin with "-".
            options.url = argument == QLatin1String("--") && i + 1 < arguments.size() ? arguments.at(++i) : argument;
        } else {
            options.problem = QStringLiteral("Opción desconocida: %1").arg(argument);
            return options;
        }
    }
    if (options.url.isNull())
        options.problem = QStringLiteral("Falta la URL.");
    return options;
}

QJsonObject choiceJSON(const DownloadChoice &choice) {
    return {{QStringLiteral("id"), choice.id},
            {QStringLiteral("title"), choice.title},
            {QStringLiteral("subtitle"), choice.subtitle},
            {QStringLiteral("icon"), choice.icon},
            {QStringLiteral("formatSelector"), choice.formatSelector},
            {QStringLiteral("extraArguments"), QJsonArray::fromStringList(choice.extraArguments)}};
}

QJsonValue optionalJSON(const std::optional<QString> &value) {
    return value ? QJsonValue(*value) : QJsonValue::Null;
}

void printAnalysis(const ChoiceSelection &selection, bool json) {
    const MediaInfo &media = *selection.mediaInfo;
    const QString durationText = media.duration ? torvelDuration(*media.duration) : QStringLiteral("—");
    if (json) {
        QJsonArray standard, exact, audioOnly, formats;
        for (const DownloadChoice &choice : selection.standardChoices())
            standard.append(choiceJSON(choice));
        for (const DownloadChoice &choice : selection.exactChoices())
            exact.append(choiceJSON(choice));
        for (const MediaFormat &format : selection.audioOnlyFormats())
            audioOnly.append(format.formatID);
        for (const MediaFormat &format : media.formats) {
            formats.append(QJsonObject{{QStringLiteral("formatID"), format.formatID},
                                       {QStringLiteral("qualityLabel"), format.qualityLabel()},
                                       {QStringLiteral("resolutionDetail"), format.resolutionDetail()},
                                       {QStringLiteral("detailLabel"), format.detailLabel()},
                                       {QStringLiteral("videoCodecLabel"), optionalJSON(format.videoCodecLabel())},
                                       {QStringLiteral("audioCodecLabel"), optionalJSON(format.audioCodecLabel())},
                                       {QStringLiteral("hasVideo"), format.hasVideo()},
                                       {QStringLiteral("hasAudio"), format.hasAudio()}});
        }
        const QJsonObject report{
            {QStringLiteral("id"), media.id},
            {QStringLiteral("title"), media.title},
            {QStringLiteral("uploader"), optionalJSON(media.uploader)},
            {QStringLiteral("duration"), media.duration ? QJsonValue(*media.duration) : QJsonValue::Null},
            {QStringLiteral("durationText"), durationText},
            {QStringLiteral("thumbnail"), optionalJSON(media.thumbnail)},
            {QStringLiteral("webpageURL"), optionalJSON(media.webpageURL)},
            {QStringLiteral("standardChoices"), standard},
            {QStringLiteral("exactChoices"), exact},
            {QStringLiteral("audioOnlyFormats"), audioOnly},
            {QStringLiteral("formats"), formats},
        };
        out() << QString::fromUtf8(QJsonDocument(report).toJson(QJsonDocument::Indented));
        out().flush();
        return;
    }
    out() << "Título: " << media.title << '\n'
          << "Autor: " << media.uploader.value_or(QStringLiteral("—")) << '\n'
          << "Duración: " << durationText << '\n'
          << "\nFormas de descarga:\n";
    for (const DownloadChoice &choice : selection.standardChoices())
        out() << "  " << choice.id << "  " << choice.title << " · " << choice.subtitle << '\n';
    out() << "\nFormatos exactos:\n";
    for (const MediaFormat &format : selection.exactFormats())
        out() << "  format-" << format.formatID << "  " << format.qualityLabel() << " · " << format.detailLabel()
              << '\n';
    out() << "\nPistas de solo audio:";
    for (const MediaFormat &format : selection.audioOnlyFormats())
        out() << ' ' << format.formatID;
    out() << '\n';
    out().flush();
}

const QString invalidURL = QStringLiteral("Introduce una URL válida que comience con http:// o https://.");
const QString missingYTDLP =
    QStringLiteral("No encontramos yt-dlp. Abre Opciones para seleccionar el ejecutable o instalarlo.");

// Analyzes the address with the located yt-dlp; fills `selection` or returns an exit status.
QCoro::Task<std::optional<int>> analyzeInto(QUrl url, YTDLPService &service, const ToolInfo &ytDLP,
                                            ChoiceSelection &selection, QString cancelMessage) {
    service.rememberVersion(ytDLP.path, ytDLP.version);
    try {
        selection.mediaInfo = co_await service.analyze(url, ytDLP.path);
    } catch (const CancellationError &) {
        co_return cancelled(cancelMessage);
    } catch (const TorvelError &error) {
        co_return fail(error.errorDescription());
    }
    const QList<MediaFormat> audioOnly = selection.audioOnlyFormats();
    selection.selectedChoiceID = QStringLiteral("recommended");
    selection.selectedAudioFormatID =
        audioOnly.isEmpty() ? std::nullopt : std::optional<QString>(audioOnly.first().formatID);
    co_return std::nullopt;
}

QCoro::Task<int> analyzeCommand(QStringList arguments) {
    const Options options = parseOptions(arguments, {}, {QStringLiteral("--json")});
    if (!options.problem.isEmpty())
        co_return usageError(options.problem);
    const std::optional<QUrl> url = WebURL::validatedWebURL(options.url);
    if (!url)
        co_return fail(invalidURL);
    YTDLPService service;
    const Interruption interruption(service);
    const QString cancelMessage = QStringLiteral("Análisis cancelado.");

    QSettings store;
    const AppSettings settings(&store);
    const LocatedTools tools = co_await locateTools(settings, false);
    if (interruption.requested())
        co_return cancelled(cancelMessage);
    if (!tools.ytDLP)
        co_return fail(missingYTDLP);
    ChoiceSelection selection;
    if (const auto status = co_await analyzeInto(*url, service, *tools.ytDLP, selection, cancelMessage))
        co_return *status;
    printAnalysis(selection, options.flags.contains(QStringLiteral("--json")));
    co_return 0;
}

// One line on standard error: redrawn in place on a terminal, one line per change otherwise.
class ProgressLine {
public:
    void show(const DownloadProgress &progress) {
        QStringList parts{progress.phaseText, QStringLiteral("%1 %").arg(static_cast<int>(progress.fraction * 100))};
        for (const QString &text : {progress.statusText, progress.speedText, progress.etaText}) {
            if (!text.isEmpty())
                parts.append(text);
        }
        const QString line = parts.join(QStringLiteral(" · "));
        if (line == m_last)
            return;
        m_last = line;
        if (m_terminal)
            err() << '\r' << line << "\x1b[K";
        else
            err() << line << '\n';
        err().flush();
    }
    void finish() {
        if (m_terminal && !m_last.isEmpty()) {
            err() << '\n';
            err().flush();
        }
    }

private:
    bool m_terminal = ::isatty(STDERR_FILENO) == 1;
    QString m_last;
};

QCoro::Task<int> downloadCommand(QStringList arguments) {
    const Options options = parseOptions(arguments,
                                         {QStringLiteral("--choice"), QStringLiteral("--audio-format"),
                                          QStringLiteral("--audio"), QStringLiteral("--to")},
                                         {});
    if (!options.problem.isEmpty())
        co_return usageError(options.problem);
    ChoiceSelection selection;
    if (options.values.contains(QStringLiteral("--audio-format"))) {
        const auto format = AudioExportFormats::fromRawValue(options.values.value(QStringLiteral("--audio-format")));
        if (!format)
            co_return usageError(QStringLiteral("El formato de audio debe ser m4a o mp3."));
        selection.audioExportFormat = *format;
    }
    const std::optional<QUrl> url = WebURL::validatedWebURL(options.url);
    if (!url)
        co_return fail(invalidURL);
    YTDLPService service;
    const Interruption interruption(service);
    const QString cancelMessage = QStringLiteral("Descarga cancelada.");

    QSettings store;
    const AppSettings settings(&store);
    const LocatedTools tools = co_await locateTools(settings);
    if (interruption.requested())
        co_return cancelled(cancelMessage);
    if (!tools.ytDLP)
        co_return fail(missingYTDLP);

    // The standard ways need no format list, so they skip the analysis and its yt-dlp run.
    const QString choiceID = options.values.value(QStringLiteral("--choice"), QStringLiteral("recommended"));
    QList<DownloadChoice> offered = selection.standardChoices();
    const bool standard = std::any_of(offered.cbegin(), offered.cend(),
                                      [&](const DownloadChoice &choice) { return choice.id == choiceID; });
    const bool pairsAudio = options.values.contains(QStringLiteral("--audio"));
    if (!standard || pairsAudio) {
        if (const auto status = co_await analyzeInto(*url, service, *tools.ytDLP, selection, cancelMessage))
            co_return *status;
        offered.append(selection.exactChoices());
    }
    const auto chosen = std::find_if(offered.cbegin(), offered.cend(),
                                     [&](const DownloadChoice &choice) { return choice.id == choiceID; });
    if (chosen == offered.cend())
        co_return fail(QStringLiteral("Esta forma de descarga no existe para este enlace: %1").arg(choiceID));
    selection.selectChoice(*chosen);
    if (pairsAudio) {
        const QString audioID = options.values.value(QStringLiteral("--audio"));
        const QList<MediaFormat> audioOnly = selection.audioOnlyFormats();
        const bool listed = std::any_of(audioOnly.cbegin(), audioOnly.cend(),
                                        [&](const MediaFormat &format) { return format.formatID == audioID; });
        if (!listed)
            co_return fail(QStringLiteral("La pista de audio %1 no existe para este enlace.").arg(audioID));
        if (!selection.selectedVideoOnlyFormat())
            co_return fail(
                QStringLiteral("Solo un formato de video sin audio puede combinarse con una pista de audio."));
        selection.selectedAudioFormatID = audioID;
    }
    if (interruption.requested())
        co_return cancelled(cancelMessage);

    const QString destination = options.values.value(QStringLiteral("--to"), settings.downloadDirectoryPath());
    ProgressLine line;
    const DownloadChoice choice = selection.selectedChoice();
    const std::optional<QString> ffmpegPath = tools.ffmpeg ? std::optional<QString>(tools.ffmpeg->path) : std::nullopt;
    const YTDLPService::ProgressCallback showProgress = [&line](const DownloadProgress &progress) {
        line.show(progress);
    };
    service.rememberVersion(tools.ytDLP->path, tools.ytDLP->version);
    const QUrl address = *url;
    const QString ytDLPPath = tools.ytDLP->path;
    QString placed;
    try {
        placed = co_await service.download(address, choice, ytDLPPath, ffmpegPath, destination, showProgress);
    } catch (const CancellationError &) {
        line.finish();
        co_return cancelled(cancelMessage);
    } catch (const TorvelError &error) {
        line.finish();
        co_return fail(error.errorDescription());
    }
    line.finish();
    out() << placed << '\n';
    out().flush();
    co_return 0;
}

QCoro::Task<int> dispatch(QStringList arguments, StartupConfiguration configuration) {
    const QString command = arguments.value(1);
    const QStringList rest = arguments.mid(2);
    if (command == QLatin1String("doctor")) {
        if (!rest.isEmpty() && rest != QStringList{QStringLiteral("--json")})
            co_return usageError(QStringLiteral("Opción desconocida: %1").arg(rest.join(QLatin1Char(' '))));
        co_return co_await doctor(!rest.isEmpty());
    }
    if (command == QLatin1String("analyze"))
        co_return co_await analyzeCommand(rest);
    if (command == QLatin1String("download"))
        co_return co_await downloadCommand(rest);
    if (command == QLatin1String("tools"))
        co_return co_await ToolsCommand::run(rest, configuration.toolHosts);
    if (command == QLatin1String("self-update"))
        co_return co_await SelfUpdateCommand::run(rest, configuration.updates);
    printUsage();
    co_return command == QLatin1String("--help") ? 0 : 2;
}

} // namespace

namespace CommandLine {

bool handles(const QStringList &arguments) {
    static const QStringList commands{QStringLiteral("doctor"),      QStringLiteral("analyze"),
                                      QStringLiteral("download"),    QStringLiteral("tools"),
                                      QStringLiteral("self-update"), QStringLiteral("--help")};
    return arguments.size() > 1 && commands.contains(arguments.at(1));
}

QCoro::Task<int> run(QStringList arguments, StartupConfiguration configuration) {
    // Whatever a subcommand did not expect ends it with a sentence, never with an abort.
    std::optional<QString> failure;
    try {
        co_return co_await dispatch(arguments, configuration);
    } catch (const std::exception &error) {
        failure = describeError(error);
    }
    co_return fail(QStringLiteral("Error inesperado: ") + *failure);
}

} // namespace CommandLine
