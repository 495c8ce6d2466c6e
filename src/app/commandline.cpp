#include "commandline.h"

#include "common/plural.h"
#include "common/weburl.h"
#include "console.h"
#include "interruptwatcher.h"
#include "media/playlistdownloader.h"
#include "media/ytdlpexplanations.h"
#include "media/ytdlpservice.h"
#include "model/appsettings.h"
#include "platform/applicationinfo.h"
#include "platform/cookiebrowsers.h"
#include "platform/platformpaths.h"
#include "playlistcommand.h"
#include "queue/queuerunner.h"
#include "queue/queuestore.h"
#include "queuecommand.h"
#include "selfupdatecommand.h"
#include "tools/dependencylocator.h"
#include "toolscommand.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>

#include <QCoroSignal>
#include <QCoroTimer>

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

// The cookies yt-dlp would use, and the setting they come from (which may name nothing usable).
QJsonObject cookiesJSON(const AppSettings &settings) {
    const CookieSource source = settings.cookieSource();
    QJsonObject report{{QStringLiteral("setting"), settings.cookies()}};
    switch (source.kind) {
    case CookieSource::Kind::none:
        report.insert(QStringLiteral("source"), QStringLiteral("none"));
        break;
    case CookieSource::Kind::browser:
        report.insert(QStringLiteral("source"), QStringLiteral("browser"));
        report.insert(QStringLiteral("browser"), source.browser);
        report.insert(QStringLiteral("cookiesFromBrowser"), source.cookiesFromBrowser);
        break;
    case CookieSource::Kind::file:
        report.insert(QStringLiteral("source"), QStringLiteral("file"));
        report.insert(QStringLiteral("file"), source.file);
        break;
    }
    return report;
}

QString cookiesText(const AppSettings &settings) {
    const CookieSource source = settings.cookieSource();
    switch (source.kind) {
    case CookieSource::Kind::browser:
        return QStringLiteral("las de ") + CookieBrowsers::named(source.browser)->label;
    case CookieSource::Kind::file:
        return QStringLiteral("archivo ") + source.file;
    case CookieSource::Kind::none:
        break;
    }
    if (settings.cookies().isEmpty())
        return QStringLiteral("ninguno");
    return QStringLiteral("ninguno (el ajuste «%1» no es un navegador conocido ni un archivo legible)")
        .arg(settings.cookies());
}

// The runtime the arguments name, in words: "Deno (/ruta)", "Node.js (/ruta)" or "ninguno".
QString javaScriptRuntimeText(const QStringList &runtimeArguments) {
    for (const QString &argument : runtimeArguments) {
        if (argument.startsWith(QLatin1String("deno:")))
            return QStringLiteral("Deno (%1)").arg(argument.mid(5));
        if (argument.startsWith(QLatin1String("node:")))
            return QStringLiteral("Node.js (%1)").arg(argument.mid(5));
    }
    return QStringLiteral("ninguno");
}

// One line: everything needed is there, or what is missing and how to install it.
QString doctorVerdict(const LocatedTools &tools) {
    QStringList missing;
    QStringList commands;
    if (!tools.ytDLP) {
        missing.append(QStringLiteral("yt-dlp"));
        commands.append(QStringLiteral("torvel-downloader tools install yt-dlp"));
    }
    if (!tools.ffmpeg) {
        missing.append(QStringLiteral("FFmpeg"));
        commands.append(QStringLiteral("torvel-downloader tools install ffmpeg"));
    }
    if (missing.isEmpty())
        return QStringLiteral("Todo listo: se puede analizar y descargar.");
    return QStringLiteral("Falta %1. Para instalar: %2.")
        .arg(missing.join(QStringLiteral(" y ")), commands.join(QStringLiteral("; ")));
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
            {QStringLiteral("cookies"), cookiesJSON(settings)},
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
    out() << "Entorno JavaScript para yt-dlp: " << javaScriptRuntimeText(runtimeArguments) << '\n'
          << "Cookies para yt-dlp: " << cookiesText(settings) << '\n'
          << "Carpeta de herramientas administradas: " << PlatformPaths::managedToolsFolder() << '\n'
          << "Carpeta de trabajos de descarga: " << PlatformPaths::jobsRoot() << '\n'
          << "Archivo de ajustes: " << PlatformPaths::settingsFile() << '\n'
          << '\n'
          << doctorVerdict(tools) << '\n';
    out().flush();
    co_return 0;
}

