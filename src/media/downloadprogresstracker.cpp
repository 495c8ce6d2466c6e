#include "downloadprogresstracker.h"

#include "media/downloadoutputprotocol.h"
#include "media/mediainfo.h"

#include <QMutexLocker>

#include <algorithm>
#include <charconv>
#include <cmath>

namespace {

constexpr double singleTransferCap = 0.99;
constexpr double reservedCap = 0.98;
constexpr double fallingFractionThreshold = 0.15;
constexpr qint64 tinyTransferBytes = 65536;

// yt-dlp prints plain decimal numbers whatever the user's locale, so the locale-aware parsers
// (QLocale, strtod after setlocale) would misread them. from_chars accepts neither a leading
// "+" nor surrounding blanks, which the callers deal with.
std::optional<double> parseDecimal(QStringView text) {
    const bool plus = text.startsWith(QLatin1Char('+'));
    if (plus)
        text = text.mid(1);
    if (text.isEmpty() || (plus && text.front() == QLatin1Char('-')))
        return std::nullopt;
    QByteArray ascii;
    ascii.reserve(text.size());
    for (const QChar c : text) {
        if (c.unicode() > 0x7f)
            return std::nullopt;
        ascii.append(char(c.unicode()));
    }
    double value = 0;
    const char *end = ascii.constData() + ascii.size();
    const auto [rest, error] = std::from_chars(ascii.constData(), end, value, std::chars_format::general);
    if (error != std::errc() || rest != end)
        return std::nullopt;
    return value;
}

// Whether a number can be truncated to a 64-bit count without undefined behaviour.
bool fitsInt64(double value) {
    return std::isfinite(value) && value >= -9223372036854775808.0 && value < 9223372036854775808.0;
}

// Sizes and bitrates of the plan must be real, positive amounts to weigh anything.
std::optional<double> positiveAmount(const std::optional<QString> &text) {
    const std::optional<double> value = DownloadProgressTracker::number(text);
    if (value && std::isfinite(*value) && *value > 0)
        return value;
    return std::nullopt;
}

std::optional<qint64> atLeast(std::optional<qint64> value, qint64 minimum) {
    return value && *value >= minimum ? value : std::nullopt;
}

std::optional<double> finiteAtLeastZero(std::optional<double> value) {
    return value && std::isfinite(*value) && *value >= 0 ? value : std::nullopt;
}

bool isNoneCodec(const std::optional<QString> &codec) {
    return codec && codec->trimmed().toLower() == QLatin1String("none");
}

} // namespace

DownloadProgress DownloadProgress::initial() {
    return {0, QStringLiteral("Preparando…"), QStringLiteral("Preparando descarga…"), {}, {}};
}

DownloadProgressTracker::DownloadProgressTracker(int expectedDownloadCount, bool reservesPostProcessing,
                                                 Emitter emitter, double conversionShare)
    : m_expectedDownloadCount(expectedDownloadCount), m_reservesPostProcessing(reservesPostProcessing),
      m_emit(std::move(emitter)), m_conversionShare(std::clamp(conversionShare, 0.0, 0.9)) {}

void DownloadProgressTracker::setConversionShare(double conversionShare) {
    const QMutexLocker locker(&m_lock);
    m_conversionShare = std::clamp(conversionShare, 0.0, 0.9);
}

bool DownloadProgressTracker::consume(const QString &line) {
    using namespace DownloadOutputProtocol;
    // A record begins with its marker; one elsewhere in a line is text a site controls.
    const std::optional<Marker> marker = leadingMarker(line);
    if (!marker || *marker == Marker::file)
        return false;
    const QString rest = line.mid(markerText(*marker).size());
    if (*marker == Marker::plan)
        consumePlan(rest);
    else if (*marker == Marker::progress)
        consumeDownload(rest);
    else
        consumePostprocess(rest);
    return true;
}

void DownloadProgressTracker::finalizing() {
    raiseAndEmit(downloadStage(0.999), QStringLiteral("Guardando archivo…"),
                 QStringLiteral("Moviendo el resultado a la carpeta elegida"));
}

