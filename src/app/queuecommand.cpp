#include "queuecommand.h"

#include "common/plural.h"
#include "common/weburl.h"
#include "console.h"
#include "interruptwatcher.h"
#include "media/cookiesource.h"
#include "model/appsettings.h"
#include "platform/cookiebrowsers.h"
#include "platform/platformpaths.h"
#include "queue/queuerunner.h"
#include "tools/dependencylocator.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>

#include <unistd.h>

namespace {

using Console::err;
using Console::out;

int usageError(const QString &problem) {
    err() << QueueCommand::help(QStringLiteral("queue")) << problem << '\n';
    err().flush();
    return 2;
}

int fail(const QString &message) {
    err() << Console::printable(message, true) << '\n';
    err().flush();
    return 1;
}

// Words after the subcommand: values of the named options, flags, and the rest in order.
struct Words {
    QStringList free;
    QHash<QString, QString> values;
    QStringList flags;
    QString problem;
};

Words parseWords(const QStringList &arguments, const QStringList &withValue, const QStringList &flags) {
    Words words;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (withValue.contains(argument)) {
            if (i + 1 >= arguments.size()) {
                words.problem = QStringLiteral("Falta el valor de %1.").arg(argument);
                return words;
            }
            words.values.insert(argument, arguments.at(++i));
        } else if (flags.contains(argument)) {
            words.flags.append(argument);
        } else if (argument == QLatin1String("--")) {
            words.free += arguments.mid(i + 1);
            break;
        } else if (argument.startsWith(QLatin1String("--"))) {
            words.problem = QStringLiteral("Opción desconocida: %1").arg(argument);
            return words;
        } else {
            words.free.append(argument);
        }
    }
    return words;
}

QString dateText(const QDateTime &time) {
    return time.toLocalTime().toString(QStringLiteral("d/M/yyyy"));
}

QJsonObject itemJSON(const QueueItem &item) {
    return {{QStringLiteral("id"), item.id},
            {QStringLiteral("url"), item.url},
            {QStringLiteral("title"), item.title},
            {QStringLiteral("state"), QueueStates::rawValue(item.state)},
            {QStringLiteral("progress"), item.progress},
            {QStringLiteral("destination"), item.destination},
            {QStringLiteral("path"), item.path},
            {QStringLiteral("error"), item.error},
            {QStringLiteral("attempts"), item.attempts},
            {QStringLiteral("choice"), item.choiceID},
            {QStringLiteral("extractor"), item.extractor},
            {QStringLiteral("video_id"), item.videoID}};
}

QString isoTime(const QDateTime &time) {
    return time.toUTC().toString(Qt::ISODate);
}

// The cookie setting an item keeps: a flag's browser or file over the settings' own.
std::optional<QString> cookieSetting(const Words &words, const AppSettings &settings, QString &problem) {
    const QString browser = words.values.value(QStringLiteral("--cookies-from-browser"));
    const QString file = words.values.value(QStringLiteral("--cookies"));
    if (!browser.isEmpty() && !file.isEmpty()) {
        problem = QStringLiteral("Usa --cookies-from-browser o --cookies, no los dos.");
        return std::nullopt;
    }
    if (!browser.isEmpty()) {
        if (!CookieBrowsers::named(browser)) {
            problem = QStringLiteral("Navegador desconocido: %1.").arg(browser);
            return std::nullopt;
        }
        return browser;
    }
    if (!file.isEmpty()) {
        const QFileInfo info(file);
        if (!info.isFile() || !info.isReadable()) {
            problem = QStringLiteral("No se puede leer el archivo de cookies %1.").arg(info.absoluteFilePath());
            return std::nullopt;
        }
        return info.absoluteFilePath();
    }
    return settings.cookies();
}