void printUsage(QTextStream &stream = err()) {
    stream << "Uso:\n"
           << "  torvel-downloader doctor [--json]\n"
           << "  torvel-downloader analyze URL [--json] [COOKIES] [--proxy URL]\n"
           << "  torvel-downloader download URL [--choice ID] [--audio-format m4a|mp3] [--audio FORMAT_ID] "
              "[--subtitles IDIOMAS] [--to CARPETA] [--section INICIO-FIN] [COOKIES] [RED]\n"
           << "  torvel-downloader download URL --playlist [--items 1,3,5-7] [--choice ID] [--audio-format m4a|mp3] "
              "[--to CARPETA] [COOKIES]\n"
           << "  torvel-downloader queue add URL… [--to CARPETA] [--choice ID] [--audio-format m4a|mp3] [--again] "
              "[COOKIES]\n"
           << "  torvel-downloader queue list [--json] | run [--jobs N] | retry ID|--failed | pause ID|--all | resume "
              "ID|--all | remove ID|--completed\n"
           << "  torvel-downloader history [--json] [--search TEXTO]\n"
           << "  torvel-downloader tools [--json] | install yt-dlp|ffmpeg | update [yt-dlp|ffmpeg] | remove-homebrew "
              "yt-dlp|ffmpeg | rollback yt-dlp|ffmpeg\n"
           << "  torvel-downloader self-update [--check | --verify PAQUETE]\n"
           << "  torvel-downloader --version | --help | help [ORDEN]\n"
           << "COOKIES, para esa orden en lugar del ajuste: --cookies-from-browser NAVEGADOR | --cookies ARCHIVO\n"
           << "RED, para esa orden en lugar de los ajustes: --proxy URL | --limit-rate VELOCIDAD\n";
    stream.flush();
}

const char cookiesHelp[] = "  --cookies-from-browser NAVEGADOR\n"
                           "                   las cookies de ese navegador en lugar del ajuste: firefox, chrome,\n"
                           "                   chromium, brave, edge, opera o vivaldi\n"
                           "  --cookies ARCHIVO\n"
                           "                   las cookies de ese archivo (formato Netscape) en lugar del ajuste\n"
                           "  --proxy URL      el proxy en lugar del ajuste: http://, https:// o socks5://\n"
                           "                   (con usuario y clave si hace falta), none o system\n";

// What `COMMAND --help` and `help COMMAND` print; empty for a word that is no command.
QString commandHelp(const QString &command) {
    if (const QString queueHelp = QueueCommand::help(command); !queueHelp.isEmpty())
        return queueHelp;
    if (command == QLatin1String("doctor"))
        return QStringLiteral(
            "Uso: torvel-downloader doctor [--json]\n\n"
            "Muestra qué yt-dlp, FFmpeg y entorno JavaScript se usarían, las cookies y las carpetas,\n"
            "y termina diciendo si está todo listo o qué falta.\n\n"
            "Opciones:\n"
            "  --json           el mismo informe como documento JSON\n");
    if (command == QLatin1String("analyze"))
        return QStringLiteral("Uso: torvel-downloader analyze URL [--json] [COOKIES] [--proxy URL]\n\n"
                              "Muestra el título, la duración y todas las formas de descargar la dirección: sus\n"
                              "identificadores son los que acepta «download --choice».\n\n"
                              "Opciones:\n"
                              "  --json           el mismo análisis como documento JSON\n") +
               QString::fromUtf8(cookiesHelp);
    if (command == QLatin1String("download"))
        return QStringLiteral(
                   "Uso: torvel-downloader download URL [--choice ID] [--audio-format m4a|mp3] [--audio FORMAT_ID]\n"
                   "                                    [--subtitles IDIOMAS] [--to CARPETA] [--section INICIO-FIN]\n"
                   "                                    [COOKIES] [--proxy URL] [--limit-rate VELOCIDAD]\n"
                   "     torvel-downloader download URL --playlist [--items 1,3,5-7] [--choice ID]\n"
                   "                                    [--audio-format m4a|mp3] [--to CARPETA] [COOKIES]\n\n"
                   "Descarga la dirección en la carpeta de descargas y escribe la ruta del archivo guardado.\n"
                   "La descarga es un elemento de la cola de descargas (la de la ventana) que empieza en el\n"
                   "acto y queda en el historial; Ctrl-C la deja en pausa en la cola con lo ya descargado.\n\n"
                   "Opciones:\n"
                   "  --choice ID      cómo descargar; si no se indica, recommended:\n"
                   "                     recommended     Mejor calidad: el mejor video con el mejor audio\n"
                   "                     compatible-mp4  MP4 compatible: H.264 y AAC, para casi cualquier\n"
                   "                                     reproductor\n"
                   "                     audio-only      Solo audio, en M4A o en MP3 (--audio-format)\n"
                   "                     format-ID       un formato exacto, con un ID que lista «analyze URL»\n"
                   "  --audio-format m4a|mp3\n"
                   "                   el formato de audio-only (si no se indica, m4a)\n"
                   "  --audio FORMAT_ID\n"
                   "                   la pista de solo audio que acompaña a un format-ID de solo video\n"
                   "  --subtitles IDIOMAS\n"
                   "                   los subtítulos que se guardan dentro del video: es, es,en o all (los\n"
                   "                   que lista «analyze URL»); si no se indica, los subtítulos preferidos\n"
                   "                   de los ajustes\n"
                   "  --to CARPETA     dónde guardar, en lugar de la carpeta de los ajustes\n"
                   "  --playlist       la dirección es una lista: descarga sus videos en una carpeta con\n"
                   "                   su nombre (--choice: recommended, compatible-mp4 o audio-only)\n"
                   "  --items 1,3,5-7  con --playlist, solo esos videos de la lista\n"
                   "  --section INICIO-FIN\n"
                   "                   solo ese tramo del video: 83, 1:23 o 01:02:03 (1:00-2:30, 90-)\n"
                   "  --limit-rate VELOCIDAD\n"
                   "                   la velocidad máxima en lugar del ajuste, por ejemplo 500K o 2M\n") +
               QString::fromUtf8(cookiesHelp);
    if (command == QLatin1String("tools"))
        return QStringLiteral(
            "Uso: torvel-downloader tools [--json]\n"
            "     torvel-downloader tools install yt-dlp|ffmpeg\n"
            "     torvel-downloader tools update [yt-dlp|ffmpeg]\n"
            "     torvel-downloader tools remove-homebrew yt-dlp|ffmpeg\n"
            "     torvel-downloader tools rollback yt-dlp|ffmpeg\n\n"
            "Sin acción, muestra el estado de yt-dlp y FFmpeg (--json: como documento JSON).\n"
            "  install          instala la copia administrada de la herramienta\n"
            "  update           actualiza una herramienta, o las dos\n"
            "  remove-homebrew  desinstala la copia de Homebrew\n"
            "  rollback         vuelve a la copia administrada que reemplazó la última instalación\n");
    if (command == QLatin1String("self-update"))
        return QStringLiteral("Uso: torvel-downloader self-update [--check | --verify PAQUETE]\n\n"
                              "Sin opciones, instala la versión publicada si es más reciente y termina.\n"
                              "  --check          solo dice cuál es la versión publicada y si es más reciente\n"
                              "  --verify PAQUETE comprueba el sello del paquete con la clave de esta versión\n");
    return {};
}