void DownloadProgressTracker::converting(double fraction, const QString &status, const QString &eta) {
    double start = 0;
    {
        const QMutexLocker locker(&m_lock);
        if (!m_conversionStart)
            m_conversionStart = m_lastFraction;
        start = *m_conversionStart;
    }
    const double done = std::isfinite(fraction) ? std::clamp(fraction, 0.0, 1.0) : 0.0;
    raiseAndEmit(start + (0.999 - start) * done, QStringLiteral("Convirtiendo video…"), status, {}, eta);
}

void DownloadProgressTracker::complete() {
    raiseAndEmit(1, QStringLiteral("Completado"), QStringLiteral("Descarga completada"));
}

double DownloadProgressTracker::lastFraction() const {
    const QMutexLocker locker(&m_lock);
    return m_lastFraction;
}

double DownloadProgressTracker::percentage(const std::optional<QString> &text) {
    if (!text)
        return 0;
    QString kept;
    kept.reserve(text->size());
    for (const QChar c : *text) {
        const QChar normalized = c == QLatin1Char(',') ? QLatin1Char('.') : c;
        if (normalized.isDigit() || normalized == QLatin1Char('.') || normalized == QLatin1Char('-'))
            kept.append(normalized);
    }
    const std::optional<double> value = parseDecimal(kept);
    if (!value || std::isnan(*value))
        return 0;
    return std::clamp(*value / 100, 0.0, 1.0);
}

std::optional<qint64> DownloadProgressTracker::integer(const std::optional<QString> &text) {
    if (!text)
        return std::nullopt;
    QStringView digits = QStringView(*text).trimmed();
    const bool negative = digits.startsWith(QLatin1Char('-'));
    if (negative || digits.startsWith(QLatin1Char('+')))
        digits = digits.mid(1);
    if (digits.isEmpty())
        return std::nullopt;
    QByteArray ascii = negative ? QByteArray("-") : QByteArray();
    for (const QChar c : digits) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
        ascii.append(char(c.unicode()));
    }
    qint64 value = 0;
    const char *end = ascii.constData() + ascii.size();
    const auto [rest, error] = std::from_chars(ascii.constData(), end, value);
    if (error != std::errc() || rest != end)
        return std::nullopt;
    return value;
}

std::optional<double> DownloadProgressTracker::number(const std::optional<QString> &text) {
    if (!text)
        return std::nullopt;
    return parseDecimal(QStringView(*text).trimmed());
}

bool DownloadProgressTracker::meaningfulValue(const QString &text) {
    const QString value = text.trimmed().toLower();
    return !value.isEmpty() && value != QLatin1String("na") && value != QLatin1String("none");
}

bool DownloadProgressTracker::meaningfulCodec(const std::optional<QString> &text) {
    return text && meaningfulValue(*text);
}

QString DownloadProgressTracker::downloadPhase(const std::optional<QString> &videoCodec,
                                               const std::optional<QString> &audioCodec, qint64 index, qint64 count) {
    const bool hasVideo = meaningfulCodec(videoCodec);
    const bool hasAudio = meaningfulCodec(audioCodec);
    const QString video = QStringLiteral("Descargando video");
    const QString audio = QStringLiteral("Descargando audio");
    const QString both = QStringLiteral("Descargando video y audio");
    QString phase;
    if (hasVideo)
        phase = hasAudio ? both : video;
    else if (hasAudio || isNoneCodec(videoCodec))
        phase = audio;
    else
        phase = isNoneCodec(audioCodec) ? video : both;
    if (count >= 2)
        phase += QStringLiteral(" · pista %1 de %2").arg(std::min(index, count)).arg(count);
    return phase;
}

QString DownloadProgressTracker::postprocessPhase(const QString &name) {
    const QString lower = name.toLower();
    static const std::pair<QLatin1String, const char16_t *> phases[] = {
        {QLatin1String("merger"), u"Combinando video y audio…"},
        {QLatin1String("extractaudio"), u"Extrayendo y convirtiendo audio…"},
        {QLatin1String("videoconvert"), u"Convirtiendo video…"},
        {QLatin1String("videoremux"), u"Adaptando el contenedor…"},
        {QLatin1String("movefiles"), u"Guardando archivo…"},
        {QLatin1String("metadata"), u"Escribiendo metadatos…"},
    };
    for (const auto &[key, phase] : phases) {
        if (lower.contains(key))
            return QString::fromUtf16(phase);
    }
    return QStringLiteral("Procesando archivo…");
}