int add(const QStringList &arguments) {
    const Words words =
        parseWords(arguments,
                   {QStringLiteral("--to"), QStringLiteral("--choice"), QStringLiteral("--audio-format"),
                    QStringLiteral("--cookies-from-browser"), QStringLiteral("--cookies")},
                   {QStringLiteral("--again")});
    if (!words.problem.isEmpty())
        return usageError(words.problem);
    if (words.free.isEmpty())
        return usageError(QStringLiteral("Falta la URL."));
    QueueItem way;
    way.choiceID = words.values.value(QStringLiteral("--choice"), QStringLiteral("recommended"));
    const bool knownWay =
        QStringList{QStringLiteral("recommended"), QStringLiteral("compatible-mp4"), QStringLiteral("audio-only")}
            .contains(way.choiceID) ||
        (way.choiceID.startsWith(QLatin1String("format-")) && way.choiceID.size() > 7);
    if (!knownWay)
        return usageError(QStringLiteral("Forma de descarga desconocida: %1. Usa recommended, compatible-mp4, "
                                         "audio-only o format-ID.")
                              .arg(way.choiceID));
    if (words.values.contains(QStringLiteral("--audio-format"))) {
        const auto format = AudioExportFormats::fromRawValue(words.values.value(QStringLiteral("--audio-format")));
        if (!format)
            return usageError(QStringLiteral("El formato de audio debe ser m4a o mp3."));
        way.audioFormat = *format;
    }
    QSettings stored;
    const AppSettings settings(&stored);
    QString problem;
    const std::optional<QString> cookies = cookieSetting(words, settings, problem);
    if (!cookies)
        return fail(problem);
    way.cookies = *cookies;
    way.destination = words.values.contains(QStringLiteral("--to"))
                          ? QFileInfo(words.values.value(QStringLiteral("--to"))).absoluteFilePath()
                          : settings.downloadDirectoryPath();
    const std::unique_ptr<QueueStore> store = QueueCommand::openStore();
    if (!store)
        return 1;
    const bool again = words.flags.contains(QStringLiteral("--again"));
    int status = 0;
    for (const QString &address : words.free) {
        const std::optional<QUrl> url = WebURL::validatedWebURL(address);
        if (!url) {
            err() << Console::printable(address)
                  << ": no es una URL válida que comience con http:// o https://; no se añadió.\n";
            status = 1;
            continue;
        }
        QueueItem item = way;
        item.url = url->toString();
        if (!again)
            if (const std::optional<HistoryEntry> before = store->alreadyDownloaded(item.url)) {
                out() << QueueCommand::downloadedBefore(before->completedAt, before->path) << ": "
                      << Console::printable(item.url) << " (no se añadió; usa --again para añadirla)\n";
                continue;
            }
        const qint64 id = store->add(item);
        out() << "En cola #" << id << ": " << Console::printable(item.url) << '\n';
    }
    out().flush();
    err().flush();
    return status;
}

int list(const QStringList &arguments) {
    const Words words = parseWords(arguments, {}, {QStringLiteral("--json")});
    if (!words.problem.isEmpty() || !words.free.isEmpty())
        return usageError(words.problem.isEmpty() ? QStringLiteral("Sobra: %1").arg(words.free.join(QLatin1Char(' ')))
                                                  : words.problem);
    const std::unique_ptr<QueueStore> store = QueueCommand::openStore();
    if (!store)
        return 1;
    const QList<QueueItem> items = store->items();
    if (words.flags.contains(QStringLiteral("--json"))) {
        QJsonArray array;
        for (const QueueItem &item : items)
            array.append(itemJSON(item));
        out() << QString::fromUtf8(QJsonDocument(QJsonObject{{QStringLiteral("items"), array}}).toJson());
        out().flush();
        return 0;
    }
    if (items.isEmpty())
        out() << "La cola está vacía.\n";
    for (const QueueItem &item : items) {
        out() << '#' << item.id << "  " << QueueStates::label(item.state) << "  " << int(item.progress * 100) << " %  "
              << Console::printable(item.title.isEmpty() ? item.url : item.title);
        if (item.attempts > 1)
            out() << "  (intento " << item.attempts << " de " << QueueRunner::maximumAttempts << ')';
        out() << '\n';
        if (!item.path.isEmpty())
            out() << "    " << Console::printable(item.path) << '\n';
        if (!item.error.isEmpty())
            out() << "    " << Console::printable(item.error.section(QLatin1Char('\n'), 0, 0)) << '\n';
    }
    out().flush();
    return 0;
}

