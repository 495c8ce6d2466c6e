#include "downloadchoice.h"

#include "media/coverart.h"

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

// Extensions yt-dlp merges into the video's own container: the MP4 family, and WebM with WebM.
// Any other pair ends in MKV.
bool mp4Family(const QString &ext) {
    static const QStringList family{QStringLiteral("mp3"),  QStringLiteral("mp4"), QStringLiteral("m4a"),
                                    QStringLiteral("m4p"),  QStringLiteral("m4b"), QStringLiteral("m4r"),
                                    QStringLiteral("m4v"),  QStringLiteral("ism"), QStringLiteral("ismv"),
                                    QStringLiteral("isma"), QStringLiteral("mov")};
    return family.contains(ext);
}

std::optional<QString> mergedContainer(const std::optional<QString> &video, const std::optional<QString> &audio) {
    if (!video || !audio)
        return std::nullopt;
    if ((mp4Family(*video) && mp4Family(*audio)) || (*video == QLatin1String("webm") && *audio == *video))
        return video;
    return QStringLiteral("mkv");
}

// The page's code that `wanted` means among `languages`: its own, else the first of its family.
std::optional<QString> matchingCode(const QString &wanted, const QList<SubtitleLanguage> &languages) {
    for (const SubtitleLanguage &language : languages)
        if (language.code.compare(wanted, Qt::CaseInsensitive) == 0)
            return language.code;
    const QString family = wanted + QLatin1Char('-');
    for (const SubtitleLanguage &language : languages)
        if (language.code.startsWith(family, Qt::CaseInsensitive))
            return language.code;
    return std::nullopt;
}

QStringList codesOf(const QList<SubtitleLanguage> &languages) {
    QStringList codes;
    for (const SubtitleLanguage &language : languages)
        codes.append(language.code);
    return codes;
}

