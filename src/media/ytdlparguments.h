#pragma once

#include "media/downloadchoice.h"

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
};

// Every yt-dlp command line is decided here, so the analysis and the download of an address
// never disagree about how the site is reached. Options come before "--", the address after it,
// so an address that begins with "-" is never taken for an option.
namespace YTDLPArguments {

QStringList analysis(const QUrl &url, const YTDLPInvocation &invocation);
// playlistItem: the address is a page of several videos and only this one (counted from 1) is
// fetched; otherwise only the address's own item is, never a list.
QStringList download(const QUrl &url, const DownloadChoice &choice, const QString &jobFolder,
                     const std::optional<QString> &ffmpegPath, const YTDLPInvocation &invocation,
                     std::optional<qsizetype> playlistItem = std::nullopt);

} // namespace YTDLPArguments
