#pragma once

#include "media/mediainfo.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QUrl>

#include <QCoroTask>

#include <functional>
#include <memory>
#include <optional>
#include <variant>

// One video of a list, as yt-dlp names it without extracting it.
struct PlaylistEntry {
    QString title;                 // "title"; the entry's address, or "Video N", when it has none
    std::optional<QUrl> url;       // an http or https address; absent: the entry cannot be downloaded
    std::optional<qsizetype> item; // the entry has no address but the list's own page: its number there
    std::optional<double> duration;
    std::optional<QString> thumbnail;
    // The entry's own document when the list's document carries it whole (several videos of one
    // page); absent: the entry is extracted from its address when it is downloaded.
    std::shared_ptr<const AnalysisDocument> document;

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
    // onWholeEntry is told of every downloadable entry the document carries whole, with its
    // position in `entries`.
    using WholeEntryCallback = std::function<void(qsizetype index, const QJsonObject &entry)>;
    static PlaylistInfo decode(const QJsonObject &document, const WholeEntryCallback &onWholeEntry = {});
};

// What an analysis finds: one item, or a list of them.
using MediaAnalysis = std::variant<MediaInfo, PlaylistInfo>;

namespace MediaAnalyses {
// Decodes yt-dlp's document as a list or as an item. Throws MediaDecodingError.
MediaAnalysis decode(const QByteArray &json);
// The same, writing into `folder` the item's document, or each entry that a list carries whole,
// for the download (MediaInfo::document, PlaylistEntry::document, which do not hold the folder
// yet). A document that cannot be written is left out: that download extracts its address.
MediaAnalysis decode(const QByteArray &json, const QString &folder);
// The same on a worker thread.
QCoro::Task<MediaAnalysis> decodeInBackground(QByteArray json, QString folder = QString());
// Makes every document of the analysis hold `folder`, on the thread that keeps the analysis:
// what the worker handed over may outlive it in a finished future's results.
void holdDocuments(MediaAnalysis &analysis, const std::shared_ptr<const AnalysisDocument::Folder> &folder);
} // namespace MediaAnalyses
