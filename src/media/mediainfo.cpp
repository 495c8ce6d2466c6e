#include "mediainfo.h"

#include "common/background.h"
#include "media/jsonfieldreader.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QLocale>
#include <QStringList>

#include <cmath>
#include <exception>
#include <limits>
#include <variant>

namespace {

const QString noStream = QStringLiteral("none");
const QString audioOnlyNote = QStringLiteral("audio only");

bool carriesStream(const std::optional<QString> &codec) {
    return codec && *codec != noStream;
}

// Sites fill these fields and yt-dlp passes them on unchecked. A value outside what the field can
// mean ("-720p", "-5,0 MB", a frame rate of 309 digits) is treated as absent, never shown.
constexpr qint64 largestDimension = 100'000;
constexpr double highestFrameRate = 1'000;

std::optional<qint64> within(std::optional<qint64> value, qint64 lowest, qint64 highest) {
    return value && *value >= lowest && *value <= highest ? value : std::nullopt;
}

std::optional<qint64> nonNegative(std::optional<qint64> value) {
    return within(value, 0, std::numeric_limits<qint64>::max());
}

std::optional<double> positive(std::optional<double> value, double highest = std::numeric_limits<double>::max()) {
    return value && std::isfinite(*value) && *value > 0 && *value <= highest ? value : std::nullopt;
}

MediaFormat decodeFormat(const QJsonObject &object, qsizetype position) {
    const JsonFieldReader read(object, JsonFieldReader::Place::inList(QLatin1String("formato"), position));
    MediaFormat format;
    format.formatID = read.requiredText(QLatin1String("format_id"));
    format.formatNote = read.text(QLatin1String("format_note"));
    format.ext = read.text(QLatin1String("ext"));
    format.resolution = read.text(QLatin1String("resolution"));
    format.width = within(read.integer(QLatin1String("width")), 1, largestDimension);
    format.height = within(read.integer(QLatin1String("height")), 1, largestDimension);
    format.fps = positive(read.number(QLatin1String("fps")), highestFrameRate);
    format.videoCodec = read.text(QLatin1String("vcodec"));
    format.audioCodec = read.text(QLatin1String("acodec"));
    format.fileSize = nonNegative(read.integer(QLatin1String("filesize")));
    format.approximateFileSize = nonNegative(read.integer(QLatin1String("filesize_approx")));
    format.totalBitrate = positive(read.number(QLatin1String("tbr")));
    format.videoBitrate = positive(read.number(QLatin1String("vbr")));
    format.audioBitrate = positive(read.number(QLatin1String("abr")));
    format.audioSampleRate = positive(read.number(QLatin1String("asr")));
    format.audioChannels = within(read.integer(QLatin1String("audio_channels")), 1, 1024);
    format.language = read.text(QLatin1String("language"));
    format.dynamicRange = read.text(QLatin1String("dynamic_range"));
    format.protocolName = read.text(QLatin1String("protocol"));
    return format;
}

QList<MediaFormat> decodeFormats(const QJsonObject &document) {
    const QJsonValue value = document.value(QLatin1String("formats"));
    if (value.isUndefined() || value.isNull())
        throw MediaDecodingError(QStringLiteral("Falta el campo obligatorio \"formats\"."));
    if (!value.isArray())
        throw MediaDecodingError(QStringLiteral("El campo \"formats\" debe ser una lista."));
    const QJsonArray array = value.toArray();
    QList<MediaFormat> formats;
    formats.reserve(array.size());
    qsizetype position = 0;
    for (const QJsonValue &entry : array) {
        ++position;
        if (!entry.isObject())
            throw MediaDecodingError(QStringLiteral("El formato %1 debe ser un objeto.").arg(position));
        formats.append(decodeFormat(entry.toObject(), position));
    }
    return formats;
}

// A language's tracks: a list of objects, of which the first with a "name" names it.
std::optional<SubtitleLanguage> decodeSubtitleLanguage(const QString &code, const QJsonValue &value,
                                                       QLatin1String field) {
    if (!value.isArray())
        throw MediaDecodingError(
            QStringLiteral("Los subtítulos \"%1\" del campo \"%2\" deben ser una lista.").arg(code, field));
    SubtitleLanguage language{code, std::nullopt};
    bool embeddable = false;
    qsizetype position = 0;
    for (const QJsonValue &track : value.toArray()) {
        ++position;
        if (!track.isObject())
            throw MediaDecodingError(
                QStringLiteral("La pista %1 de los subtítulos \"%2\" debe ser un objeto.").arg(position).arg(code));
        const QJsonObject object = track.toObject();
        const JsonFieldReader read(object, JsonFieldReader::Place::inFeminineList(QLatin1String("pista"), position));
        if (!language.name)
            if (const std::optional<QString> name = read.text(QLatin1String("name")); name && !name->isEmpty())
                language.name = name;
        // yt-dlp keeps a live stream's chat as "subtitles" in JSON; no container takes it.
        embeddable = embeddable || read.text(QLatin1String("ext")) != QStringLiteral("json");
    }
    if (!embeddable || code.isEmpty())
        return std::nullopt;
    return language;
}

QList<SubtitleLanguage> decodeSubtitles(const QJsonObject &document, QLatin1String field) {
    const QJsonValue value = document.value(field);
    if (value.isUndefined() || value.isNull())
        return {};
    if (!value.isObject())
        throw MediaDecodingError(QStringLiteral("El campo \"%1\" debe ser un objeto.").arg(field));
    QList<SubtitleLanguage> languages;
    const QJsonObject byCode = value.toObject();
    for (auto it = byCode.begin(); it != byCode.end(); ++it) // QJsonObject keeps its keys sorted
        if (std::optional<SubtitleLanguage> language = decodeSubtitleLanguage(it.key(), it.value(), field))
            languages.append(*std::move(language));
    return languages;
}

// Codec names are compared by family prefix in lower case: yt-dlp writes "avc1.64001F",
// "VP09.00.40.08" or "mp4a.40.2" depending on the site.
bool codecStartsWithAny(const QString &codec, std::initializer_list<QLatin1String> prefixes) {
    const QString lower = codec.toLower();
    for (QLatin1String prefix : prefixes)
        if (lower.startsWith(prefix))
            return true;
    return false;
}

} // namespace