// `retry|pause|resume|remove ID|--FLAG`.
int change(const QString &action, const QStringList &arguments) {
    static const QHash<QString, QString> allFlags{{QStringLiteral("retry"), QStringLiteral("--failed")},
                                                  {QStringLiteral("pause"), QStringLiteral("--all")},
                                                  {QStringLiteral("resume"), QStringLiteral("--all")},
                                                  {QStringLiteral("remove"), QStringLiteral("--completed")}};
    const QString flag = allFlags.value(action);
    const Words words = parseWords(arguments, {}, {flag});
    if (!words.problem.isEmpty())
        return usageError(words.problem);
    const bool all = words.flags.contains(flag);
    if (all == (words.free.size() == 1) || words.free.size() > 1)
        return usageError(QStringLiteral("Indica un número de la cola o %1.").arg(flag));
    std::optional<qint64> id;
    if (!all) {
        bool number = false;
        id = words.free.first().toLongLong(&number);
        if (!number)
            return usageError(QStringLiteral("%1 no es un número de la cola.").arg(words.free.first()));
    }
    const std::unique_ptr<QueueStore> store = QueueCommand::openStore();
    if (!store)
        return 1;
    int changed = 0;
    if (action == QLatin1String("retry"))
        changed = store->retry(id);
    else if (action == QLatin1String("pause"))
        changed = store->pause(id);
    else if (action == QLatin1String("resume"))
        changed = store->resume(id);
    else
        changed = id ? store->remove(*id) : store->removeCompleted();
    if (id && changed == 0)
        return fail(store->item(*id) ? QStringLiteral("El elemento #%1 no está en un estado que lo permita.").arg(*id)
                                     : QStringLiteral("No hay ningún elemento #%1 en la cola.").arg(*id));
    // What happened, for one element and for several.
    static const QHash<QString, QStringList> done{
        {QStringLiteral("retry"), {QStringLiteral("vuelve a la cola"), QStringLiteral("vuelven a la cola")}},
        {QStringLiteral("pause"), {QStringLiteral("en pausa"), QStringLiteral("en pausa")}},
        {QStringLiteral("resume"), {QStringLiteral("reanudado"), QStringLiteral("reanudados")}},
        {QStringLiteral("remove"), {QStringLiteral("quitado de la cola"), QStringLiteral("quitados de la cola")}}};
    out() << countedText(changed, QStringLiteral("elemento"), QStringLiteral("elementos")) << ' '
          << done.value(action).value(changed == 1 ? 0 : 1) << ".\n";
    out().flush();
    return 0;
}

