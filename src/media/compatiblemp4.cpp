#include "compatiblemp4.h"

#include "media/mediainfo.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>

namespace {

const QString h264 = QStringLiteral("h264");
const QString aac = QStringLiteral("aac");

std::optional<double> positiveNumber(const QString &text) {
    bool ok = false;
    const double value = text.toDouble(&ok);
    return ok && std::isfinite(value) && value >= 0 ? std::optional<double>(value) : std::nullopt;
}

bool allAre(const QStringList &codecs, const QString &codec) {
    return std::all_of(codecs.cbegin(), codecs.cend(), [&](const QString &name) { return name == codec; });
}

} // namespace

namespace CompatibleMP4 {

QStringList probeArguments(const QString &file) {
    return {QStringLiteral("-v"),
            QStringLiteral("error"),
            QStringLiteral("-show_entries"),
            QStringLiteral(
                "stream=codec_type,codec_name,pix_fmt:stream_disposition=attached_pic:format=format_name,duration"),
            QStringLiteral("-of"),
            QStringLiteral("json"),
            QStringLiteral("--"),
            file};
}

Probe decodeProbe(const QByteArray &json) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        throw MediaDecodingError(QStringLiteral("FFprobe no describió el archivo descargado: ") + error.errorString());
    Probe probe;
    const QJsonObject format = document.object().value(QLatin1String("format")).toObject();
    probe.formatNames = format.value(QLatin1String("format_name")).toString().split(QLatin1Char(','));
    probe.duration = positiveNumber(format.value(QLatin1String("duration")).toString());
    for (const QJsonValue &value : document.object().value(QLatin1String("streams")).toArray()) {
        const QJsonObject stream = value.toObject();
        const QString type = stream.value(QLatin1String("codec_type")).toString();
        QString codec = stream.value(QLatin1String("codec_name")).toString();
        // H.264 in High 10, 4:2:2 or 4:4:4 is no H.264 most players decode: it counts as another
        // codec ("h264/yuv444p"), so that it is re-encoded in 4:2:0.
        const QString pixels = stream.value(QLatin1String("pix_fmt")).toString();
        if (!pixels.isEmpty() && pixels != QLatin1String("yuv420p") && pixels != QLatin1String("yuvj420p"))
            codec += QLatin1Char('/') + pixels;
        // A cover picture travels as a video stream; it is no video.
        if (stream.value(QLatin1String("disposition")).toObject().value(QLatin1String("attached_pic")).toInt() == 1) {
            ++probe.coverPictures;
            continue;
        }
        if (type == QLatin1String("video"))
            probe.videoCodecs.append(codec);
        else if (type == QLatin1String("audio"))
            probe.audioCodecs.append(codec);
    }
    return probe;
}

bool needsConversion(const Probe &probe, const QString &file) {
    if (probe.videoCodecs.isEmpty())
        return false;
    const bool mp4 = probe.formatNames.contains(QLatin1String("mp4")) &&
                     QFileInfo(file).suffix().compare(QLatin1String("mp4"), Qt::CaseInsensitive) == 0;
    return !mp4 || !allAre(probe.videoCodecs, h264) || !allAre(probe.audioCodecs, aac);
}

QStringList conversionArguments(const QString &input, const QString &output, const Probe &probe) {
    QStringList arguments{QStringLiteral("-hide_banner"), QStringLiteral("-nostdin"),
                          QStringLiteral("-nostats"),     QStringLiteral("-loglevel"),
                          QStringLiteral("error"),        QStringLiteral("-y"),
                          QStringLiteral("-i"),           input,
                          QStringLiteral("-map"),         QStringLiteral("0:v:0"),
                          QStringLiteral("-map"),         QStringLiteral("0:a?"),
                          QStringLiteral("-map"),         QStringLiteral("0:s?")};
    if (allAre(probe.videoCodecs, h264))
        arguments << QStringLiteral("-c:v") << QStringLiteral("copy");
    else
        // Even dimensions and 4:2:0 sampling: what every H.264 player decodes.
        arguments << QStringLiteral("-c:v") << QStringLiteral("libx264") << QStringLiteral("-preset")
                  << QStringLiteral("veryfast") << QStringLiteral("-crf") << QStringLiteral("20")
                  << QStringLiteral("-vf") << QStringLiteral("scale=trunc(iw/2)*2:trunc(ih/2)*2")
                  << QStringLiteral("-pix_fmt") << QStringLiteral("yuv420p");
    if (allAre(probe.audioCodecs, aac))
        arguments << QStringLiteral("-c:a") << QStringLiteral("copy");
    else
        arguments << QStringLiteral("-c:a") << QStringLiteral("aac") << QStringLiteral("-b:a")
                  << QStringLiteral("192k");
    // Embedded subtitles stay, as MP4's own text track.
    arguments << QStringLiteral("-c:s") << QStringLiteral("mov_text") << QStringLiteral("-movflags")
              << QStringLiteral("+faststart") << QStringLiteral("-progress") << QStringLiteral("pipe:1")
              << QStringLiteral("-f") << QStringLiteral("mp4") << output;
    return arguments;
}

std::optional<Report> parseProgressLine(const QString &line) {
    const qsizetype equals = line.indexOf(QLatin1Char('='));
    if (equals < 0)
        return std::nullopt;
    const QStringView key = QStringView(line).left(equals).trimmed();
    const QString value = line.mid(equals + 1).trimmed();
    Report report;
    // Each report also carries "out_time_ms", in microseconds too despite its name: one is enough.
    if (key == QLatin1String("out_time_us")) {
        const std::optional<double> microseconds = positiveNumber(value);
        if (!microseconds)
            return std::nullopt;
        report.position = *microseconds / 1e6;
        return report;
    }
    if (key == QLatin1String("speed") && value.endsWith(QLatin1Char('x'))) {
        report.speed = positiveNumber(value.chopped(1));
        if (report.speed)
            return report;
    }
    return std::nullopt;
}

} // namespace CompatibleMP4