MediaInfo MediaInfo::decode(const QByteArray &json) {
    return decode(JsonFieldReader::parseObject(json));
}

MediaInfo MediaInfo::decode(const QJsonObject &object) {
    const JsonFieldReader read(object);
    MediaInfo info;
    // A fixed reading order ("formats" before "webpage_url") makes a document with several
    // problems always report the same one.
    info.id = read.requiredText(QLatin1String("id"));
    info.title = read.requiredText(QLatin1String("title"));
    info.uploader = read.text(QLatin1String("uploader"));
    info.duration = read.number(QLatin1String("duration"));
    if (info.duration && !(std::isfinite(*info.duration) && *info.duration >= 0))
        info.duration.reset();
    info.thumbnail = read.text(QLatin1String("thumbnail"));
    info.formats = decodeFormats(object);
    info.webpageURL = read.text(QLatin1String("webpage_url"));
    info.subtitles = decodeSubtitles(object, QLatin1String("subtitles"));
    info.automaticCaptions = decodeSubtitles(object, QLatin1String("automatic_captions"));
    info.ext = read.text(QLatin1String("ext"));
    info.formatID = read.text(QLatin1String("format_id"));
    info.extractor = read.text(QLatin1String("extractor_key"));
    return info;
}

QCoro::Task<MediaInfo> MediaInfo::decodeInBackground(QByteArray json) {
    auto decoding = [json] { return decode(json); };
    co_return co_await Background::run(decoding);
}

QString SubtitleLanguage::label() const {
    return name ? QStringLiteral("%1 (%2)").arg(*name, code) : code;
}

bool MediaFormat::hasVideo() const {
    return carriesStream(videoCodec);
}

bool MediaFormat::hasAudio() const {
    return carriesStream(audioCodec);
}

QString MediaFormat::qualityLabel() const {
    if (!hasVideo())
        return QStringLiteral("Solo audio");
    if (height)
        return QString::number(*height) + QLatin1Char('p');
    if (formatNote && *formatNote != audioOnlyNote)
        return *formatNote;
    return QStringLiteral("Video");
}

QString MediaFormat::resolutionDetail() const {
    if (width && height)
        return QString::number(*width) + QChar(0x00D7) + QString::number(*height);
    if (formatNote && !formatNote->isEmpty() && *formatNote != audioOnlyNote)
        return *formatNote;
    if (!hasVideo())
        return QStringLiteral("Solo audio");
    return QStringLiteral("Resolución no informada");
}