QCoro::Task<int> runQueue(QStringList arguments) {
    const Words words = parseWords(arguments, {QStringLiteral("--jobs")}, {});
    if (!words.problem.isEmpty() || !words.free.isEmpty())
        co_return usageError(words.problem.isEmpty()
                                 ? QStringLiteral("Sobra: %1").arg(words.free.join(QLatin1Char(' ')))
                                 : words.problem);
    int jobs = QueueRunner::defaultJobs;
    if (words.values.contains(QStringLiteral("--jobs"))) {
        bool number = false;
        jobs = words.values.value(QStringLiteral("--jobs")).toInt(&number);
        if (!number || jobs < QueueRunner::minimumJobs || jobs > QueueRunner::maximumAllowedJobs)
            co_return usageError(QStringLiteral("--jobs debe ser un número de 1 a 8."));
    }
    const std::unique_ptr<QueueStore> store = QueueCommand::openStore();
    if (!store)
        co_return 1;
    QSettings stored;
    const AppSettings settings(&stored);
    const DependencyLocator locator;
    auto ytDLPSearch = locator.locateYT_DLP(settings.ytDLPPath());
    auto ffmpegSearch = locator.locateFFmpeg(settings.ffmpegPath());
    const std::optional<ToolInfo> ffmpeg = co_await ffmpegSearch;
    const std::optional<ToolInfo> ytDLP = co_await ytDLPSearch;
    if (!ytDLP)
        co_return fail(
            QStringLiteral("No encontramos yt-dlp. Abre Opciones para seleccionar el ejecutable o instalarlo."));

    QueueRunner runner(*store,
                       {ytDLP->path, ytDLP->version, ffmpeg ? std::optional<QString>(ffmpeg->path) : std::nullopt});
    runner.setMaximumJobs(jobs);
    runner.setConcurrentFragments(settings.concurrentFragments());
    const QString rate = settings.limitRate();
    runner.setNetwork({settings.proxy(), rate.isEmpty() ? std::nullopt : std::optional<QString>(rate)});
    runner.setFileContents(settings.embedMetadata(), settings.preferredSubtitles());
    InterruptWatcher watcher;
    bool interrupted = false;
    QObject::connect(&watcher, &InterruptWatcher::interrupted, &runner, [&] {
        interrupted = true;
        runner.stop(QueueState::waiting);
    });
    QHash<qint64, int> shownPercent;
    int completed = 0;
    int failed = 0;
    const auto name = [&store](qint64 id) {
        const std::optional<QueueItem> item = store->item(id);
        return Console::printable(!item ? QString() : item->title.isEmpty() ? item->url : item->title);
    };
    QObject::connect(&runner, &QueueRunner::itemStarted, &runner, [&](qint64 id) {
        err() << '#' << id << " empieza: " << name(id) << '\n';
        err().flush();
    });
    QObject::connect(&runner, &QueueRunner::itemProgress, &runner, [&](qint64 id, const DownloadProgress &progress) {
        const int percent = int(progress.fraction * 100);
        if (shownPercent.value(id, -1) == percent)
            return;
        shownPercent.insert(id, percent);
        QStringList parts{progress.phaseText, QStringLiteral("%1 %").arg(percent)};
        for (const QString &text : {progress.speedText, progress.etaText})
            if (!text.isEmpty())
                parts.append(text);
        err() << '#' << id << ' ' << Console::printable(parts.join(QStringLiteral(" · "))) << '\n';
        err().flush();
    });
    QObject::connect(&runner, &QueueRunner::itemNotice, &runner, [&](qint64 id, const QString &notice) {
        err() << '#' << id << ' ' << Console::printable(notice) << '\n';
        err().flush();
    });
    QObject::connect(&runner, &QueueRunner::itemFinished, &runner, [&](qint64 id, QueueState state) {
        const std::optional<QueueItem> item = store->item(id);
        shownPercent.remove(id);
        if (state == QueueState::completed) {
            ++completed;
            out() << Console::printable(item ? item->path : QString()) << '\n';
            out().flush();
            return;
        }
        if (state == QueueState::failed)
            ++failed;
        err() << '#' << id << ' ' << QueueStates::label(state).toLower();
        if (item && !item->error.isEmpty() && (state == QueueState::failed || state == QueueState::waiting)) {
            if (state == QueueState::waiting)
                err() << " (intento " << item->attempts << " de " << QueueRunner::maximumAttempts
                      << "; se reintentará)";
            err() << ": " << Console::printable(item->error, true);
        }
        err() << '\n';
        err().flush();
    });
    runner.start();
    co_await runner.untilIdle();
    if (interrupted) {
        err() << "Cola interrumpida: lo pendiente sigue en la cola y continuará con «queue run».\n";
        err().flush();
        co_return 130;
    }
    err() << "Cola terminada: " << completed << (completed == 1 ? " completada" : " completadas") << ", " << failed
          << (failed == 1 ? " fallida" : " fallidas") << ".\n";
    err().flush();
    co_return failed == 0 ? 0 : 1;
}

} // namespace

