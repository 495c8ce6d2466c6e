#pragma once

#include "media/downloadchoice.h"
#include "media/mediasection.h"

#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

// The plain values that shape every yt-dlp command line of one run besides what is fetched:
// what the located yt-dlp understands and how it reaches the site.
struct YTDLPInvocation {
    QString version;                           // of the located yt-dlp; options it predates are left out
    QStringList javaScriptRuntimeArguments;    // as tool discovery located them
    std::optional<QString> cookiesFromBrowser; // "firefox", or "firefox:" and a profile folder
    std::optional<QString> cookiesFile;        // a file yt-dlp may read and rewrite
    int concurrentFragments = 1;               // fragments of a DASH or HLS format fetched at once
    // --proxy: an address, or an empty text for a direct connection; none lets yt-dlp read the
    // environment's proxy variables.
    std::optional<QString> proxy;
    std::optional<QString> limitRate; // --limit-rate, in yt-dlp's form ("500K"); downloads only
};

// Every yt-dlp command line is decided here, so the analysis and the download of an address
// never disagree about how the site is reached. Options come before "--", the address after it,
// so an address that begins with "-" is never taken for an option.
namespace YTDLPArguments {

// Fragments of a DASH or HLS format fetched at once unless the settings say otherwise: many
// servers limit what one connection carries, and yt-dlp's own default is one.
constexpr int defaultConcurrentFragments = 4;

// Whether the yt-dlp of this version can keep a stretch of a video (--download-sections).
bool supportsSections(const QString &version);

QStringList analysis(const QUrl &url, const YTDLPInvocation &invocation);
// What a download fetches: the address, or the document an analysis kept of it.
struct DownloadSource {
    QUrl url;
    // The address is a page of several videos and only this one (counted from 1) is fetched;
    // otherwise only the address's own item is, never a list.
    std::optional<qsizetype> playlistItem;
    // yt-dlp's document of the item: downloaded from it (--load-info-json), the page is not
    // fetched again.
    std::optional<QString> document;
    // Only this stretch of the video is kept.
    std::optional<MediaSection> section;
    // No analysis came first: yt-dlp also prints its document of the item (one JSON line) after
    // extracting the address and before fetching anything.
    bool printsDocument = false;
};
// `contents` reaches the file only through FFmpeg: without it (or with a yt-dlp older than
// 2021.09.01) the file carries its streams alone.
QStringList download(const DownloadSource &source, const DownloadChoice &choice, const QString &jobFolder,
                     const std::optional<QString> &ffmpegPath, const YTDLPInvocation &invocation,
                     const FileContents &contents = FileContents());

} // namespace YTDLPArguments