bool asksForHelp(const QStringList &arguments) {
    return arguments.contains(QLatin1String("--help")) || arguments.contains(QLatin1String("-h"));
}

int fail(const QString &message) {
    err() << Console::printable(message, true) << '\n';
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
    explicit Interruption(YTDLPService &service) : m_cancel([&service] { service.cancel(); }) {
        QObject::connect(&m_watcher, &InterruptWatcher::interrupted, [this] {
            m_requested = true;
            m_cancel();
        });
    }
    bool requested() const { return m_requested; }
    // While a list runs, Ctrl-C stops it, the running entry and the rest.
    void stopWith(std::function<void()> cancel) { m_cancel = std::move(cancel); }

private:
    InterruptWatcher m_watcher;
    std::function<void()> m_cancel;
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

const QString cookiesFromBrowserOption = QStringLiteral("--cookies-from-browser");
const QString cookiesOption = QStringLiteral("--cookies");

// The cookies of one run: those a flag names, over the setting. A usage problem when the flags
// cannot be understood; a failure when the file cannot be read.
struct RunCookies {
    CookieSource source;
    QString usageProblem;
    QString failure;
    QString setting; // what a queue item keeps: the browser's name or the file's path
};

RunCookies runCookies(const Options &options, const AppSettings &settings) {
    const bool fromBrowser = options.values.contains(cookiesFromBrowserOption);
    const bool fromFile = options.values.contains(cookiesOption);
    if (fromBrowser && fromFile)
        return {{}, QStringLiteral("Usa --cookies-from-browser o --cookies, no los dos."), {}, {}};
    if (fromBrowser) {
        const QString name = options.values.value(cookiesFromBrowserOption);
        if (!CookieBrowsers::named(name)) {
            QStringList names;
            for (const CookieBrowsers::Browser &browser : CookieBrowsers::all())
                names.append(browser.name);
            return {{},
                    QStringLiteral("Navegador desconocido: %1. Usa uno de estos: %2.")
                        .arg(name, names.join(QStringLiteral(", "))),
                    {},
                    {}};
        }
        return {CookieSource::fromBrowser(name, settings.homeFolder()), {}, {}, name};
    }
    if (fromFile) {
        const QFileInfo file(options.values.value(cookiesOption));
        if (!file.isFile() || !file.isReadable())
            return {
                {}, {}, QStringLiteral("No se puede leer el archivo de cookies %1.").arg(file.absoluteFilePath()), {}};
        return {CookieSource::fromFile(file.absoluteFilePath()), {}, {}, file.absoluteFilePath()};
    }
    return {settings.cookieSource(), {}, {}, settings.cookies()};
}

const QString proxyOption = QStringLiteral("--proxy");
const QString limitRateOption = QStringLiteral("--limit-rate");
const QString sectionOption = QStringLiteral("--section");

// The proxy and speed limit of one run: those the flags give, over the settings; a usage
// problem when a flag's value cannot be used.
struct RunNetwork {
    YTDLPNetwork network;
    QString usageProblem;
};

RunNetwork runNetwork(const Options &options, const AppSettings &settings) {
    RunNetwork run;
    run.network.proxy = settings.proxy();
    if (!settings.limitRate().isEmpty())
        run.network.limitRate = settings.limitRate();
    if (options.values.contains(proxyOption)) {
        const QString value = options.values.value(proxyOption).trimmed();
        if (value == QLatin1String("none") || value == QLatin1String("system")) {
            run.network.proxy = NetworkOptions::Proxy::fromSetting(value);
        } else if (const QString problem = NetworkOptions::proxyAddressProblem(value); !problem.isEmpty()) {
            run.usageProblem = QStringLiteral("--proxy: ") + problem;
        } else {
            run.network.proxy = {NetworkOptions::Proxy::Kind::address, value};
        }
    }
    if (options.values.contains(limitRateOption)) {
        QString problem;
        run.network.limitRate = NetworkOptions::parseRate(options.values.value(limitRateOption), &problem);
        if (!run.network.limitRate)
            run.usageProblem = QStringLiteral("--limit-rate: ") +
                               (problem.isEmpty() ? QStringLiteral("falta la velocidad.") : problem);
    }
    return run;
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

QJsonArray subtitleCodes(const QList<SubtitleLanguage> &languages) {
    QJsonArray codes;
    for (const SubtitleLanguage &language : languages)
        codes.append(language.code);
    return codes;
}

void printSubtitles(const char *heading, const QList<SubtitleLanguage> &languages) {
    if (languages.isEmpty())
        return;
    QStringList labels;
    for (const SubtitleLanguage &language : languages)
        labels.append(Console::printable(language.label()));
    out() << '\n' << heading << ' ' << labels.join(QStringLiteral(", ")) << '\n';
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
            {QStringLiteral("subtitles"), subtitleCodes(media.subtitles)},
            {QStringLiteral("automatic_captions"), subtitleCodes(media.automaticCaptions)},
        };
        out() << QString::fromUtf8(QJsonDocument(report).toJson(QJsonDocument::Indented));
        out().flush();
        return;
    }
    out() << "Título: " << Console::printable(media.title) << '\n'
          << "Autor: " << Console::printable(media.uploader.value_or(QStringLiteral("—"))) << '\n'
          << "Duración: " << durationText << '\n'
          << "\nFormas de descarga:\n";
    for (const DownloadChoice &choice : selection.standardChoices())
        out() << "  " << choice.id << "  " << choice.title << " · " << Console::printable(choice.subtitle) << '\n';
    // A heading only over something.
    const QList<MediaFormat> exact = selection.exactFormats();
    if (!exact.isEmpty())
        out() << "\nFormatos exactos:\n";
    for (const MediaFormat &format : exact)
        out() << "  format-" << Console::printable(format.formatID) << "  " << Console::printable(format.qualityLabel())
              << " · " << Console::printable(format.detailLabel()) << '\n';
    const QList<MediaFormat> audioOnly = selection.audioOnlyFormats();
    if (!audioOnly.isEmpty()) {
        out() << "\nPistas de solo audio (para --audio):";
        for (const MediaFormat &format : audioOnly)
            out() << ' ' << Console::printable(format.formatID);
        out() << '\n';
    }
    printSubtitles("Subtítulos (para --subtitles):", media.subtitles);
    printSubtitles("Subtítulos automáticos:", media.automaticCaptions);
    out().flush();
}