namespace QueueCommand {

std::unique_ptr<QueueStore> openStore() {
    try {
        auto store = std::make_unique<QueueStore>(PlatformPaths::queueStoreFile());
        if (!store->notice().isEmpty()) {
            err() << store->notice() << '\n';
            err().flush();
        }
        return store;
    } catch (const TorvelError &error) {
        fail(error.errorDescription());
        return nullptr;
    }
}

QString downloadedBefore(const QDateTime &completedAt, const QString &path) {
    return QStringLiteral("Ya descargado el %1 (%2)").arg(dateText(completedAt), Console::printable(path));
}

QString help(const QString &command) {
    if (command == QLatin1String("queue"))
        return QStringLiteral(
            "Uso: torvel-downloader queue add URL… [--to CARPETA] [--choice ID] [--audio-format m4a|mp3]\n"
            "                                      [--again] [COOKIES]\n"
            "     torvel-downloader queue list [--json]\n"
            "     torvel-downloader queue run [--jobs N]\n"
            "     torvel-downloader queue retry ID|--failed\n"
            "     torvel-downloader queue pause ID|--all\n"
            "     torvel-downloader queue resume ID|--all\n"
            "     torvel-downloader queue remove ID|--completed\n\n"
            "La cola de descargas, la misma que usa la ventana; se conserva entre ejecuciones.\n"
            "  add              añade cada dirección; una ya descargada se omite salvo con --again\n"
            "  list             los elementos en orden, con su estado (--json: como documento JSON)\n"
            "  run              descarga lo que espera, N a la vez (de 1 a 8; 3 si no se indica), hasta\n"
            "                   que no quede nada; Ctrl-C lo interrumpe y lo pendiente sigue en la cola\n"
            "  retry            vuelve a poner en la cola un elemento fallido o cancelado, o todos los\n"
            "                   fallidos\n"
            "  pause, resume    pausa o reanuda un elemento, o todos; lo ya descargado se conserva\n"
            "  remove           quita un elemento (y lo que tenía descargado), o los completados\n");
    if (command == QLatin1String("history"))
        return QStringLiteral(
            "Uso: torvel-downloader history [--json] [--search TEXTO]\n\n"
            "Las descargas completadas, de la más reciente a la más antigua.\n"
            "  --json           como documento JSON\n"
            "  --search TEXTO   solo las que llevan ese texto en el título, la dirección o la ruta\n");
    return {};
}

QCoro::Task<int> run(QStringList arguments) {
    const QString action = arguments.value(0);
    const QStringList rest = arguments.mid(1);
    if (action == QLatin1String("add"))
        co_return add(rest);
    if (action == QLatin1String("list"))
        co_return list(rest);
    if (action == QLatin1String("run"))
        co_return co_await runQueue(rest);
    if (QStringList{QStringLiteral("retry"), QStringLiteral("pause"), QStringLiteral("resume"),
                    QStringLiteral("remove")}
            .contains(action))
        co_return change(action, rest);
    co_return usageError(action.isEmpty() ? QStringLiteral("Falta la acción.")
                                          : QStringLiteral("Acción desconocida: %1").arg(action));
}

int history(const QStringList &arguments) {
    const Words words = parseWords(arguments, {QStringLiteral("--search")}, {QStringLiteral("--json")});
    if (!words.problem.isEmpty() || !words.free.isEmpty()) {
        err() << help(QStringLiteral("history"))
              << (words.problem.isEmpty() ? QStringLiteral("Sobra: %1").arg(words.free.join(QLatin1Char(' ')))
                                          : words.problem)
              << '\n';
        err().flush();
        return 2;
    }
    const std::unique_ptr<QueueStore> store = openStore();
    if (!store)
        return 1;
    const QList<HistoryEntry> entries = store->history(words.values.value(QStringLiteral("--search")));
    if (words.flags.contains(QStringLiteral("--json"))) {
        QJsonArray array;
        for (const HistoryEntry &entry : entries)
            array.append(QJsonObject{{QStringLiteral("url"), entry.url},
                                     {QStringLiteral("title"), entry.title},
                                     {QStringLiteral("path"), entry.path},
                                     {QStringLiteral("extractor"), entry.extractor},
                                     {QStringLiteral("id"), entry.videoID},
                                     {QStringLiteral("size"), entry.size},
                                     {QStringLiteral("completed_at"), isoTime(entry.completedAt)}});
        out() << QString::fromUtf8(QJsonDocument(QJsonObject{{QStringLiteral("entries"), array}}).toJson());
        out().flush();
        return 0;
    }
    if (entries.isEmpty())
        out() << "El historial está vacío.\n";
    for (const HistoryEntry &entry : entries)
        out() << dateText(entry.completedAt) << "  "
              << Console::printable(entry.title.isEmpty() ? entry.url : entry.title) << '\n'
              << "    " << Console::printable(entry.path) << '\n';
    out().flush();
    return 0;
}

} // namespace QueueCommand