bool DownloadProgressTracker::isFFmpegProcessor(const QString &name) {
    const QString lower = name.toLower();
    for (const char *key : {"merger", "extractaudio", "videoconvert", "videoremux", "fixup"}) {
        if (lower.contains(QLatin1String(key)))
            return true;
    }
    return false;
}

void DownloadProgressTracker::consumePlan(const QString &payload) {
    // Ten numbers, then the chosen format's identifier: yt-dlp joins the identifiers of the
    // formats it will fetch with "+", so a single identifier is one transfer filling the bar, even
    // when the selector asked for a pair it could not find. The identifier is the site's text and
    // may itself hold a "|"; fewer than ten numbers are no plan yt-dlp wrote.
    const QStringList parts = DownloadOutputProtocol::fields(payload);
    if (parts.size() < 10)
        return;
    const QString formatID = parts.mid(10).join(QLatin1Char('|'));
    if (meaningfulValue(formatID)) {
        const qint64 transfers = formatID.count(QLatin1Char('+')) + 1;
        const QMutexLocker locker(&m_lock);
        m_plannedCount = transfers;
        if (transfers == 1)
            return;
    }
    struct Planned {
        std::optional<double> size;
        std::optional<double> bitrate;
    };
    auto planned = [&](qsizetype first) {
        Planned format;
        format.size = positiveAmount(parts.at(first));
        if (!format.size)
            format.size = positiveAmount(parts.at(first + 1));
        for (qsizetype i = first + 2; i <= first + 4 && !format.bitrate; ++i)
            format.bitrate = positiveAmount(parts.at(i));
        return format;
    };
    const Planned first = planned(0);
    const Planned second = planned(5);
    double a = 0;
    double b = 0;
    if (first.size && second.size) {
        a = *first.size;
        b = *second.size;
    } else if (first.bitrate && second.bitrate) {
        a = *first.bitrate;
        b = *second.bitrate;
    } else {
        return;
    }
    const double sum = a + b;
    if (!std::isfinite(sum) || sum <= 0)
        return;
    const QMutexLocker locker(&m_lock);
    m_plannedWeights = QList<double>{a / sum * reservedCap, b / sum * reservedCap};
}

void DownloadProgressTracker::consumeDownload(const QString &payload) {
    using DownloadOutputProtocol::field;
    const QStringList parts = DownloadOutputProtocol::fields(payload);
    const double raw = percentage(field(parts, 0));
    // A negative amount, speed, time or position is no amount at all: absent, never shown.
    const std::optional<qint64> downloaded = atLeast(integer(field(parts, 1)), 0);
    const std::optional<qint64> total = atLeast(integer(field(parts, 2)), 1);
    const std::optional<qint64> estimate = atLeast(integer(field(parts, 3)), 1);
    const std::optional<double> speed = finiteAtLeastZero(number(field(parts, 4)));
    const std::optional<double> remaining = finiteAtLeastZero(number(field(parts, 5)));
    const std::optional<qint64> indexField = atLeast(integer(field(parts, 6)), 1);
    const std::optional<qint64> countField = atLeast(integer(field(parts, 7)), 1);
    // The last three fields come from the site: a "|" inside one of them makes more than eleven
    // fields, and then none of the three can be told apart from its neighbours.
    const bool siteFieldsKnown = parts.size() <= 11;
    const std::optional<QString> formatID = siteFieldsKnown ? field(parts, 8) : std::nullopt;
    const std::optional<QString> videoCodec = siteFieldsKnown ? field(parts, 9) : std::nullopt;
    const std::optional<QString> audioCodec = siteFieldsKnown ? field(parts, 10) : std::nullopt;
    const std::optional<qint64> knownTotal = total ? total : estimate;

    // Thumbnails, subtitles and manifests finish in one line; showing them would flash a full bar.
    if (raw >= 0.999 && downloaded && knownTotal && *downloaded < tinyTransferBytes && *knownTotal < tinyTransferBytes)
        return;

    qint64 index = 1;
    qint64 count = 1;
    {
        const QMutexLocker locker(&m_lock);
        if (formatID && meaningfulValue(*formatID)) {
            qsizetype position = m_downloadFormatIDs.indexOf(*formatID);
            if (position < 0) {
                m_downloadFormatIDs.append(*formatID);
                position = m_downloadFormatIDs.size() - 1;
            }
            index = indexField ? *indexField : position + 1;
        } else if (indexField) {
            index = *indexField;
        } else {
            // yt-dlp says nothing about which transfer this is; a bar that restarts near zero
            // is the next one.
            if (raw + fallingFractionThreshold < m_lastRawDownloadFraction && m_fallbackDownloadIndex < expectedCount())
                ++m_fallbackDownloadIndex;
            index = m_fallbackDownloadIndex;
        }
        m_lastRawDownloadFraction = raw;
        index = std::max<qint64>(index, 1);
        count = std::max<qint64>({qint64(m_downloadFormatIDs.size()), countField.value_or(expectedCount()), 1});
    }

    const double fraction = weightedFraction(raw, index, count);
    const QString phase = downloadPhase(videoCodec, audioCodec, index, count);

    QString status = QStringLiteral("Descargando…");
    if (downloaded) {
        status = formattedByteCount(*downloaded);
        if (knownTotal && *knownTotal >= 1) {
            status += QStringLiteral(" de ");
            if (!total)
                status += QLatin1Char('~');
            status += formattedByteCount(*knownTotal);
        }
    }
    QString speedText;
    if (speed && fitsInt64(*speed))
        speedText = formattedByteCount(static_cast<qint64>(*speed)) + QStringLiteral("/s");
    QString etaText;
    if (remaining && fitsInt64(*remaining))
        etaText = QStringLiteral("Quedan ") + torvelDuration(*remaining);

    raiseAndEmit(downloadStage(fraction), phase, status, speedText, etaText);
}