const QString invalidURL = QStringLiteral("Introduce una URL válida que comience con http:// o https://.");
const QString missingYTDLP =
    QStringLiteral("No encontramos yt-dlp. Abre Opciones para seleccionar el ejecutable o instalarlo.");

// Analyzes the address with the located yt-dlp; fills `selection`, or `list` for a list of
// videos, or returns an exit status.
QCoro::Task<std::optional<int>> analyzeInto(QUrl url, YTDLPService &service, const ToolInfo &ytDLP,
                                            CookieSource cookies, ChoiceSelection &selection,
                                            std::optional<PlaylistInfo> &list, QString cancelMessage) {
    service.rememberVersion(ytDLP.path, ytDLP.version);
    std::optional<MediaAnalysis> analysis;
    try {
        analysis = co_await service.analyze(url, ytDLP.path, cookies);
    } catch (const CancellationError &) {
        co_return cancelled(cancelMessage);
    } catch (const TorvelError &error) {
        co_return fail(error.errorDescription());
    }
    if (auto *found = std::get_if<PlaylistInfo>(&*analysis)) {
        list = std::move(*found);
        co_return std::nullopt;
    }
    selection.mediaInfo = std::get<MediaInfo>(*std::move(analysis));
    const QList<MediaFormat> audioOnly = selection.audioOnlyFormats();
    selection.selectedChoiceID = QStringLiteral("recommended");
    selection.selectedAudioFormatID =
        audioOnly.isEmpty() ? std::nullopt : std::optional<QString>(audioOnly.first().formatID);
    co_return std::nullopt;
}

