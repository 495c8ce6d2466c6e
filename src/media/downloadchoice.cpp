#include "downloadchoice.h"

#include <algorithm>

namespace AudioExportFormats {

QList<AudioExportFormat> allCases() {
    return {AudioExportFormat::m4a, AudioExportFormat::mp3};
}

QString rawValue(AudioExportFormat format) {
    switch (format) {
    case AudioExportFormat::m4a:
        return QStringLiteral("m4a");
    case AudioExportFormat::mp3:
        return QStringLiteral("mp3");
    }
    Q_UNREACHABLE();
}

std::optional<AudioExportFormat> fromRawValue(const QString &raw) {
    for (AudioExportFormat format : allCases())
        if (rawValue(format) == raw)
            return format;
    return std::nullopt;
}

QString label(AudioExportFormat format) {
    return rawValue(format).toUpper();
}

QString description(AudioExportFormat format) {
    switch (format) {
    case AudioExportFormat::m4a:
        return QStringLiteral("Buena calidad y compatibilidad con dispositivos Apple");
    case AudioExportFormat::mp3:
        return QStringLiteral("Compatibilidad amplia con reproductores y equipos antiguos");
    }
    Q_UNREACHABLE();
}

} // namespace AudioExportFormats

namespace {

const QString exactPrefix = QStringLiteral("format-");

DownloadChoice::Kind exactKind(const QString &formatID) {
    return {DownloadChoice::Kind::Case::exactFormat, formatID};
}

double totalBitrateRank(const MediaFormat &format) {
    return format.totalBitrate.value_or(0);
}

} // namespace

DownloadChoice DownloadChoice::recommended() {
    return {QStringLiteral("recommended"),
            QStringLiteral("Mejor calidad"),
            QStringLiteral("Video y audio en la mejor combinación disponible"),
            QStringLiteral("sparkles.tv"),
            {Kind::Case::recommended, {}},
            QStringLiteral("bv*+ba/b"),
            {}};
}

DownloadChoice DownloadChoice::compatibleMP4() {
    return {QStringLiteral("compatible-mp4"),
            QStringLiteral("MP4 compatible"),
            QStringLiteral("Prioriza H.264 y audio M4A para amplia compatibilidad"),
            QStringLiteral("play.rectangle"),
            {Kind::Case::mp4, {}},
            QStringLiteral("bv*[ext=mp4][vcodec^=avc1]+ba[ext=m4a]/b[ext=mp4]/bv*[ext=mp4]+ba[ext=m4a]/b"),
            {QStringLiteral("--merge-output-format"), QStringLiteral("mp4")}};
}

DownloadChoice DownloadChoice::audio(AudioExportFormat format) {
    return {QStringLiteral("audio-only"),
            QStringLiteral("Solo audio"),
            QStringLiteral("Extrae el audio en ") + AudioExportFormats::label(format),
            QStringLiteral("waveform"),
            {Kind::Case::audio, {}},
            QStringLiteral("ba/b"),
            {QStringLiteral("--extract-audio"), QStringLiteral("--audio-format"), AudioExportFormats::rawValue(format),
             QStringLiteral("--audio-quality"), QStringLiteral("0")}};
}

DownloadChoice DownloadChoice::exact(const MediaFormat &format) {
    return {exactPrefix + format.formatID,
            format.qualityLabel(),
            format.detailLabel(),
            format.hasVideo() ? QStringLiteral("film") : QStringLiteral("waveform"),
            exactKind(format.formatID),
            format.formatID,
            {}};
}

DownloadChoice DownloadChoice::combined(const MediaFormat &video, const MediaFormat &audio) {
    return {QStringLiteral("combined-") + video.formatID + QLatin1Char('-') + audio.formatID,
            video.qualityLabel() + QStringLiteral(" + audio"),
            QStringLiteral("Video ") + video.formatID + QStringLiteral(" combinado con audio ") + audio.formatID,
            QStringLiteral("rectangle.stack.badge.plus"),
            exactKind(video.formatID),
            video.formatID + QLatin1Char('+') + audio.formatID,
            {}};
}

size_t qHash(const DownloadChoice &choice, size_t seed) {
    size_t hash =
        qHashMulti(seed, choice.id, choice.title, choice.subtitle, choice.icon, static_cast<int>(choice.kind.value));
    if (choice.kind.value == DownloadChoice::Kind::Case::exactFormat)
        hash = qHashMulti(hash, choice.kind.formatID);
    return qHashMulti(hash, choice.formatSelector, choice.extraArguments);
}

QList<DownloadChoice> ChoiceSelection::standardChoices() const {
    return {DownloadChoice::recommended(), DownloadChoice::compatibleMP4(), DownloadChoice::audio(audioExportFormat)};
}

