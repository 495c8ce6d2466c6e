#pragma once

#include "common/torvelerror.h"
#include "media/analysisdocument.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <QCoroTask>

#include <memory>
#include <optional>

// One downloadable format of an analyzed item, as yt-dlp describes it.
struct MediaFormat {
    QString formatID;                          // "format_id", required
    std::optional<QString> formatNote;         // "format_note"
    std::optional<QString> ext;                // "ext"
    std::optional<QString> resolution;         // "resolution"
    std::optional<qint64> width;               // "width"
    std::optional<qint64> height;              // "height"
    std::optional<double> fps;                 // "fps"
    std::optional<QString> videoCodec;         // "vcodec"
    std::optional<QString> audioCodec;         // "acodec"
    std::optional<qint64> fileSize;            // "filesize", bytes
    std::optional<qint64> approximateFileSize; // "filesize_approx", bytes
    std::optional<double> totalBitrate;        // "tbr", kbit/s
    std::optional<double> videoBitrate;        // "vbr", kbit/s
    std::optional<double> audioBitrate;        // "abr", kbit/s
    std::optional<double> audioSampleRate;     // "asr", Hz
    std::optional<qint64> audioChannels;       // "audio_channels"
    std::optional<QString> language;           // "language"
    std::optional<QString> dynamicRange;       // "dynamic_range"
    std::optional<QString> protocolName;       // "protocol"

    const QString &id() const { return formatID; }
    // A codec of "none" (exactly) means the stream is absent.
    bool hasVideo() const;
    bool hasAudio() const;

    QString qualityLabel() const;
    QString resolutionDetail() const;
    QString detailLabel() const; // sizes in the user's locale, decimal units
    std::optional<QString> videoCodecLabel() const;
    std::optional<QString> audioCodecLabel() const;

    bool operator==(const MediaFormat &) const = default;
};

size_t qHash(const MediaFormat &format, size_t seed = 0);

// One language of a page's subtitles or automatic captions: yt-dlp's code for it ("es", "en-US")
// and, when the site names it, that name ("Español").
struct SubtitleLanguage {
    QString code;
    std::optional<QString> name;

    // "Español (es)", or the code alone.
    QString label() const;
    bool operator==(const SubtitleLanguage &) const = default;
};

// The analyzed item.
struct MediaInfo {
    QString id;                        // "id", required
    QString title;                     // "title", required
    std::optional<QString> uploader;   // "uploader"
    std::optional<double> duration;    // "duration", seconds
    std::optional<QString> thumbnail;  // "thumbnail"
    std::optional<QString> webpageURL; // "webpage_url"
    std::optional<QString> extractor;  // "extractor_key": with the id, names the video for the history
    QList<MediaFormat> formats;        // "formats", required
    // "subtitles" and "automatic_captions", each sorted by code; a language whose tracks are
    // all of a kind nothing can embed (a live chat's replay) is left out.
    QList<SubtitleLanguage> subtitles;
    QList<SubtitleLanguage> automaticCaptions;
    // "ext" and "format_id": what yt-dlp's own choice of formats (the best video with the best
    // audio, when it found FFmpeg) makes of the item.
    std::optional<QString> ext;
    std::optional<QString> formatID;
    // yt-dlp's document as the analysis kept it; absent: the download extracts the address.
    std::shared_ptr<const AnalysisDocument> document;

    bool operator==(const MediaInfo &) const = default;

    // Strict decoding of yt-dlp's document: no coercion between kinds, integer fields reject
    // fractions, any mismatch fails the whole document. Throws MediaDecodingError.
    static MediaInfo decode(const QByteArray &json);
    static MediaInfo decode(const QJsonObject &document);
    // The same on a worker thread, so a multi-megabyte document never stalls the interface.
    static QCoro::Task<MediaInfo> decodeInBackground(QByteArray json);
};

// Why a document could not be decoded (Spanish, or Qt's parser text for a syntax error).
class MediaDecodingError : public TorvelError {
public:
    explicit MediaDecodingError(QString description) : m_description(std::move(description)) {}
    QString errorDescription() const override { return m_description; }

private:
    QString m_description;
};

// "1:15", "1:02:05", or "—" for a negative or non-finite duration.
QString torvelDuration(double seconds);
// Bytes in the user's locale with decimal units ("12,3 MB" in Spanish).
QString formattedByteCount(qint64 bytes);