QCoro::Task<int> analyzeCommand(QStringList arguments) {
    const Options options =
        parseOptions(arguments, {cookiesFromBrowserOption, cookiesOption, proxyOption}, {QStringLiteral("--json")});
    if (!options.problem.isEmpty())
        co_return usageError(options.problem);
    QSettings store;
    const AppSettings settings(&store);
    const RunCookies cookies = runCookies(options, settings);
    if (!cookies.usageProblem.isEmpty())
        co_return usageError(cookies.usageProblem);
    const RunNetwork network = runNetwork(options, settings);
    if (!network.usageProblem.isEmpty())
        co_return usageError(network.usageProblem);
    const std::optional<QUrl> url = WebURL::validatedWebURL(options.url);
    if (!url)
        co_return fail(invalidURL);
    if (!cookies.failure.isEmpty())
        co_return fail(cookies.failure);
    YTDLPService service;
    service.setNetwork(network.network);
    const Interruption interruption(service);
    const QString cancelMessage = QStringLiteral("Análisis cancelado.");

    const LocatedTools tools = co_await locateTools(settings, false);
    if (interruption.requested())
        co_return cancelled(cancelMessage);
    if (!tools.ytDLP)
        co_return fail(missingYTDLP);
    ChoiceSelection selection;
    std::optional<PlaylistInfo> list;
    if (const auto status =
            co_await analyzeInto(*url, service, *tools.ytDLP, cookies.source, selection, list, cancelMessage))
        co_return *status;
    const bool json = options.flags.contains(QStringLiteral("--json"));
    if (list)
        PlaylistCommand::print(*list, json);
    else
        printAnalysis(selection, json);
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
        const QString line = Console::printable(parts.join(QStringLiteral(" · ")));
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
        m_last.clear();
    }

private:
    bool m_terminal = ::isatty(STDERR_FILENO) == 1;
    QString m_last;
};

// The command's own runner over the shared store: an item added here is claimed at once and runs
// in this process, recorded in the history and shown in the window's queue like any other; its
// progress and notices go to standard error. A direct order waits for nobody: a network failure
// ends it at once (the item stays failed in the queue, where «queue retry» takes it again).
class CommandRunner : public QObject {
public:
    CommandRunner(QueueStore &store, const LocatedTools &tools, const AppSettings &settings, YTDLPNetwork network)
        : m_store(store), m_runner(store,
                                   {tools.ytDLP->path, tools.ytDLP->version,
                                    tools.ffmpeg ? std::optional<QString>(tools.ffmpeg->path) : std::nullopt},
                                   JobFolders(PlatformPaths::jobsRoot()), directTiming()) {
        m_runner.setConcurrentFragments(settings.concurrentFragments());
        m_runner.setNetwork(std::move(network));
        m_runner.setFileContents(settings.embedMetadata(), settings.preferredSubtitles());
        m_runner.setListAdvice(QStringLiteral("Usa --playlist para descargarla."));
        connect(&m_runner, &QueueRunner::itemFinished, this,
                [this](qint64 id, QueueState state) { m_outcomes.insert(id, state); });
        connect(&m_runner, &QueueRunner::itemProgress, this, [this](qint64 id, const DownloadProgress &progress) {
            if (id == m_current && m_onProgress)
                m_onProgress(progress);
        });
        connect(&m_runner, &QueueRunner::itemNotice, this, [this](qint64, const QString &notice) {
            line.finish();
            err() << notice << '\n';
            err().flush();
        });
        connect(&m_store, &QueueStore::itemChanged, this, &CommandRunner::noteDownloadedBefore);
    }

    ProgressLine line;

    // Whether the running item is noted on standard error when it was downloaded before.
    void setNotesDownloadedBefore(bool notes) { m_notesBefore = notes; }
    void setOnProgress(std::function<void(const DownloadProgress &)> onProgress) {
        m_onProgress = std::move(onProgress);
    }
    bool interrupted() const { return m_interrupted; }

    // Runs the waiting item here, or waits for the runner (the window's, another command's) that
    // took it first; the item as it ended, nothing when it was removed meanwhile.
    QCoro::Task<std::optional<QueueItem>> run(qint64 id, QueueItemStart known) {
        m_current = id;
        m_noted = false;
        while (!m_interrupted) {
            if (m_runner.startNow(id, std::exchange(known, {}))) {
                while (!m_outcomes.contains(id))
                    co_await qCoro(&m_runner, &QueueRunner::itemFinished);
                break;
            }
            try {
                const std::optional<QueueItem> item = m_store.item(id);
                if (!item || (item->state != QueueState::waiting && item->state != QueueState::running))
                    break;
            } catch (const TorvelError &) {
                // The store is busy beyond its wait: asked again below.
            }
            co_await QCoro::sleepFor(std::chrono::milliseconds(500));
        }
        line.finish();
        co_return storedItem(id);
    }

    // Ctrl-C: the running item stops paused, keeping what it downloaded.
    void interrupt() {
        m_interrupted = true;
        if (m_current != 0)
            pause({m_current});
        m_runner.stop(QueueState::paused);
    }

    // Paused by the person (never taken up again at the window's next start on its own).
    void pause(const QList<qint64> &ids) {
        for (const qint64 id : ids) {
            try {
                m_store.pause(id);
            } catch (const TorvelError &) {
                // Its runner's stop leaves it paused all the same.
            }
        }
    }

