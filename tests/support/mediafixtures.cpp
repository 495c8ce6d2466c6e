#include "mediafixtures.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>

namespace MediaFixtures {

bool toolsAvailable() {
    for (const char *tool : {"/usr/bin/yt-dlp", "/usr/bin/ffmpeg", "/usr/bin/ffprobe"}) {
        if (!QFileInfo(QString::fromLatin1(tool)).isExecutable())
            return false;
    }
    return true;
}

bool makeDashPresentation(const QString &folder, int seconds, int videoKbps) {
    QDir().mkpath(folder);
    const QString duration = QString::number(seconds);
    QProcess ffmpeg;
    ffmpeg.setWorkingDirectory(folder);
    ffmpeg.start(QStringLiteral("/usr/bin/ffmpeg"),
                 {QStringLiteral("-hide_banner"),
                  QStringLiteral("-loglevel"),
                  QStringLiteral("error"),
                  QStringLiteral("-y"),
                  QStringLiteral("-f"),
                  QStringLiteral("lavfi"),
                  QStringLiteral("-i"),
                  QStringLiteral("testsrc=size=640x360:rate=25:duration=") + duration,
                  QStringLiteral("-f"),
                  QStringLiteral("lavfi"),
                  QStringLiteral("-i"),
                  QStringLiteral("sine=frequency=440:sample_rate=44100:duration=") + duration,
                  QStringLiteral("-map"),
                  QStringLiteral("0:v"),
                  QStringLiteral("-map"),
                  QStringLiteral("0:v"),
                  QStringLiteral("-map"),
                  QStringLiteral("1:a"),
                  QStringLiteral("-c:v"),
                  QStringLiteral("libx264"),
                  QStringLiteral("-preset"),
                  QStringLiteral("ultrafast"),
                  QStringLiteral("-b:v:0"),
                  QStringLiteral("%1k").arg(videoKbps),
                  QStringLiteral("-s:v:1"),
                  QStringLiteral("320x180"),
                  QStringLiteral("-b:v:1"),
                  QStringLiteral("%1k").arg(videoKbps / 3),
                  QStringLiteral("-c:a"),
                  QStringLiteral("aac"),
                  QStringLiteral("-b:a"),
                  QStringLiteral("96k"),
                  QStringLiteral("-f"),
                  QStringLiteral("dash"),
                  QStringLiteral("-seg_duration"),
                  QStringLiteral("1"),
                  QStringLiteral("-use_template"),
                  QStringLiteral("1"),
                  QStringLiteral("-use_timeline"),
                  QStringLiteral("0"),
                  QStringLiteral("-adaptation_sets"),
                  QStringLiteral("id=0,streams=v id=1,streams=a"),
                  QStringLiteral("manifest.mpd")});
    if (!ffmpeg.waitForFinished(120'000) || ffmpeg.exitStatus() != QProcess::NormalExit || ffmpeg.exitCode() != 0) {
        qWarning("ffmpeg failed: %s", ffmpeg.readAllStandardError().constData());
        return false;
    }
    return QFileInfo::exists(folder + QStringLiteral("/manifest.mpd"));
}

bool makeWebM(const QString &file, int seconds) {
    const QString duration = QString::number(seconds);
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("/usr/bin/ffmpeg"),
                 {QStringLiteral("-hide_banner"),
                  QStringLiteral("-loglevel"),
                  QStringLiteral("error"),
                  QStringLiteral("-y"),
                  QStringLiteral("-f"),
                  QStringLiteral("lavfi"),
                  QStringLiteral("-i"),
                  QStringLiteral("testsrc=size=320x180:rate=25:duration=") + duration,
                  QStringLiteral("-f"),
                  QStringLiteral("lavfi"),
                  QStringLiteral("-i"),
                  QStringLiteral("sine=duration=") + duration,
                  QStringLiteral("-c:v"),
                  QStringLiteral("libvpx-vp9"),
                  QStringLiteral("-deadline"),
                  QStringLiteral("realtime"),
                  QStringLiteral("-cpu-used"),
                  QStringLiteral("8"),
                  QStringLiteral("-b:v"),
                  QStringLiteral("200k"),
                  QStringLiteral("-c:a"),
                  QStringLiteral("libopus"),
                  file});
    if (!ffmpeg.waitForFinished(120'000) || ffmpeg.exitStatus() != QProcess::NormalExit || ffmpeg.exitCode() != 0) {
        qWarning("ffmpeg failed: %s", ffmpeg.readAllStandardError().constData());
        return false;
    }
    return true;
}

namespace {

QString streamEntries(const QString &file, const QString &entry) {
    QProcess ffprobe;
    ffprobe.start(QStringLiteral("/usr/bin/ffprobe"),
                  {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_entries"),
                   QStringLiteral("stream=") + entry, QStringLiteral("-of"), QStringLiteral("csv=p=0"), file});
    if (!ffprobe.waitForFinished(30'000) || ffprobe.exitCode() != 0)
        return {};
    return QString::fromUtf8(ffprobe.readAllStandardOutput())
        .split(QLatin1Char('\n'), Qt::SkipEmptyParts)
        .join(QLatin1Char(','));
}

} // namespace

QString streamTypes(const QString &file) {
    return streamEntries(file, QStringLiteral("codec_type"));
}

QString streamCodecs(const QString &file) {
    return streamEntries(file, QStringLiteral("codec_name"));
}

} // namespace MediaFixtures
