#include "commandline.h"

#include "platform/platformpaths.h"
#include "tools/dependencylocator.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

namespace {

QTextStream &out() {
    static QTextStream stream(stdout);
    return stream;
}

QTextStream &err() {
    static QTextStream stream(stderr);
    return stream;
}

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

QCoro::Task<int> doctor(bool json) {
    const DependencyLocator locator;
    // Both searches start before either is awaited, so they run side by side.
    auto ytDLPSearch = locator.locateYT_DLP(QString());
    auto ffmpegSearch = locator.locateFFmpeg(QString());
    const std::optional<ToolInfo> ytDLP = co_await ytDLPSearch;
    const std::optional<ToolInfo> ffmpeg = co_await ffmpegSearch;
    const QStringList runtimeArguments = locator.locateJavaScriptRuntimeArguments();

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
          << (runtimeArguments.isEmpty() ? QStringLiteral("ninguno") : runtimeArguments.join(QLatin1Char(' ')))
          << '\n'
          << "Carpeta de herramientas administradas: " << PlatformPaths::managedToolsFolder() << '\n'
          << "Carpeta de trabajos de descarga: " << PlatformPaths::jobsRoot() << '\n'
          << "Archivo de ajustes: " << PlatformPaths::settingsFile() << '\n';
    out().flush();
    co_return 0;
}

void printUsage() {
    err() << "Uso:\n"
          << "  torvel-downloader doctor [--json]\n";
    err().flush();
}

} // namespace

namespace CommandLine {

bool handles(const QStringList &arguments) {
    return arguments.size() > 1 && (arguments.at(1) == QLatin1String("doctor") ||
                                     arguments.at(1) == QLatin1String("--help"));
}

QCoro::Task<int> run(QStringList arguments) {
    const QString command = arguments.value(1);
    const QStringList rest = arguments.mid(2);
    if (command == QLatin1String("doctor")) {
        if (!rest.isEmpty() && rest != QStringList{QStringLiteral("--json")}) {
            printUsage();
            co_return 2;
        }
        co_return co_await doctor(!rest.isEmpty());
    }
    printUsage();
    co_return command == QLatin1String("--help") ? 0 : 2;
}

} // namespace CommandLine
