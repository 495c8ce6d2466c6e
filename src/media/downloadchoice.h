#pragma once

#include "media/mediainfo.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

enum class AudioExportFormat { m4a, mp3 };

namespace AudioExportFormats {
QList<AudioExportFormat> allCases();
QString rawValue(AudioExportFormat format);                             // "m4a", "mp3"
std::optional<AudioExportFormat> fromRawValue(const QString &rawValue); // nothing for any other text
QString label(AudioExportFormat format);                                // "M4A", "MP3"
QString description(AudioExportFormat format);
} // namespace AudioExportFormats

// One way of downloading the analyzed item.
struct DownloadChoice {
    struct Kind {
        enum class Case { recommended, mp4, audio, exactFormat };
        Case value = Case::recommended;
        QString formatID; // only for exactFormat

        bool operator==(const Kind &) const = default;
    };

    QString id;
    QString title;
    QString subtitle;
    QString icon; // a system icon name, drawn through the icon table of the interface
    Kind kind;
    QString formatSelector; // handed to yt-dlp with --format
    QStringList extraArguments;

    bool operator==(const DownloadChoice &) const = default;

    static DownloadChoice recommended();
    static DownloadChoice compatibleMP4();
    static DownloadChoice audio(AudioExportFormat format);
    static DownloadChoice exact(const MediaFormat &format);
    static DownloadChoice combined(const MediaFormat &video, const MediaFormat &audio);
};

size_t qHash(const DownloadChoice &choice, size_t seed = 0);

// Whether "MP4 compatible" will end in a conversion to H.264 and AAC, as far as an analysis tells.
enum class ConversionOutlook {
    unlikely, // the page offers H.264, or only audio
    possible, // no analysis, or formats that name no codec
    expected, // video, none of it H.264
};

// The user's selection and the choices derived from it. The application model keeps one and
// the command line builds one, so both resolve a selection the same way. Nothing is cached:
// every read derives afresh.
struct ChoiceSelection {
    std::optional<MediaInfo> mediaInfo;
    QString selectedChoiceID = QStringLiteral("recommended");
    std::optional<QString> selectedAudioFormatID;
    AudioExportFormat audioExportFormat = AudioExportFormat::m4a;

    QList<DownloadChoice> standardChoices() const;
    QList<MediaFormat> exactFormats() const;
    QList<DownloadChoice> exactChoices() const;
    QList<MediaFormat> audioOnlyFormats() const;
    std::optional<MediaFormat> selectedVideoOnlyFormat() const;
    DownloadChoice selectedChoice() const;
    ConversionOutlook compatibleMP4Outlook() const;

    void selectChoice(const DownloadChoice &choice);

    bool operator==(const ChoiceSelection &) const = default;
};
