#pragma once

#include "common/torvelerror.h"
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

// What goes into the file besides its streams.
struct FileContents {
    QStringList subtitles;         // codes of the page's subtitles, embedded with their language
    QStringList automaticCaptions; // codes of its automatic captions, likewise
    bool metadata = false;         // title, artist, date, description, page address and chapters
    bool cover = false;            // the thumbnail as cover art
    // The thumbnail as cover art if the file's container, unknown before the download, keeps one:
    // yt-dlp writes it beside the file and FFmpeg puts it in afterwards.
    bool coverIfHeld = false;

    bool operator==(const FileContents &) const = default;
};

// Which of a page's subtitle languages a request means. A language matches its own code (in any
// case) or, failing that, the first code of its family ("es" finds "es-419").
namespace SubtitleRequests {
// The first language of `preferences` ("es, en") among the page's subtitles (never its automatic
// captions, which are chosen only on purpose); nothing when the page has none of them.
std::optional<QString> preferred(const QString &preferences, const MediaInfo &media);
// The languages `request` names ("es", "es,en", "all": every language of its subtitles), each
// from the page's subtitles or else from its automatic captions. Throws SubtitleRequestError
// for a language the page does not have, or "all" on a page without subtitles.
QStringList resolve(const QString &request, const MediaInfo &media);
} // namespace SubtitleRequests

class SubtitleRequestError : public TorvelError {
public:
    explicit SubtitleRequestError(QString description) : m_description(std::move(description)) {}
    QString errorDescription() const override { return m_description; }

private:
    QString m_description;
};

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
    // Codes of the page's subtitles or automatic captions to embed; empty for none ("Ninguno").
    QStringList selectedSubtitles;

    QList<DownloadChoice> standardChoices() const;
    QList<MediaFormat> exactFormats() const;
    QList<DownloadChoice> exactChoices() const;
    QList<MediaFormat> audioOnlyFormats() const;
    std::optional<MediaFormat> selectedVideoOnlyFormat() const;
    DownloadChoice selectedChoice() const;
    ConversionOutlook compatibleMP4Outlook() const;
    // Whether the selected choice keeps a picture, so that subtitles mean something in it.
    bool selectedChoiceHasVideo() const;
    // The container the selected choice ends in, as far as the analysis tells: "mp4", "webm",
    // "mkv", "m4a", "mp3"…; nothing when it cannot tell.
    std::optional<QString> expectedContainer() const;
    // What the selected choice's file carries: the selected subtitles (none for audio) and, with
    // `embedMetadata`, the metadata, the chapters and, in a container that holds one, the cover.
    FileContents fileContents(bool embedMetadata) const;

    void selectChoice(const DownloadChoice &choice);

    bool operator==(const ChoiceSelection &) const = default;
};