QStringList requestedLanguages(const QString &request) {
    QStringList languages;
    for (const QString &part : request.split(QLatin1Char(',')))
        if (const QString language = part.trimmed(); !language.isEmpty() && !languages.contains(language))
            languages.append(language);
    return languages;
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

bool ChoiceSelection::selectedChoiceHasVideo() const {
    const DownloadChoice choice = selectedChoice();
    switch (choice.kind.value) {
    case DownloadChoice::Kind::Case::audio:
        return false;
    case DownloadChoice::Kind::Case::exactFormat:
        if (mediaInfo)
            for (const MediaFormat &format : mediaInfo->formats)
                if (format.formatID == choice.kind.formatID)
                    return format.hasVideo();
        return true;
    case DownloadChoice::Kind::Case::recommended:
    case DownloadChoice::Kind::Case::mp4:
        return true;
    }
    Q_UNREACHABLE();
}

std::optional<QString> ChoiceSelection::expectedContainer() const {
    const DownloadChoice choice = selectedChoice();
    if (choice.kind.value == DownloadChoice::Kind::Case::audio)
        return AudioExportFormats::rawValue(audioExportFormat);
    if (!mediaInfo)
        return std::nullopt;
    const QList<MediaFormat> &formats = mediaInfo->formats;
    const auto formatNamed = [&formats](const QString &id) -> std::optional<MediaFormat> {
        for (const MediaFormat &format : formats)
            if (format.formatID == id)
                return format;
        return std::nullopt;
    };
    switch (choice.kind.value) {
    case DownloadChoice::Kind::Case::audio:
        break;
    case DownloadChoice::Kind::Case::mp4:
        // Merged into MP4 or an MP4 file as it is; only a page without MP4 ends elsewhere.
        if (std::any_of(formats.cbegin(), formats.cend(),
                        [](const MediaFormat &format) { return format.hasVideo() && format.ext == u"mp4"; }))
            return QStringLiteral("mp4");
        return std::nullopt;
    case DownloadChoice::Kind::Case::exactFormat: {
        const std::optional<MediaFormat> video = formatNamed(choice.kind.formatID);
        if (!video)
            return std::nullopt;
        if (!choice.formatSelector.contains(QLatin1Char('+')))
            return video->ext;
        const std::optional<MediaFormat> audio = formatNamed(choice.formatSelector.section(QLatin1Char('+'), 1));
        return audio ? mergedContainer(video->ext, audio->ext) : std::nullopt;
    }
    case DownloadChoice::Kind::Case::recommended: {
        // yt-dlp's own choice during the analysis is this one when it merged there too, or when
        // there is nothing to merge; otherwise only one family of extensions tells.
        const bool merged = mediaInfo->formatID && mediaInfo->formatID->contains(QLatin1Char('+'));
        const bool nothingToMerge = audioOnlyFormats().isEmpty();
        if (mediaInfo->ext && (merged || nothingToMerge))
            return mediaInfo->ext;
        const bool allMP4 =
            !formats.isEmpty() && std::all_of(formats.cbegin(), formats.cend(), [](const MediaFormat &f) {
                return (!f.hasVideo() && !f.hasAudio()) || (f.ext && mp4Family(*f.ext));
            });
        if (allMP4)
            return QStringLiteral("mp4");
        return std::nullopt;
    }
    }
    Q_UNREACHABLE();
}

FileContents ChoiceSelection::fileContents(bool embedMetadata) const {
    FileContents contents;
    if (mediaInfo && selectedChoiceHasVideo())
        for (const QString &code : selectedSubtitles) {
            if (matchingCode(code, mediaInfo->subtitles) == code)
                contents.subtitles.append(code);
            else if (matchingCode(code, mediaInfo->automaticCaptions) == code)
                contents.automaticCaptions.append(code);
        }
    contents.metadata = embedMetadata;
    if (embedMetadata) {
        const std::optional<QString> container = expectedContainer();
        contents.cover = container && CoverArt::holdsCover(*container);
        // Unknown before yt-dlp has run: the thumbnail is written beside the file and becomes
        // its cover afterwards when the file can keep one.
        contents.coverIfHeld = !container;
    }
    return contents;
}

namespace SubtitleRequests {

std::optional<QString> preferred(const QString &preferences, const MediaInfo &media) {
    for (const QString &language : requestedLanguages(preferences))
        if (std::optional<QString> code = matchingCode(language, media.subtitles))
            return code;
    return std::nullopt;
}

QStringList resolve(const QString &request, const MediaInfo &media) {
    const QStringList subtitles = codesOf(media.subtitles);
    const QStringList captions = codesOf(media.automaticCaptions);
    const auto available = [&] {
        QStringList parts;
        if (!subtitles.isEmpty())
            parts.append(QStringLiteral("subtítulos: ") + subtitles.join(QStringLiteral(", ")));
        if (!captions.isEmpty())
            parts.append(QStringLiteral("subtítulos automáticos: ") + captions.join(QStringLiteral(", ")));
        return parts.isEmpty() ? QStringLiteral("Esta página no tiene subtítulos.")
                               : QStringLiteral("La página tiene %1.").arg(parts.join(QStringLiteral("; ")));
    };
    QStringList codes;
    QStringList missing;
    for (const QString &language : requestedLanguages(request)) {
        if (language.compare(QLatin1String("all"), Qt::CaseInsensitive) == 0) {
            if (subtitles.isEmpty()) {
                QString what = available();
                what[0] = what.at(0).toLower(); // "…, pero la página tiene…"
                throw SubtitleRequestError(QStringLiteral("«all» pide todos los subtítulos, pero ") + what);
            }
            for (const QString &code : subtitles)
                if (!codes.contains(code))
                    codes.append(code);
            continue;
        }
        std::optional<QString> code = matchingCode(language, media.subtitles);
        if (!code)
            code = matchingCode(language, media.automaticCaptions);
        if (!code)
            missing.append(language);
        else if (!codes.contains(*code))
            codes.append(*code);
    }
    if (!missing.isEmpty())
        throw SubtitleRequestError(
            QStringLiteral("No hay subtítulos en %1 para esta dirección. ").arg(missing.join(QStringLiteral(", "))) +
            available());
    return codes;
}

} // namespace SubtitleRequests
