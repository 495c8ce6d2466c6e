#include "mediafixtures.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>

using namespace Qt::StringLiterals;

namespace MediaFixtures {

bool toolsAvailable() {
    for (const char *tool : {"/usr/bin/yt-dlp", "/usr/bin/ffmpeg", "/usr/bin/ffprobe"}) {
        if (!QFileInfo(QString::fromLatin1(tool)).isExecutable())
            return false;
    }
    return true;
}

namespace {

// Runs FFmpeg on a generated test picture of `size` and a tone, `seconds` long; `options` (split
// at spaces) and then `tail` say what it makes of them.
bool encodeTestSignal(const QString &size, int seconds, const QString &options, const QStringList &tail,
                      const QString &folder = {}) {
    const QString duration = QString::number(seconds);
    QProcess ffmpeg;
    ffmpeg.setWorkingDirectory(folder);
    ffmpeg.start(u"/usr/bin/ffmpeg"_s, u"-hide_banner -loglevel error -y -f lavfi -i"_s.split(u' ') +
                                           QStringList{u"testsrc=size=%1:rate=25:duration=%2"_s.arg(size, duration),
                                                       u"-f"_s, u"lavfi"_s, u"-i"_s, u"sine=duration="_s + duration} +
                                           options.split(u' ') + tail);
    if (!ffmpeg.waitForFinished(120'000) || ffmpeg.exitStatus() != QProcess::NormalExit || ffmpeg.exitCode() != 0) {
        qWarning("ffmpeg failed: %s", ffmpeg.readAllStandardError().constData());
        return false;
    }
    return true;
}

QString probed(const QString &file, const QString &entry) {
    QProcess ffprobe;
    ffprobe.start(u"/usr/bin/ffprobe"_s,
                  {u"-v"_s, u"error"_s, u"-show_entries"_s, entry, u"-of"_s, u"csv=p=0"_s, file});
    if (!ffprobe.waitForFinished(30'000) || ffprobe.exitCode() != 0)
        return {};
    return QString::fromUtf8(ffprobe.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts).join(u',');
}

} // namespace

bool makeDashPresentation(const QString &folder, int seconds, int videoKbps) {
    QDir().mkpath(folder);
    const QString options = u"-map 0:v -map 0:v -map 1:a -c:v libx264 -pix_fmt yuv420p -preset ultrafast -g 25 "
                            u"-keyint_min 25 -sc_threshold 0 -b:v:0 %1k -s:v:1 320x180 "
                            "-b:v:1 %2k -c:a aac -b:a 96k -f dash -seg_duration 1 -use_template 1 -use_timeline 0 "
                            "-adaptation_sets"_s.arg(videoKbps)
                                .arg(videoKbps / 3);
    return encodeTestSignal(u"640x360"_s, seconds, options, {u"id=0,streams=v id=1,streams=a"_s, u"manifest.mpd"_s},
                            folder) &&
           QFileInfo::exists(folder + u"/manifest.mpd"_s);
}

bool makeWebM(const QString &file, int seconds) {
    return encodeTestSignal(u"320x180"_s, seconds,
                            u"-c:v libvpx-vp9 -deadline realtime -cpu-used 8 -b:v 200k -c:a libopus"_s, {file});
}

QString streamTypes(const QString &file) {
    return probed(file, u"stream=codec_type"_s);
}

QString streamCodecs(const QString &file) {
    return probed(file, u"stream=codec_name"_s);
}

double duration(const QString &file) {
    return probed(file, u"format=duration"_s).toDouble();
}

} // namespace MediaFixtures