QList<MediaFormat> ChoiceSelection::exactFormats() const {
    if (!mediaInfo)
        return {};
    QList<MediaFormat> formats;
    std::copy_if(mediaInfo->formats.cbegin(), mediaInfo->formats.cend(), std::back_inserter(formats),
                 [](const MediaFormat &format) { return format.hasVideo() || format.hasAudio(); });
    // Stable, so formats that tie keep yt-dlp's own order, which already ranks them.
    std::stable_sort(formats.begin(), formats.end(), [](const MediaFormat &a, const MediaFormat &b) {
        const qint64 heightA = a.height.value_or(0);
        const qint64 heightB = b.height.value_or(0);
        if (heightA != heightB)
            return heightA > heightB;
        return totalBitrateRank(a) > totalBitrateRank(b);
    });
    return formats;
}

QList<DownloadChoice> ChoiceSelection::exactChoices() const {
    const QList<MediaFormat> formats = exactFormats();
    QList<DownloadChoice> choices;
    choices.reserve(formats.size());
    for (const MediaFormat &format : formats)
        choices.append(DownloadChoice::exact(format));
    return choices;
}

QList<MediaFormat> ChoiceSelection::audioOnlyFormats() const {
    if (!mediaInfo)
        return {};
    QList<MediaFormat> formats;
    std::copy_if(mediaInfo->formats.cbegin(), mediaInfo->formats.cend(), std::back_inserter(formats),
                 [](const MediaFormat &format) { return format.hasAudio() && !format.hasVideo(); });
    std::stable_sort(formats.begin(), formats.end(), [](const MediaFormat &a, const MediaFormat &b) {
        return totalBitrateRank(a) > totalBitrateRank(b);
    });
    return formats;
}

std::optional<MediaFormat> ChoiceSelection::selectedVideoOnlyFormat() const {
    if (!selectedChoiceID.startsWith(exactPrefix) || !mediaInfo)
        return std::nullopt;
    const QString formatID = selectedChoiceID.mid(exactPrefix.size());
    // The first format under that ID is the one meant, even when yt-dlp lists the ID twice.
    const auto found = std::find_if(mediaInfo->formats.cbegin(), mediaInfo->formats.cend(),
                                    [&formatID](const MediaFormat &format) { return format.formatID == formatID; });
    if (found == mediaInfo->formats.cend() || !found->hasVideo() || found->hasAudio())
        return std::nullopt;
    return *found;
}

DownloadChoice ChoiceSelection::selectedChoice() const {
    if (const std::optional<MediaFormat> video = selectedVideoOnlyFormat(); video && selectedAudioFormatID) {
        for (const MediaFormat &audio : audioOnlyFormats())
            if (audio.formatID == *selectedAudioFormatID)
                return DownloadChoice::combined(*video, audio);
    }
    for (const DownloadChoice &choice : standardChoices())
        if (choice.id == selectedChoiceID)
            return choice;
    for (const DownloadChoice &choice : exactChoices())
        if (choice.id == selectedChoiceID)
            return choice;
    return DownloadChoice::recommended();
}

ConversionOutlook ChoiceSelection::compatibleMP4Outlook() const {
    if (!mediaInfo)
        return ConversionOutlook::possible;
    const QList<MediaFormat> &formats = mediaInfo->formats;
    const auto any = [&formats](auto predicate) { return std::any_of(formats.cbegin(), formats.cend(), predicate); };
    if (any([](const MediaFormat &format) { return format.videoCodecLabel() == QLatin1String("H.264"); }))
        return ConversionOutlook::unlikely;
    if (any([](const MediaFormat &format) { return format.hasVideo(); }))
        return ConversionOutlook::expected;
    // Every format says it has no video: audio alone, which stays as it is.
    if (!formats.isEmpty() && !any([](const MediaFormat &format) { return !format.videoCodec; }))
        return ConversionOutlook::unlikely;
    return ConversionOutlook::possible;
}

void ChoiceSelection::selectChoice(const DownloadChoice &choice) {
    selectedChoiceID = choice.id;
    if (!selectedVideoOnlyFormat())
        return;
    const QList<MediaFormat> audioFormats = audioOnlyFormats();
    const auto pairedWithListedAudio = [&] {
        return std::any_of(audioFormats.cbegin(), audioFormats.cend(),
                           [this](const MediaFormat &format) { return format.formatID == *selectedAudioFormatID; });
    };
    if (selectedAudioFormatID && pairedWithListedAudio())
        return;
    selectedAudioFormatID =
        audioFormats.isEmpty() ? std::nullopt : std::optional<QString>(audioFormats.constFirst().formatID);
}
