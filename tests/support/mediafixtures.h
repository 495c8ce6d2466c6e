#pragma once

#include <QString>

// Media made by Debian's FFmpeg for tests that run the real yt-dlp.
namespace MediaFixtures {

bool toolsAvailable(); // /usr/bin/yt-dlp, /usr/bin/ffmpeg and /usr/bin/ffprobe exist

// A DASH presentation "manifest.mpd" in folder: two H.264 (4:2:0) video-only representations
// (640×360 and 320×180) and one AAC audio-only representation, `seconds` long.
// Returns false (with a warning) when FFmpeg fails.
bool makeDashPresentation(const QString &folder, int seconds = 3, int videoKbps = 600);

// A WebM file (VP9 video, 320×180, and Opus audio), `seconds` long. False when FFmpeg fails.
bool makeWebM(const QString &file, int seconds);

// The streams ffprobe finds in a file, e.g. "video,audio", or their codecs, e.g. "h264,aac".
QString streamTypes(const QString &file);
QString streamCodecs(const QString &file);
// The file's duration in seconds, as ffprobe reads it; 0 when it cannot.
double duration(const QString &file);

} // namespace MediaFixtures
