#include "formattexts.h"

#include "common/plural.h"

#include <QStringList>

#include <algorithm>
#include <cmath>

namespace {

const QString separator = QStringLiteral(" · ");

// Printed from the rounded double, so that no value, however absurd, overflows an integer.
QString rounded(double value) {
    return QString::number(std::round(value), 'f', 0);
}

// The bitrate a card shows: the stream's own rate, else the total.
std::optional<double> displayedBitrate(const MediaFormat &format) {
    const std::optional<double> &stream = format.hasVideo() ? format.videoBitrate : format.audioBitrate;
    return stream ? stream : format.totalBitrate;
}

bool isPositive(const std::optional<double> &value) {
    return value && *value > 0;
}

} // namespace

namespace FormatTexts {

QString bitrateText(const MediaFormat &format) {
    const std::optional<double> bitrate = displayedBitrate(format);
    if (!isPositive(bitrate) || !std::isfinite(*bitrate))
        return QStringLiteral("Bitrate no informado");
    if (*bitrate >= 1000)
        return QString::asprintf("%.1f Mb/s", *bitrate / 1000);
    return rounded(*bitrate) + QStringLiteral(" kb/s");
}

QString sizeText(const MediaFormat &format, std::optional<double> duration) {
    if (format.fileSize)
        return formattedByteCount(*format.fileSize);
    if (format.approximateFileSize)
        return QLatin1Char('~') + formattedByteCount(*format.approximateFileSize);
    const std::optional<double> bitrate = format.totalBitrate ? format.totalBitrate : displayedBitrate(format);
    if (isPositive(bitrate) && isPositive(duration)) {
        const double bytes = *duration * *bitrate * 1000 * 0.125;
        // Beyond what a byte count can hold the estimate means nothing.
        if (std::isfinite(bytes) && bytes < 9.0e18)
            return QLatin1Char('~') + formattedByteCount(static_cast<qint64>(bytes));
    }
    return QStringLiteral("Tamaño no informado");
}

QString audioText(const MediaFormat &format) {
    if (!format.hasAudio())
        return QStringLiteral("Sin audio");
    QStringList parts{format.audioCodecLabel().value_or(QStringLiteral("Audio"))};
    if (isPositive(format.audioBitrate))
        parts.append(rounded(*format.audioBitrate) + QStringLiteral(" kb/s"));
    if (format.audioChannels && *format.audioChannels > 0) {
        const qint64 channels = *format.audioChannels;
        if (channels == 1)
            parts.append(QStringLiteral("mono"));
        else if (channels == 2)
            parts.append(QStringLiteral("estéreo"));
        else
            parts.append(QString::number(channels) + QStringLiteral(" canales"));
    }
    return parts.join(separator);
}

QString audioDescription(const MediaFormat &format) {
    QStringList parts{QStringLiteral("ID ") + format.formatID};
    if (format.ext)
        parts.append(format.ext->toUpper());
    if (format.totalBitrate)
        parts.append(rounded(*format.totalBitrate) + QStringLiteral(" kb/s"));
    if (const std::optional<qint64> size = format.fileSize ? format.fileSize : format.approximateFileSize)
        parts.append(formattedByteCount(*size));
    return parts.join(separator);
}

QString framesPerSecondText(double fps) {
    return rounded(fps) + QStringLiteral(" fps");
}

QString formatCountText(qsizetype count) {
    return countedText(count, QStringLiteral("formato"), QStringLiteral("formatos"));
}

QString percentageText(double fraction) {
    const double percent = std::isfinite(fraction) ? std::trunc(fraction * 100) : 0;
    return QString::number(static_cast<int>(std::clamp(percent, 0.0, 100.0))) + QStringLiteral(" %");
}

} // namespace FormatTexts
