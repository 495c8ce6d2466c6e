#pragma once

#include "media/mediainfo.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QUrl>

#include <QCoroTask>

#include <optional>
#include <variant>

// One video of a list, as yt-dlp names it without extracting it.
struct PlaylistEntry {
    QString title;                 // "title"; the entry's address, or "Video N", when it has none
    std::optional<QUrl> url;       // an http or https address; absent: the entry cannot be downloaded
    std::optional<qsizetype> item; // the entry has no address but the list's own page: its number there
    std::optional<double> duration;
    std::optional<QString> thumbnail;

    bool isDownloadable() const { return url.has_value(); }
    bool operator==(const PlaylistEntry &) const = default;
};

// A playlist, channel or page with several videos: a media value of its own, never an item.
struct PlaylistInfo {
    // What the window and the command line keep of a list; the rest is only counted.
    static constexpr qsizetype maximumEntries = 10'000;

    std::optional<QString> id;
    QString title; // "title"; the id, or "Lista sin título", when it has none
    std::optional<QString> uploader;
    std::optional<QString> webpageURL;
    QList<PlaylistEntry> entries; // in order; lists inside the list are flattened into it
    qsizetype omittedEntryCount = 0;

    qsizetype entryCount() const { return entries.size() + omittedEntryCount; }
    qsizetype downloadableCount() const;
    // "… y 12 más" when entries were left out; empty otherwise.
    QString omittedEntriesText() const;

    bool operator==(const PlaylistInfo &) const = default;

    // Whether a document describes a list: its "_type" is "playlist", or it has "entries" and no
    // "formats".
    static bool describesList(const QJsonObject &document);
    // Strict, bounded decoding (at most maximumEntries kept). Throws MediaDecodingError.
    static PlaylistInfo decode(const QJsonObject &document);
};

// What an analysis finds: one item, or a list of them.
using MediaAnalysis = std::variant<MediaInfo, PlaylistInfo>;

namespace MediaAnalyses {
// Decodes yt-dlp's document as a list or as an item. Throws MediaDecodingError.
MediaAnalysis decode(const QByteArray &json);
// The same on a worker thread.
QCoro::Task<MediaAnalysis> decodeInBackground(QByteArray json);
} // namespace MediaAnalyses
