#include "ytdlparguments.h"

#include "media/downloadoutputprotocol.h"
#include "tools/versioncomparison.h"

namespace {

// The first versions of yt-dlp that know these options.
const QString javaScriptRuntimesSince = QStringLiteral("2025.11.12");
const QString progressDeltaSince = QStringLiteral("2024.04.09");
const QString concurrentFragmentsSince = QStringLiteral("2021.03.15");
// --embed-chapters is the youngest of the options that put subtitles, metadata and a cover
// into the file.
const QString fileContentsSince = QStringLiteral("2021.09.01");
const QString downloadSectionsSince = QStringLiteral("2022.06.22");

// What the analysis and the download share: the JavaScript runtime, the cookies and the proxy.
QStringList siteAccess(const YTDLPInvocation &invocation) {
    QStringList arguments;
    if (invocation.proxy)
        arguments << QStringLiteral("--proxy") << *invocation.proxy;
    if (VersionComparison::isAtLeast(invocation.version, javaScriptRuntimesSince))
        arguments << invocation.javaScriptRuntimeArguments;
    if (invocation.cookiesFromBrowser)
        arguments << QStringLiteral("--cookies-from-browser") << *invocation.cookiesFromBrowser;
    if (invocation.cookiesFile)
        arguments << QStringLiteral("--cookies") << *invocation.cookiesFile;
    return arguments;
}

// --sub-langs takes regular expressions: a code stands for itself only.
QString literalLanguage(const QString &code) {
    static const QString special = QStringLiteral("\\.^$*+?()[]{}|-");
    QString escaped;
    for (const QChar character : code) {
        if (special.contains(character))
            escaped += QLatin1Char('\\');
        escaped += character;
    }
    return escaped;
}

QStringList fileContentArguments(const FileContents &contents) {
    QStringList arguments;
    const QStringList languages = contents.subtitles + contents.automaticCaptions;
    if (!languages.isEmpty()) {
        QStringList patterns;
        for (const QString &code : languages)
            patterns.append(literalLanguage(code));
        // --embed-subs fetches the chosen subtitles itself and removes them once embedded (MP4
        // gets mov_text, Matroska and WebM keep them as they come); automatic captions are fetched
        // only when asked for, and then the page's own subtitles only when asked for too.
        if (!contents.automaticCaptions.isEmpty())
            arguments << QStringLiteral("--write-auto-subs");
        if (!contents.subtitles.isEmpty() && !contents.automaticCaptions.isEmpty())
            arguments << QStringLiteral("--write-subs");
        arguments << QStringLiteral("--sub-langs") << patterns.join(QLatin1Char(',')) << QStringLiteral("--embed-subs");
    }
    if (contents.metadata)
        arguments << QStringLiteral("--embed-metadata") << QStringLiteral("--embed-chapters");
    // A cover in WebP is no cover for MP4 or MP3: every cover travels as JPEG.
    if (contents.cover)
        arguments << QStringLiteral("--embed-thumbnail") << QStringLiteral("--convert-thumbnails")
                  << QStringLiteral("jpg");
    // Whether the container keeps a cover shows only once the file is there: yt-dlp (which fails
    // the whole run on a cover for WebM) only writes the picture beside it.
    else if (contents.coverIfHeld)
        arguments << QStringLiteral("--write-thumbnail") << QStringLiteral("--convert-thumbnails")
                  << QStringLiteral("jpg");
    return arguments;
}

} // namespace

namespace YTDLPArguments {

bool supportsSections(const QString &version) {
    return VersionComparison::isAtLeast(version, downloadSectionsSince);
}

QStringList analysis(const QUrl &url, const YTDLPInvocation &invocation) {
    QStringList arguments = siteAccess(invocation);
    arguments << QStringLiteral("--dump-single-json") << QStringLiteral("--skip-download")
              << QStringLiteral("--no-playlist") << QStringLiteral("--flat-playlist") << QStringLiteral("--")
              << url.toString(QUrl::FullyEncoded);
    return arguments;
}

QStringList download(const DownloadSource &source, const DownloadChoice &choice, const QString &jobFolder,
                     const std::optional<QString> &ffmpegPath, const YTDLPInvocation &invocation,
                     const FileContents &contents) {
    using namespace DownloadOutputProtocol;
    QStringList arguments = siteAccess(invocation);
    // A saved file is dated when it was saved, not when the server last changed it, so that it
    // shows among the newest in its folder.
    arguments << QStringLiteral("--newline") << QStringLiteral("--progress") << QStringLiteral("--no-mtime");
    if (VersionComparison::isAtLeast(invocation.version, progressDeltaSince))
        arguments << QStringLiteral("--progress-delta") << QStringLiteral("0.2");
    if (VersionComparison::isAtLeast(invocation.version, concurrentFragmentsSince))
        arguments << QStringLiteral("--concurrent-fragments") << QString::number(invocation.concurrentFragments);
    if (invocation.limitRate)
        arguments << QStringLiteral("--limit-rate") << *invocation.limitRate;
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
    const bool hasFFmpeg = ffmpegPath && !ffmpegPath->isEmpty();
    if (hasFFmpeg)
        arguments << QStringLiteral("--ffmpeg-location") << *ffmpegPath;
    arguments << choice.extraArguments;
    if (hasFFmpeg && VersionComparison::isAtLeast(invocation.version, fileContentsSince))
        arguments << fileContentArguments(contents);
    // Cut by FFmpeg while it downloads, without re-encoding: the stretch starts at the key frame
    // before the start and the file's duration stays within a second of what was asked.
    if (source.section && supportsSections(invocation.version))
        arguments << QStringLiteral("--download-sections") << source.section->ytDLPValue();
    if (source.printsDocument)
        arguments << QStringLiteral("--dump-json") << QStringLiteral("--no-simulate");
    if (source.document)
        arguments << QStringLiteral("--load-info-json") << *source.document;
    else
        arguments << QStringLiteral("--") << source.url.toString(QUrl::FullyEncoded);
    return arguments;
}

} // namespace YTDLPArguments
