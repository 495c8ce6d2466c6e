#include "media/mediainfo.h"

#include <QLocale>
#include <QSet>
#include <QTest>

#include "common/blockingwait.h"

#include <cmath>
#include <limits>

// Formats are written with designated initializers naming only the fields a case is about; every
// other field is meant to stay absent.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

Q_DECLARE_METATYPE(MediaFormat)

namespace {

// A minimal item around the given format list.
QByteArray withFormats(const QByteArray &formats) {
    return QByteArray(R"({"id": "abc", "title": "Título", "formats": [)") + formats + "]}";
}

QString orAbsent(const std::optional<QString> &text) {
    return text.value_or(QStringLiteral("<ninguno>"));
}

} // namespace

class TestMediaInfo : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::Spanish, QLocale::Spain)); }

    void decodesEveryKeyOfARealDocument() {
        // Each raw literal stays on one line: moc takes a "//" inside a raw string that spans lines for
        // a comment and then misses the test class.
        const QByteArray json =
            R"({"id": "dQw4w9WgXcQ", "title": "Canción", "uploader": null, "duration": 212,)"
            R"("webpage_url": "https://example.com/v", "view_count": 12, "http_headers": {"Accept": "text/html"},)"
            R"("formats": [{"format_id": "137", "format_note": "1080p", "ext": "mp4", "resolution": "1920x1080",)"
            R"("width": 1920, "height": 1080, "fps": 29.97, "vcodec": "avc1.640028", "acodec": "none",)"
            R"("filesize": 12345678, "filesize_approx": 12000000, "tbr": 4400.5, "vbr": 4400, "abr": null,)"
            R"("asr": 44100, "audio_channels": 2, "language": "es", "dynamic_range": "SDR", "protocol": "https",)"
            R"("fragments": [{"url": "https://example.com/1", "duration": 5.0}], "quality": 10}]})";
        const MediaInfo info = MediaInfo::decode(json);
        QCOMPARE(info.id, QStringLiteral("dQw4w9WgXcQ"));
        QCOMPARE(info.title, QStringLiteral("Canción"));
        QCOMPARE(info.uploader, std::nullopt);
        QCOMPARE(info.duration, 212.0);
        QCOMPARE(info.thumbnail, std::nullopt);
        QCOMPARE(info.webpageURL, QStringLiteral("https://example.com/v"));
        const MediaFormat expected{.formatID = QStringLiteral("137"),
                                   .formatNote = QStringLiteral("1080p"),
                                   .ext = QStringLiteral("mp4"),
                                   .resolution = QStringLiteral("1920x1080"),
                                   .width = 1920,
                                   .height = 1080,
                                   .fps = 29.97,
                                   .videoCodec = QStringLiteral("avc1.640028"),
                                   .audioCodec = QStringLiteral("none"),
                                   .fileSize = 12345678,
                                   .approximateFileSize = 12000000,
                                   .totalBitrate = 4400.5,
                                   .videoBitrate = 4400.0,
                                   .audioBitrate = std::nullopt,
                                   .audioSampleRate = 44100.0,
                                   .audioChannels = 2,
                                   .language = QStringLiteral("es"),
                                   .dynamicRange = QStringLiteral("SDR"),
                                   .protocolName = QStringLiteral("https")};
        QCOMPARE(info.formats, QList<MediaFormat>{expected});
    }

    void acceptedNumberShapes_data() {
        QTest::addColumn<QByteArray>("format");
        QTest::addColumn<MediaFormat>("expected");
        const QString id = QStringLiteral("f");
        QTest::newRow("integer in a double field")
            << QByteArray(R"({"format_id": "f", "fps": 30})") << MediaFormat{.formatID = id, .fps = 30.0};
        QTest::newRow("whole fraction in an integer field")
            << QByteArray(R"({"format_id": "f", "height": 720.0, "filesize": 1e3})")
            << MediaFormat{.formatID = id, .height = 720, .fileSize = 1000};
        QTest::newRow("64-bit extreme size")
            << QByteArray(R"({"format_id": "f", "filesize": 9223372036854775807})")
            << MediaFormat{.formatID = id, .fileSize = std::numeric_limits<qint64>::max()};
        QTest::newRow("negative or absurd values are absent")
            << QByteArray(R"({"format_id": "f", "width": -9223372036854775808, "height": -720, "filesize": -5000000, )"
                          R"("filesize_approx": -1, "fps": 1e308, "tbr": -1, "abr": 0, "audio_channels": -2})")
            << MediaFormat{.formatID = id};
        QTest::newRow("null and missing are both absent")
            << QByteArray(R"({"format_id": "f", "height": null, "vcodec": null, "tbr": null})")
            << MediaFormat{.formatID = id};
    }
    void acceptedNumberShapes() {
        QFETCH(QByteArray, format);
        QFETCH(MediaFormat, expected);
        QCOMPARE(MediaInfo::decode(withFormats(format)).formats, QList<MediaFormat>{expected});
    }

    void emptyFormatListIsAnItemWithoutFormats() { QVERIFY(MediaInfo::decode(withFormats({})).formats.isEmpty()); }

    void rejectsTheWholeDocument_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("message");
        const QByteArray good = R"({"format_id": "a"}, {"format_id": "b"}, )";
        QTest::newRow("fraction in an integer field, third format")
            << withFormats(good + R"({"format_id": "c", "filesize": 1.5})")
            << QStringLiteral("El campo \"filesize\" del formato 3 debe ser un número entero.");
        QTest::newRow("whole number beyond 64 bits")
            << withFormats(R"({"format_id": "a", "height": 1e30})")
            << QStringLiteral("El campo \"height\" del formato 1 debe ser un número entero.");
        QTest::newRow("one past the largest integer")
            << withFormats(R"({"format_id": "a", "filesize_approx": 9223372036854775808})")
            << QStringLiteral("El campo \"filesize_approx\" del formato 1 debe ser un número entero.");
        QTest::newRow("number written as text") << withFormats(R"({"format_id": "a", "tbr": "128"})")
                                                << QStringLiteral("El campo \"tbr\" del formato 1 debe ser un número.");
        QTest::newRow("number as text field")
            << withFormats(good + R"({"format_id": 22})")
            << QStringLiteral("El campo \"format_id\" del formato 3 debe ser un texto.");
        QTest::newRow("missing format id")
            << withFormats(R"({"format_id": "a"}, {"ext": "mp4"})")
            << QStringLiteral("Falta el campo obligatorio \"format_id\" en el formato 2.");
        QTest::newRow("format that is not an object")
            << withFormats(R"({"format_id": "a"}, "b")") << QStringLiteral("El formato 2 debe ser un objeto.");
        QTest::newRow("formats missing") << QByteArray(R"({"id": "a", "title": "t"})")
                                         << QStringLiteral("Falta el campo obligatorio \"formats\".");
        QTest::newRow("required title null") << QByteArray(R"({"id": "a", "title": null, "formats": []})")
                                             << QStringLiteral("Falta el campo obligatorio \"title\".");
        QTest::newRow("top-level array") << QByteArray(R"([{"id": "a", "title": "t", "formats": []}])")
                                         << QStringLiteral("El documento JSON debe ser un objeto.");
        QTest::newRow("truncated") << QByteArray(R"({"id": "a", "title": "t", "formats": [)")
                                   << QStringLiteral("JSON no válido: unterminated array (posición 38)");
        QTest::newRow("number too large for a double")
            << QByteArray(R"({"id": "a", "duration": 1e400})")
            << QStringLiteral("JSON no válido: illegal number (posición 29)");
        QTest::newRow("NaN") << QByteArray(R"({"id": "a", "duration": NaN})")
                             << QStringLiteral("JSON no válido: illegal number (posición 24)");
        QTest::newRow("bytes that are not UTF-8")
            << QByteArray("{\"id\": \"caf\xe9\", \"title\": \"t\"}")
            << QStringLiteral("JSON no válido: invalid UTF8 string (posición 11)");
        QTest::newRow("nested beyond the parser's limit")
            << QByteArray("{\"a\":") + QByteArray(100000, '[')
            << QStringLiteral("JSON no válido: too deeply nested document (posición 1029)");
    }
    void rejectsTheWholeDocument() {
        QFETCH(QByteArray, json);
        QFETCH(QString, message);
        try {
            MediaInfo::decode(json);
            QFAIL("decoded");
        } catch (const MediaDecodingError &error) {
            QCOMPARE(error.errorDescription(), message);
        }
    }

    void decodesOnAWorkerAndCarriesFailuresBack() {
        const QByteArray json = withFormats(R"({"format_id": "a", "vcodec": "vp9"})");
        QCOMPARE(BlockingWait::wait(MediaInfo::decodeInBackground(json)), MediaInfo::decode(json));
        try {
            BlockingWait::wait(MediaInfo::decodeInBackground(withFormats(R"({"format_id": "a", "width": 1.5})")));
            QFAIL("decoded");
        } catch (const MediaDecodingError &error) {
            QCOMPARE(error.errorDescription(),
                     QStringLiteral("El campo \"width\" del formato 1 debe ser un número entero."));
        }
    }

    void qualityAndResolution_data() {
        QTest::addColumn<MediaFormat>("format");
        QTest::addColumn<QString>("quality");
        QTest::addColumn<QString>("resolution");
        const QString id = QStringLiteral("f");
        const QString audioOnly = QStringLiteral("audio only");
        QTest::newRow("video codec none despite a height")
            << MediaFormat{.formatID = id, .height = 720, .videoCodec = QStringLiteral("none")}
            << QStringLiteral("Solo audio") << QStringLiteral("Solo audio");
        QTest::newRow("audio with its note") << MediaFormat{.formatID = id, .formatNote = audioOnly}
                                             << QStringLiteral("Solo audio") << QStringLiteral("Solo audio");
        QTest::newRow("width and height")
            << MediaFormat{.formatID = id, .width = 1920, .height = 1080, .videoCodec = QStringLiteral("avc1")}
            << QStringLiteral("1080p") << QStringLiteral("1920×1080");
        QTest::newRow("note only") << MediaFormat{.formatID = id,
                                                  .formatNote = QStringLiteral("HD"),
                                                  .videoCodec = QStringLiteral("vp9")}
                                   << QStringLiteral("HD") << QStringLiteral("HD");
        QTest::newRow("video with an audio-only note")
            << MediaFormat{.formatID = id, .formatNote = audioOnly, .videoCodec = QStringLiteral("vp9")}
            << QStringLiteral("Video") << QStringLiteral("Resolución no informada");
        QTest::newRow("video with an empty note")
            << MediaFormat{.formatID = id, .formatNote = QString(), .videoCodec = QStringLiteral("vp9")} << QString()
            << QStringLiteral("Resolución no informada");
    }
    void qualityAndResolution() {
        QFETCH(MediaFormat, format);
        QFETCH(QString, quality);
        QFETCH(QString, resolution);
        QCOMPARE(format.qualityLabel(), quality);
        QCOMPARE(format.resolutionDetail(), resolution);
    }

    void detailLabel_data() {
        QTest::addColumn<MediaFormat>("format");
        QTest::addColumn<QString>("detail");
        const QString id = QStringLiteral("f");
        const MediaFormat video720{.formatID = id,
                                   .formatNote = QStringLiteral("720p"),
                                   .ext = QStringLiteral("mp4"),
                                   .height = 720,
                                   .fps = 29.97,
                                   .videoCodec = QStringLiteral("avc1.64001F")};
        QTest::newRow("note equal to the quality, no size") << video720 << QStringLiteral("MP4 · 30 fps · sin audio");
        MediaFormat withNoteAndSize = video720;
        withNoteAndSize.formatNote = QStringLiteral("720p60 HDR");
        withNoteAndSize.fileSize = 12'300'000;
        withNoteAndSize.approximateFileSize = 99'000'000;
        QTest::newRow("own note, exact size preferred")
            << withNoteAndSize << QStringLiteral("MP4 · 720p60 HDR · 30 fps · sin audio · 12,3 MB");
        QTest::newRow("audio, approximate size, half frame rate rounds up")
            << MediaFormat{.formatID = id,
                           .ext = QStringLiteral("webm"),
                           .fps = 0.5,
                           .videoCodec = QStringLiteral("none"),
                           .audioCodec = QStringLiteral("opus"),
                           .approximateFileSize = 3'460'000}
            << QStringLiteral("WEBM · 1 fps · audio · 3,5 MB");
        QTest::newRow("both streams, zero frame rate") << MediaFormat{.formatID = id,
                                                                      .fps = 0.0,
                                                                      .videoCodec = QStringLiteral("vp9"),
                                                                      .audioCodec = QStringLiteral("opus")}
                                                       << QString();
    }
    void detailLabel() {
        QFETCH(MediaFormat, format);
        QFETCH(QString, detail);
        QCOMPARE(format.detailLabel(), detail);
    }

    void codecLabels_data() {
        QTest::addColumn<QString>("codec");
        QTest::addColumn<QString>("videoLabel");
        QTest::addColumn<QString>("audioLabel");
        const QString unchanged;
        QTest::newRow("none") << QStringLiteral("none") << QStringLiteral("<ninguno>") << QStringLiteral("<ninguno>");
        QTest::newRow("avc1") << QStringLiteral("avc1.64001F") << QStringLiteral("H.264") << unchanged;
        QTest::newRow("h264") << QStringLiteral("H264") << QStringLiteral("H.264") << unchanged;
        QTest::newRow("av01") << QStringLiteral("av01.0.08M.08") << QStringLiteral("AV1") << unchanged;
        QTest::newRow("av1") << QStringLiteral("AV1") << QStringLiteral("AV1") << unchanged;
        QTest::newRow("vp09 upper case") << QStringLiteral("VP09.00.40.08") << QStringLiteral("VP9") << unchanged;
        QTest::newRow("vp9") << QStringLiteral("vp9") << QStringLiteral("VP9") << unchanged;
        QTest::newRow("hvc1") << QStringLiteral("hvc1.1.6.L93.B0") << QStringLiteral("HEVC") << unchanged;
        QTest::newRow("hev1") << QStringLiteral("hev1") << QStringLiteral("HEVC") << unchanged;
        QTest::newRow("hevc") << QStringLiteral("HEVC") << QStringLiteral("HEVC") << unchanged;
        QTest::newRow("theora") << QStringLiteral("theora") << unchanged << unchanged;
        QTest::newRow("mp4a") << QStringLiteral("mp4a.40.2") << unchanged << QStringLiteral("AAC");
        QTest::newRow("aac") << QStringLiteral("AAC") << unchanged << QStringLiteral("AAC");
        QTest::newRow("opus") << QStringLiteral("Opus") << unchanged << QStringLiteral("Opus");
        QTest::newRow("vorbis") << QStringLiteral("vorbis") << unchanged << QStringLiteral("Vorbis");
        QTest::newRow("mp3") << QStringLiteral("mp3") << unchanged << QStringLiteral("MP3");
        QTest::newRow("None is not none") << QStringLiteral("None") << unchanged << unchanged;
    }
    void codecLabels() {
        // An empty expectation means the codec text comes back unchanged.
        QFETCH(QString, codec);
        QFETCH(QString, videoLabel);
        QFETCH(QString, audioLabel);
        const MediaFormat format{.formatID = QStringLiteral("f"), .videoCodec = codec, .audioCodec = codec};
        QCOMPARE(orAbsent(format.videoCodecLabel()), videoLabel.isNull() ? codec : videoLabel);
        QCOMPARE(orAbsent(format.audioCodecLabel()), audioLabel.isNull() ? codec : audioLabel);
    }

    void duration_data() {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("text");
        QTest::newRow("half rounds up") << 59.5 << QStringLiteral("1:00");
        QTest::newRow("just under an hour") << 3599.4 << QStringLiteral("59:59");
        QTest::newRow("rounds into an hour") << 3599.5 << QStringLiteral("1:00:00");
        QTest::newRow("hours") << 3725.0 << QStringLiteral("1:02:05");
        QTest::newRow("negative") << -1.0 << QStringLiteral("—");
        QTest::newRow("NaN") << std::nan("") << QStringLiteral("—");
    }
    void duration() {
        QFETCH(double, seconds);
        QFETCH(QString, text);
        QCOMPARE(torvelDuration(seconds), text);
    }

    void languageAloneMakesFormatsDifferent() {
        const MediaFormat spanish{
            .formatID = QStringLiteral("251"), .audioCodec = QStringLiteral("opus"), .language = QStringLiteral("es")};
        MediaFormat english = spanish;
        english.language = QStringLiteral("en");
        MediaFormat unknown = spanish;
        unknown.language.reset();
        QVERIFY(spanish != english);
        QVERIFY(spanish != unknown);
        QCOMPARE(qHash(spanish), qHash(MediaFormat(spanish)));
        QCOMPARE(QSet<MediaFormat>({spanish, english, unknown, spanish}).size(), 3);
        QVERIFY(qHash(spanish) != qHash(english));
        QVERIFY(qHash(spanish) != qHash(unknown));
    }
};

QTEST_GUILESS_MAIN(TestMediaInfo)
#include "tst_mediainfo.moc"