    std::optional<QueueItem> storedItem(qint64 id) const {
        try {
            return m_store.item(id);
        } catch (const TorvelError &) {
            return std::nullopt;
        }
    }

private:
    static QueueRunner::Timing directTiming() {
        QueueRunner::Timing timing;
        timing.retryWaits.clear();
        return timing;
    }

    void noteDownloadedBefore(qint64 id) {
        if (!m_notesBefore || m_noted || id != m_current)
            return;
        try {
            const std::optional<QueueItem> item = m_store.item(id);
            // Once yt-dlp names the video (before anything is fetched), never by the address
            // alone: the entries of a page of several videos share it. Once completed, the item
            // is in the history itself.
            if (!item || item->videoID.isEmpty() || item->state != QueueState::running)
                return;
            m_noted = true;
            if (const std::optional<HistoryEntry> before =
                    m_store.alreadyDownloaded(item->url, item->extractor, item->videoID)) {
                line.finish();
                err() << QueueCommand::downloadedBefore(before->completedAt, before->path)
                      << "; se descarga de nuevo.\n";
                err().flush();
            }
        } catch (const TorvelError &) {
            // Only the note is lost.
        }
    }

    QueueStore &m_store;
    QueueRunner m_runner;
    QHash<qint64, QueueState> m_outcomes;
    std::function<void(const DownloadProgress &)> m_onProgress;
    qint64 m_current = 0;
    bool m_interrupted = false;
    bool m_notesBefore = false;
    bool m_noted = false;
};

// What a download that ended without its file says; the exit status.
int unfinished(const std::optional<QueueItem> &item, const QString &cancelMessage) {
    if (item && item->state == QueueState::failed)
        return fail(item->error);
    if (item && item->state == QueueState::waiting)
        return fail(item->error.isEmpty() ? QStringLiteral("La descarga quedó en la cola sin terminar.") : item->error);
    err() << cancelMessage << '\n';
    if (item && item->state == QueueState::paused)
        err() << "Queda en pausa en la cola (#" << item->id << ") con lo ya descargado: «queue resume " << item->id
              << "» la reanuda.\n";
    err().flush();
    return 130;
}

