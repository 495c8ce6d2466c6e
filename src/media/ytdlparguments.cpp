#include "ytdlparguments.h"

#include "media/downloadoutputprotocol.h"
#include "tools/versioncomparison.h"

namespace {

// The first versions of yt-dlp that know these options.
const QString javaScriptRuntimesSince = QStringLiteral("2025.11.12");
const QString progressDeltaSince = QStringLiteral("2024.04.09");
const QString concurrentFragmentsSince = QStringLiteral("2021.03.15");

// What the analysis and the download share: the JavaScript runtime and the cookies.
QStringList siteAccess(const YTDLPInvocation &invocation) {
    QStringList arguments;
    if (VersionComparison::isAtLeast(invocation.version, javaScriptRuntimesSince))
        arguments << invocation.javaScriptRuntimeArguments;
    if (invocation.cookiesFromBrowser)
        arguments << QStringLiteral("--cookies-from-browser") << *invocation.cookiesFromBrowser;
    if (invocation.cookiesFile)
        arguments << QStringLiteral("--cookies") << *invocation.cookiesFile;
    return arguments;
}

} // namespace

namespace YTDLPArguments {

QStringList analysis(const QUrl &url, const YTDLPInvocation &invocation) {
    QStringList arguments = siteAccess(invocation);
    arguments << QStringLiteral("--dump-single-json") << QStringLiteral("--skip-download")
              << QStringLiteral("--no-playlist") << QStringLiteral("--flat-playlist") << QStringLiteral("--")
              << url.toString(QUrl::FullyEncoded);
    return arguments;
}

QStringList download(const DownloadSource &source, const DownloadChoice &choice, const QString &jobFolder,
                     const std::optional<QString> &ffmpegPath, const YTDLPInvocation &invocation) {
    using namespace DownloadOutputProtocol;
    QStringList arguments = siteAccess(invocation);
    // A saved file is dated when it was saved, not when the server last changed it, so that it
    // shows among the newest in its folder.
    arguments << QStringLiteral("--newline") << QStringLiteral("--progress") << QStringLiteral("--no-mtime");
    if (VersionComparison::isAtLeast(invocation.version, progressDeltaSince))
        arguments << QStringLiteral("--progress-delta") << QStringLiteral("0.2");
    if (VersionComparison::isAtLeast(invocation.version, concurrentFragmentsSince))
        arguments << QStringLiteral("--concurrent-fragments") << QString::number(invocation.concurrentFragments);
    if (source.playlistItem)
        arguments << QStringLiteral("--yes-playlist") << QStringLiteral("--playlist-items")
                  << QString::number(*source.playlistItem);
    else
        arguments << QStringLiteral("--no-playlist");
    arguments << QStringLiteral("--retries") << QStringLiteral("3") << QStringLiteral("--fragment-retries")
              << QStringLiteral("3") << QStringLiteral("--progress-template") << downloadProgressTemplate()
              << QStringLiteral("--progress-template") << postprocessProgressTemplate() << QStringLiteral("--print")
              << planPrintTemplate() << QStringLiteral("--print") << filePrintTemplate() << QStringLiteral("--paths")
              << jobFolder << QStringLiteral("--output") << QStringLiteral("%(title).180B [%(id)s].%(ext)s")
              << QStringLiteral("--format") << choice.formatSelector;
    if (ffmpegPath && !ffmpegPath->isEmpty())
        arguments << QStringLiteral("--ffmpeg-location") << *ffmpegPath;
    arguments << choice.extraArguments;
    if (source.printsDocument)
        arguments << QStringLiteral("--dump-json") << QStringLiteral("--no-simulate");
    if (source.document)
        arguments << QStringLiteral("--load-info-json") << *source.document;
    else
        arguments << QStringLiteral("--") << source.url.toString(QUrl::FullyEncoded);
    return arguments;
}

} // namespace YTDLPArguments
