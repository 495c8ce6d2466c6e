// How long decoding a large yt-dlp document takes, next to what Qt's JSON parser alone needs for
// the same bytes. The difference is what MediaInfo::decode adds.
#include "media/mediainfo.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

namespace {

// About what yt-dlp prints for a long video on a site that lists many DASH and HLS renditions:
// every format carries all the keys MediaInfo reads plus the bulky ones it ignores (fragment
// lists, request headers, downloader options).
QByteArray largeDocument(qsizetype targetBytes) {
    const QStringList videoCodecs{QStringLiteral("avc1.640028"), QStringLiteral("vp09.00.40.08"),
                                  QStringLiteral("av01.0.08M.08"), QStringLiteral("none")};
    const QStringList audioCodecs{QStringLiteral("none"), QStringLiteral("mp4a.40.2"), QStringLiteral("opus")};
    const QList<int> heights{144, 240, 360, 480, 720, 1080, 1440, 2160};

    QJsonArray fragments;
    for (int index = 0; index < 60; ++index)
        fragments.append(QJsonObject{{QStringLiteral("url"), QStringLiteral("https://rr3---sn-example.googlevideo.com/"
                                                                            "videoplayback/sq/%1/range/0-1048576")
                                                                 .arg(index)},
                                     {QStringLiteral("duration"), 5.005}});
    const QJsonObject headers{
        {QStringLiteral("User-Agent"),
         QStringLiteral(
             "Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/120.0 Safari/537.36")},
        {QStringLiteral("Accept"), QStringLiteral("text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8")},
        {QStringLiteral("Accept-Language"), QStringLiteral("en-us,en;q=0.5")},
        {QStringLiteral("Sec-Fetch-Mode"), QStringLiteral("navigate")}};

    QJsonArray formats;
    QByteArray probe;
    for (int index = 0; probe.size() < targetBytes; ++index) {
        const int height = heights.at(index % heights.size());
        const QString videoCodec = videoCodecs.at(index % videoCodecs.size());
        const QString audioCodec = audioCodecs.at(index % audioCodecs.size());
        const QString id = QString::number(100 + index);
        formats.append(QJsonObject{
            {QStringLiteral("format_id"), id},
            {QStringLiteral("format_note"), QStringLiteral("%1p").arg(height)},
            {QStringLiteral("ext"), QStringLiteral("mp4")},
            {QStringLiteral("resolution"), QStringLiteral("%1x%2").arg(height * 16 / 9).arg(height)},
            {QStringLiteral("width"), height * 16 / 9},
            {QStringLiteral("height"), height},
            {QStringLiteral("fps"), 29.97},
            {QStringLiteral("vcodec"), videoCodec},
            {QStringLiteral("acodec"), audioCodec},
            {QStringLiteral("filesize"), 1'000'000 + index * 12'345},
            {QStringLiteral("filesize_approx"), 1'100'000 + index * 12'345},
            {QStringLiteral("tbr"), 100.5 + index},
            {QStringLiteral("vbr"), 90.25 + index},
            {QStringLiteral("abr"), 128.0},
            {QStringLiteral("asr"), 48000},
            {QStringLiteral("audio_channels"), 2},
            {QStringLiteral("language"), QStringLiteral("es")},
            {QStringLiteral("dynamic_range"), QStringLiteral("SDR")},
            {QStringLiteral("protocol"), QStringLiteral("https")},
            {QStringLiteral("url"), QStringLiteral("https://rr3---sn-example.googlevideo.com/videoplayback?expire="
                                                   "1700000000&ei=abcdef&ip=203.0.113.7&id=o-%1&itag=%1")
                                        .arg(id)},
            {QStringLiteral("manifest_url"),
             QStringLiteral("https://manifest.googlevideo.com/api/manifest/dash/id/%1").arg(id)},
            {QStringLiteral("quality"), index % 10},
            {QStringLiteral("has_drm"), false},
            {QStringLiteral("source_preference"), -1},
            {QStringLiteral("container"), QStringLiteral("mp4_dash")},
            {QStringLiteral("fragment_base_url"), QStringLiteral("https://rr3---sn-example.googlevideo.com/")},
            {QStringLiteral("fragments"), fragments},
            {QStringLiteral("http_headers"), headers},
            {QStringLiteral("downloader_options"), QJsonObject{{QStringLiteral("http_chunk_size"), 10485760}}},
            {QStringLiteral("format"), QStringLiteral("%1 - %2p").arg(id).arg(height)},
        });
        if (index % 16 == 0)
            probe = QJsonDocument(QJsonObject{{QStringLiteral("formats"), formats}}).toJson(QJsonDocument::Compact);
    }

    QJsonArray thumbnails;
    for (int index = 0; index < 40; ++index)
        thumbnails.append(
            QJsonObject{{QStringLiteral("url"), QStringLiteral("https://i.ytimg.com/vi/abc/%1.jpg").arg(index)},
                        {QStringLiteral("preference"), -index},
                        {QStringLiteral("id"), QString::number(index)}});
    const QJsonObject document{
        {QStringLiteral("id"), QStringLiteral("dQw4w9WgXcQ")},
        {QStringLiteral("title"), QStringLiteral("Un vídeo largo con muchísimos formatos")},
        {QStringLiteral("uploader"), QStringLiteral("Canal de ejemplo")},
        {QStringLiteral("duration"), 7261.5},
        {QStringLiteral("thumbnail"), QStringLiteral("https://i.ytimg.com/vi/abc/maxresdefault.jpg")},
        {QStringLiteral("webpage_url"), QStringLiteral("https://www.youtube.com/watch?v=dQw4w9WgXcQ")},
        {QStringLiteral("description"), QString(4000, QLatin1Char('x'))},
        {QStringLiteral("thumbnails"), thumbnails},
        {QStringLiteral("http_headers"), headers},
        {QStringLiteral("formats"), formats},
    };
    return QJsonDocument(document).toJson(QJsonDocument::Compact); // as yt-dlp prints it
}

} // namespace

class BenchMediaInfo : public QObject {
    Q_OBJECT

private:
    QByteArray m_json;
    qsizetype m_formatCount = 0;

private Q_SLOTS:
    void initTestCase() {
        m_json = largeDocument(5 * 1000 * 1000);
        m_formatCount = MediaInfo::decode(m_json).formats.size();
        qInfo("document: %lld bytes, %lld formats", static_cast<long long>(m_json.size()),
              static_cast<long long>(m_formatCount));
    }

    void parseOnly() {
        QBENCHMARK {
            const QJsonDocument document = QJsonDocument::fromJson(m_json);
            QVERIFY(document.isObject());
        }
    }

    void decode() {
        QBENCHMARK {
            const MediaInfo info = MediaInfo::decode(m_json);
            QCOMPARE(info.formats.size(), m_formatCount);
        }
    }
};

QTEST_GUILESS_MAIN(BenchMediaInfo)
#include "bench_mediainfo.moc"