// The chosen entries of a list, queued into a folder named after it and run one after another.
// Exit 0 when every one was placed, 1 when any failed, 130 on Ctrl-C.
QCoro::Task<int> downloadList(const PlaylistInfo &list, const Options &options, QueueItem way, QueueStore &store,
                              CommandRunner &runner, Interruption &interruption, const QString &cancelMessage) {
    if (options.values.contains(QStringLiteral("--audio")))
        co_return usageError(QStringLiteral("--audio no se aplica a una lista."));
    if (options.values.contains(QStringLiteral("--subtitles")))
        co_return usageError(QStringLiteral("--subtitles no se aplica a una lista."));
    if (!QStringList{QStringLiteral("recommended"), QStringLiteral("compatible-mp4"), QStringLiteral("audio-only")}
             .contains(way.choiceID))
        co_return fail(QStringLiteral("Una lista se descarga de una de las formas recommended, compatible-mp4 o "
                                      "audio-only; %1 no es una de ellas.")
                           .arg(way.choiceID));

    QList<PlaylistEntry> entries = list.entries;
    // Entries that --items names but that cannot be downloaded: each a failure of the run.
    QList<PlaylistDownloader::Failure> refused;
    if (options.values.contains(QStringLiteral("--items"))) {
        QString problem;
        const auto items =
            PlaylistCommand::parseItems(options.values.value(QStringLiteral("--items")), list.entries.size(), problem);
        if (!items)
            co_return usageError(problem);
        entries.clear();
        for (const qsizetype index : *items) {
            const PlaylistEntry &entry = list.entries.at(index);
            if (entry.isDownloadable())
                entries.append(entry);
            else
                refused.append({entry.title, QStringLiteral("la lista no da una dirección para descargarlo.")});
        }
    }
    entries.removeIf([](const PlaylistEntry &entry) { return !entry.isDownloadable(); });
    if (entries.isEmpty())
        co_return fail(QStringLiteral("Ninguno de los videos elegidos se puede descargar."));
    if (interruption.requested())
        co_return cancelled(cancelMessage);

    PlaylistDownloader::Outcome outcome;
    QList<qint64> ids;
    try {
        outcome.folder = PlaylistDownloader::createListFolder(list.title, way.destination);
        way.destination = outcome.folder;
        way.batch = list.title;
        for (const PlaylistEntry &entry : std::as_const(entries)) {
            QueueItem item = way;
            item.url = entry.url->toString();
            item.title = entry.title;
            item.thumbnail = entry.thumbnail.value_or(QString());
            item.playlistItem = entry.item.value_or(0);
            ids.append(store.add(item));
        }
    } catch (const TorvelError &error) {
        co_return fail(error.errorDescription());
    }
    interruption.stopWith([&runner] { runner.interrupt(); });

    // The whole list's progress, never backwards: (finished + the running one's fraction) ÷ N.
    const qsizetype count = entries.size();
    outcome.total = count;
    double shown = 0;
    qsizetype index = 0;
    runner.setOnProgress([&](const DownloadProgress &progress) {
        DownloadProgress overall = progress;
        shown = std::max(shown, std::min(1.0, (double(index) + progress.fraction) / double(count)));
        overall.fraction = shown;
        runner.line.show(overall);
    });
    for (; index < count && !runner.interrupted(); ++index) {
        const PlaylistEntry &entry = entries.at(index);
        runner.line.finish();
        err() << PlaylistDownloader::Position{index + 1, count, entry.title}.headline() << ": "
              << Console::printable(entry.title) << '\n';
        err().flush();
        // The entry before has said "Descarga completada"; this one is being prepared.
        if (index > 0) {
            DownloadProgress preparing = DownloadProgress::initial();
            preparing.fraction = shown;
            runner.line.show(preparing);
        }
        // Named, not a braced temporary in the co_await: GCC 12 destroys such a temporary twice.
        QueueItemStart start;
        start.entryDocument = entry.document;
        const std::optional<QueueItem> ended = co_await runner.run(ids.at(index), std::move(start));
        if (ended && ended->state == QueueState::completed)
            outcome.placedFiles.append(ended->path);
        else if (ended && ended->state == QueueState::failed)
            outcome.failures.append({entry.title, ended->error});
        else if (!runner.interrupted())
            outcome.failures.append({entry.title, QStringLiteral("se quitó de la cola o se detuvo.")});
    }
    runner.setOnProgress(nullptr);
    // What Ctrl-C left waits in pause, kept for «queue resume».
    if (runner.interrupted())
        runner.pause(ids.mid(index));
    outcome.cancelled = runner.interrupted();
    outcome.total += refused.size();
    outcome.failures = refused + outcome.failures;
    // A folder that received nothing is not left behind.
    if (outcome.placedFiles.isEmpty())
        QDir().rmdir(outcome.folder);
    for (const QString &placed : std::as_const(outcome.placedFiles))
        out() << Console::printable(placed) << '\n';
    out().flush();
    if (outcome.cancelled)
        co_return cancelled(cancelMessage);
    err() << outcome.summaryText() << '\n';
    for (const PlaylistDownloader::Failure &failure : std::as_const(outcome.failures)) {
        err() << "  • " << Console::printable(failure.summaryLine()) << '\n';
        // Under an explanation, yt-dlp's own words.
        const YTDLPExplanations::Parts parts = YTDLPExplanations::split(failure.message);
        if (!parts.explanation.isEmpty())
            for (const QString &detailLine : parts.detail.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
                err() << "    " << Console::printable(detailLine) << '\n';
    }
    err().flush();
    co_return outcome.failures.isEmpty() ? 0 : 1;
}

// `download URL`: a direct order, always downloaded (noting a video downloaded before), as a
// queue item that this process's runner claims at once. With --playlist the address is analyzed
// here first: a list's chosen entries become items of their own, and a video starts from that
// analysis.
QCoro::Task<int> downloadCommand(QStringList arguments) {
    const Options options =
        parseOptions(arguments,
                     {QStringLiteral("--choice"), QStringLiteral("--audio-format"), QStringLiteral("--audio"),
                      QStringLiteral("--to"), QStringLiteral("--items"), QStringLiteral("--subtitles"),
                      cookiesFromBrowserOption, cookiesOption, proxyOption, limitRateOption, sectionOption},
                     {QStringLiteral("--playlist")});
    if (!options.problem.isEmpty())
        co_return usageError(options.problem);
    const bool wantsList = options.flags.contains(QStringLiteral("--playlist"));
    if (options.values.contains(QStringLiteral("--items")) && !wantsList)
        co_return usageError(QStringLiteral("--items solo se usa con --playlist."));
    if (options.values.contains(sectionOption) && wantsList)
        co_return usageError(QStringLiteral("--section no se aplica a una lista."));
    QSettings stored;
    const AppSettings settings(&stored);
    const RunCookies cookies = runCookies(options, settings);
    if (!cookies.usageProblem.isEmpty())
        co_return usageError(cookies.usageProblem);
    const RunNetwork network = runNetwork(options, settings);
    if (!network.usageProblem.isEmpty())
        co_return usageError(network.usageProblem);
    // The form is checked now; the duration once the analysis knows it.
    QString sectionProblem;
    if (options.values.contains(sectionOption) &&
        !MediaSection::fromRange(options.values.value(sectionOption), std::nullopt, sectionProblem))
        co_return usageError(sectionProblem);
    QueueItem way;
    if (options.values.contains(QStringLiteral("--audio-format"))) {
        const auto format = AudioExportFormats::fromRawValue(options.values.value(QStringLiteral("--audio-format")));
        if (!format)
            co_return usageError(QStringLiteral("El formato de audio debe ser m4a o mp3."));
        way.audioFormat = *format;
    }
    const std::optional<QUrl> url = WebURL::validatedWebURL(options.url);
    if (!url)
        co_return fail(invalidURL);
    if (!cookies.failure.isEmpty())
        co_return fail(cookies.failure);
    YTDLPService service;
    service.setNetwork(network.network);
    Interruption interruption(service);
    const QString cancelMessage = QStringLiteral("Descarga cancelada.");

    const LocatedTools tools = co_await locateTools(settings);
    if (interruption.requested())
        co_return cancelled(cancelMessage);
    if (!tools.ytDLP)
        co_return fail(missingYTDLP);
    const std::unique_ptr<QueueStore> store = QueueCommand::openStore();
    if (!store)
        co_return 1;

    way.url = url->toString();
    way.choiceID = options.values.value(QStringLiteral("--choice"), QStringLiteral("recommended"));
    way.pairedAudioID = options.values.value(QStringLiteral("--audio"));
    way.destination =
        QFileInfo(options.values.value(QStringLiteral("--to"), settings.downloadDirectoryPath())).absoluteFilePath();
    way.cookies = cookies.setting;
    way.subtitles = options.values.value(QStringLiteral("--subtitles")).split(QLatin1Char(','), Qt::SkipEmptyParts);
    way.section = options.values.value(sectionOption);
    CommandRunner runner(*store, tools, settings, network.network);

    // A list must be taken entry by entry, so --playlist analyzes the address first.
    QueueItemStart known;
    if (wantsList) {
        ChoiceSelection selection;
        std::optional<PlaylistInfo> list;
        if (const auto status =
                co_await analyzeInto(*url, service, *tools.ytDLP, cookies.source, selection, list, cancelMessage))
            co_return *status;
        if (list) {
            const PlaylistInfo &found = *list;
            co_return co_await downloadList(found, options, way, *store, runner, interruption, cancelMessage);
        }
        if (options.values.contains(QStringLiteral("--items")))
            co_return fail(QStringLiteral("Esta dirección no es una lista: --items no se aplica."));
        known.analysis = selection.mediaInfo;
    }
    if (interruption.requested())
        co_return cancelled(cancelMessage);
    qint64 id = 0;
    try {
        id = store->add(way);
    } catch (const TorvelError &error) {
        co_return fail(error.errorDescription());
    }
    interruption.stopWith([&runner] { runner.interrupt(); });
    runner.setNotesDownloadedBefore(true);
    runner.setOnProgress([&runner](const DownloadProgress &progress) { runner.line.show(progress); });
    const std::optional<QueueItem> ended = co_await runner.run(id, std::move(known));
    if (runner.interrupted())
        runner.pause({id});
    if (!ended || ended->state != QueueState::completed)
        co_return unfinished(runner.interrupted() ? runner.storedItem(id) : ended, cancelMessage);
    out() << Console::printable(ended->path) << '\n';
    out().flush();
    co_return 0;
}

QCoro::Task<int> dispatch(QStringList arguments, StartupConfiguration configuration) {
    const QString command = arguments.value(1);
    const QStringList rest = arguments.mid(2);
    // Help asked for goes to standard output and ends well; help for a mistake goes with it to
    // standard error.
    const QString helpTopic = command == QLatin1String("help") ? rest.value(0) : command;
    if (command == QLatin1String("help") || (asksForHelp(rest) && !commandHelp(command).isEmpty()) ||
        command == QLatin1String("--help") || command == QLatin1String("-h")) {
        const QString help = commandHelp(helpTopic);
        if (help.isEmpty())
            printUsage(out());
        else
            out() << help;
        out().flush();
        co_return 0;
    }
    if (command == QLatin1String("doctor")) {
        if (!rest.isEmpty() && rest != QStringList{QStringLiteral("--json")})
            co_return usageError(QStringLiteral("Opción desconocida: %1").arg(rest.join(QLatin1Char(' '))));
        co_return co_await doctor(!rest.isEmpty());
    }
    if (command == QLatin1String("analyze"))
        co_return co_await analyzeCommand(rest);
    if (command == QLatin1String("download"))
        co_return co_await downloadCommand(rest);
    if (command == QLatin1String("queue"))
        co_return co_await QueueCommand::run(rest);
    if (command == QLatin1String("history"))
        co_return QueueCommand::history(rest);
    if (command == QLatin1String("tools"))
        co_return co_await ToolsCommand::run(rest, configuration.toolHosts);
    if (command == QLatin1String("self-update"))
        co_return co_await SelfUpdateCommand::run(rest, configuration.updates);
    if (command == QLatin1String("--version") && rest.isEmpty()) {
        const ApplicationInfo info = ApplicationInfo::current();
        out() << "Torvel Downloader " << info.displayVersion() << " (" << info.buildNumber() << ")\n";
        out().flush();
        co_return 0;
    }
    printUsage();
    co_return 2;
}

} // namespace

namespace CommandLine {

bool handles(const QStringList &arguments) {
    // The window takes no arguments but a tdl: link (the desktop file's %u); anything else is a
    // subcommand, or a mistake that the usage answers without needing a display.
    return arguments.size() > 1 && !arguments.at(1).startsWith(QLatin1String("tdl:"), Qt::CaseInsensitive);
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
