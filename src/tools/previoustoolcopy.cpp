#include "previoustoolcopy.h"

#include "common/torvelerror.h"
#include "dependencylocator.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSaveFile>

namespace {

QString recordPath(const QString &folder, ToolKind tool) {
    return PreviousToolCopy::keptPath(folder, PreviousToolCopy::fileNames(tool).constFirst()) + QStringLiteral(".json");
}

} // namespace

QStringList PreviousToolCopy::fileNames(ToolKind tool) {
    return tool == ToolKind::ytDLP ? QStringList{QStringLiteral("yt-dlp")}
                                   : QStringList{QStringLiteral("ffmpeg"), QStringLiteral("ffprobe")};
}

QStringList PreviousToolCopy::versionArguments(ToolKind tool) {
    return {tool == ToolKind::ytDLP ? QStringLiteral("--version") : QStringLiteral("-version")};
}

QString PreviousToolCopy::versionFrom(ToolKind tool, const QString &output) {
    // FFprobe's banner reads like FFmpeg's, with its own name first.
    QString text = output;
    text.replace(QStringLiteral("ffprobe version "), QStringLiteral("ffmpeg version "));
    return (tool == ToolKind::ytDLP ? output.trimmed() : DependencyLocator::ffmpegVersion(text)).left(100);
}

QString PreviousToolCopy::keptPath(const QString &folder, const QString &name) {
    return folder + QLatin1Char('/') + name + QStringLiteral(".previous");
}

std::optional<PreviousToolCopy> PreviousToolCopy::read(const QString &folder, ToolKind tool) {
    QFile file(recordPath(folder, tool));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QJsonArray entries =
        QJsonDocument::fromJson(file.read(64 * 1024)).object().value(QLatin1String("files")).toArray();
    static const QRegularExpression digest(QStringLiteral("^[0-9a-f]{64}$"));
    PreviousToolCopy copy{tool, {}};
    const QStringList names = fileNames(tool);
    for (const QString &name : names) {
        const QJsonObject entry = entries.at(copy.files.size()).toObject();
        const File kept{entry.value(QLatin1String("name")).toString(), entry.value(QLatin1String("version")).toString(),
                        entry.value(QLatin1String("sha256")).toString()};
        if (kept.name != name || kept.version.isEmpty() || !digest.match(kept.sha256).hasMatch())
            return std::nullopt;
        copy.files.append(kept);
    }
    return copy;
}

void PreviousToolCopy::write(const QString &folder) const {
    QJsonArray entries;
    for (const File &file : files)
        entries.append(QJsonObject{{QStringLiteral("name"), file.name},
                                   {QStringLiteral("version"), file.version},
                                   {QStringLiteral("sha256"), file.sha256}});
    QSaveFile record(recordPath(folder, tool));
    if (!record.open(QIODevice::WriteOnly) ||
        record.write(QJsonDocument(QJsonObject{{QStringLiteral("files"), entries}}).toJson()) < 0 || !record.commit())
        throw PlatformError(record.errorString());
}

void PreviousToolCopy::forget(const QString &folder, ToolKind tool) {
    QFile::remove(recordPath(folder, tool));
    const QStringList names = fileNames(tool);
    for (const QString &name : names)
        QFile::remove(keptPath(folder, name));
}