QString MediaFormat::detailLabel() const {
    QStringList parts;
    if (ext)
        parts.append(ext->toUpper());
    if (formatNote && !formatNote->isEmpty() && *formatNote != qualityLabel())
        parts.append(*formatNote);
    if (fps && *fps > 0)
        // Printed from the rounded double so that no frame rate, however absurd, overflows an integer.
        parts.append(QString::number(std::round(*fps), 'f', 0) + QStringLiteral(" fps"));
    if (hasVideo() && !hasAudio())
        parts.append(QStringLiteral("sin audio"));
    if (hasAudio() && !hasVideo())
        parts.append(QStringLiteral("audio"));
    if (const std::optional<qint64> size = fileSize ? fileSize : approximateFileSize)
        parts.append(formattedByteCount(*size));
    return parts.join(QStringLiteral(" · "));
}

std::optional<QString> MediaFormat::videoCodecLabel() const {
    if (!hasVideo())
        return std::nullopt;
    if (codecStartsWithAny(*videoCodec, {QLatin1String("avc1"), QLatin1String("h264")}))
        return QStringLiteral("H.264");
    if (codecStartsWithAny(*videoCodec, {QLatin1String("av01"), QLatin1String("av1")}))
        return QStringLiteral("AV1");
    if (codecStartsWithAny(*videoCodec, {QLatin1String("vp9"), QLatin1String("vp09")}))
        return QStringLiteral("VP9");
    if (codecStartsWithAny(*videoCodec, {QLatin1String("hvc1"), QLatin1String("hev1"), QLatin1String("hevc")}))
        return QStringLiteral("HEVC");
    return videoCodec;
}

std::optional<QString> MediaFormat::audioCodecLabel() const {
    if (!hasAudio())
        return std::nullopt;
    if (codecStartsWithAny(*audioCodec, {QLatin1String("mp4a"), QLatin1String("aac")}))
        return QStringLiteral("AAC");
    if (codecStartsWithAny(*audioCodec, {QLatin1String("opus")}))
        return QStringLiteral("Opus");
    if (codecStartsWithAny(*audioCodec, {QLatin1String("vorbis")}))
        return QStringLiteral("Vorbis");
    if (codecStartsWithAny(*audioCodec, {QLatin1String("mp3")}))
        return QStringLiteral("MP3");
    return audioCodec;
}

namespace {

// Folds values into a hash in order; an optional adds whether it holds a value before the value,
// so an absent field and a present one never hash alike by accident.
class HashFolder {
public:
    explicit HashFolder(size_t seed) : m_hash(seed) {}

    template <typename T> HashFolder &add(const T &value) {
        m_hash = qHashMulti(m_hash, value);
        return *this;
    }
    template <typename T> HashFolder &add(const std::optional<T> &value) {
        return value ? add(true).add(*value) : add(false);
    }
    size_t result() const { return m_hash; }

private:
    size_t m_hash;
};

} // namespace

size_t qHash(const MediaFormat &format, size_t seed) {
    return HashFolder(seed)
        .add(format.formatID)
        .add(format.formatNote)
        .add(format.ext)
        .add(format.resolution)
        .add(format.width)
        .add(format.height)
        .add(format.fps)
        .add(format.videoCodec)
        .add(format.audioCodec)
        .add(format.fileSize)
        .add(format.approximateFileSize)
        .add(format.totalBitrate)
        .add(format.videoBitrate)
        .add(format.audioBitrate)
        .add(format.audioSampleRate)
        .add(format.audioChannels)
        .add(format.language)
        .add(format.dynamicRange)
        .add(format.protocolName)
        .result();
}

QString torvelDuration(double seconds) {
    // Beyond about 292 billion years the count no longer fits; such a value is meaningless.
    if (!std::isfinite(seconds) || seconds < 0 || seconds >= 9.0e18)
        return QStringLiteral("—");
    const auto total = static_cast<qint64>(std::round(seconds)); // halves away from zero
    const qint64 hours = total / 3600;
    const qint64 minutes = (total % 3600) / 60;
    const qint64 rest = total % 60;
    if (total < 3600)
        return QStringLiteral("%1:%2").arg(minutes).arg(rest, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2:%3")
        .arg(hours)
        .arg(minutes, 2, 10, QLatin1Char('0'))
        .arg(rest, 2, 10, QLatin1Char('0'));
}

QString formattedByteCount(qint64 bytes) {
    return QLocale().formattedDataSize(bytes, 1, QLocale::DataSizeSIFormat);
}
