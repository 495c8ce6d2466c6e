#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// "MP4 compatible" promises a file that plays everywhere: H.264 video and AAC audio in an MP4
// container. When a page offers no such format, yt-dlp hands over something else (VP9 and Opus
// in WebM, AV1 in MP4) and FFmpeg converts it. These are the plain pieces of that step: what
// FFprobe found, whether it must be converted, FFmpeg's command line and its progress reports.
namespace CompatibleMP4 {

struct Probe {
    QStringList formatNames;        // FFmpeg's names of the container, e.g. "mov", "mp4", "m4a", …
    QStringList videoCodecs;        // one per video stream: "h264", "vp9", …
    QStringList audioCodecs;        // one per audio stream: "aac", "opus", …
    std::optional<double> duration; // seconds
    int coverPictures = 0;          // video streams that are a cover picture, in none of the above
};

// FFprobe's command line for a file, and its JSON answer. Throws MediaDecodingError.
QStringList probeArguments(const QString &file);
Probe decodeProbe(const QByteArray &json);

// Whether a file with these streams must be converted. Audio alone stays as it is.
bool needsConversion(const Probe &probe, const QString &file);

// FFmpeg's command line: what is already H.264 or AAC is copied, the rest re-encoded; progress
// reports go to standard output.
QStringList conversionArguments(const QString &input, const QString &output, const Probe &probe);

// One of FFmpeg's "-progress" reports, a "key=value" line.
struct Report {
    std::optional<double> position; // seconds converted so far
    std::optional<double> speed;    // times real time
};
// The line's report; nothing for a line that carries neither value.
std::optional<Report> parseProgressLine(const QString &line);

} // namespace CompatibleMP4