void DownloadProgressTracker::consumePostprocess(const QString &payload) {
    const QStringList parts = DownloadOutputProtocol::fields(payload);
    const QString status = DownloadOutputProtocol::field(parts, 0).value_or(QString()).toLower();
    const QString name = DownloadOutputProtocol::field(parts, 1).value_or(QStringLiteral("FFmpeg"));
    // After an item taken from a list's page yt-dlp runs its list-level join, which does nothing
    // unless joining the videos was asked for: not a step of this download.
    if (name.endsWith(QLatin1String("Concat"), Qt::CaseInsensitive))
        return;
    if (status == QLatin1String("started"))
        raiseAndEmit(downloadStage(reservedCap), postprocessPhase(name),
                     QStringLiteral("Procesando con FFmpeg · progreso aproximado"));
    else if (status == QLatin1String("finished"))
        finishEstimator(name);
}

void DownloadProgressTracker::finishEstimator(const QString &name) {
    if (isFFmpegProcessor(name))
        raiseAndEmit(downloadStage(0.998), QStringLiteral("Finalizando archivo…"),
                     QStringLiteral("Combinación o conversión completada"));
    else
        raiseAndEmit(downloadStage(0.985), postprocessPhase(name), QStringLiteral("Preparando el resultado"));
}

double DownloadProgressTracker::weightedFraction(double raw, qint64 index, qint64 count) const {
    raw = std::clamp(raw, 0.0, 1.0);
    if (count < 2)
        return raw * (m_reservesPostProcessing ? reservedCap : singleTransferCap);
    index = std::clamp<qint64>(index, 1, count);

    std::optional<QList<double>> planned;
    {
        const QMutexLocker locker(&m_lock);
        planned = m_plannedWeights;
    }
    double fraction = 0;
    if (planned && planned->size() >= count) {
        for (qint64 i = 0; i < index - 1; ++i)
            fraction += planned->at(i);
        fraction += raw * planned->at(index - 1);
    } else if (count == 2) {
        const double weights[] = {0.5, 0.48};
        fraction = (index == 2 ? weights[0] : 0) + raw * weights[index - 1];
    } else {
        // The count comes from yt-dlp's output; equal shares are computed, never listed.
        const double share = reservedCap / double(count);
        fraction = double(index - 1) * share + raw * share;
    }
    return std::min(fraction, reservedCap);
}

void DownloadProgressTracker::raiseAndEmit(double floor, const QString &phase, const QString &status,
                                           const QString &speed, const QString &eta) {
    DownloadProgress progress{0, phase, status, speed, eta};
    {
        const QMutexLocker locker(&m_lock);
        if (floor > m_lastFraction)
            m_lastFraction = std::min(floor, 1.0);
        progress.fraction = m_lastFraction;
    }
    // The receiver may call back into the tracker, so the lock must be free here.
    if (m_emit)
        m_emit(progress);
}
