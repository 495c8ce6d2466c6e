#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// A download whose container was unknown before yt-dlp ran gets its cover afterwards: yt-dlp
// writes the thumbnail as a JPEG beside the file, and FFmpeg copies both into a new file, the
// picture put where each container keeps a cover (as yt-dlp itself does when it embeds one).
namespace CoverArt {

// Whether a file of this extension can keep a cover with FFmpeg alone: the MP4 family, MP3 and
// Matroska. WebM takes none; Ogg and FLAC would need more than FFmpeg.
bool holdsCover(const QString &extension);

// The JPEG yt-dlp wrote beside `media`: the same name with ".jpg".
QString thumbnailBeside(const QString &media);

// FFmpeg's command line that writes `media` with `cover` into `output` (of the same extension);
// `videoStreams` counts the video streams `media` already has, cover pictures included. Nothing
// for an extension that keeps no cover.
std::optional<QStringList> embeddingArguments(const QString &media, const QString &cover, const QString &output,
                                              int videoStreams);

} // namespace CoverArt
