#include "media/mediainfo.h"
#include "media/playlistinfo.h"

#include <QLocale>
#include <QSet>
#include <QTest>

#include "common/blockingwait.h"

#include <cmath>
#include <limits>

using namespace Qt::StringLiterals;

// Formats are written with designated initializers naming only the fields a case is about; every
// other field is meant to stay absent.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

// A minimal item around the given format list.
QByteArray withFormats(const QByteArray &formats) {
    return QByteArray(R"({"id": "abc", "title": "Título", "formats": [)") + formats + "]}";
}

// The description of the MediaDecodingError a run throws; empty when it decodes.
template <typename Run> QString decodingFailure(Run &&run) {
    try {
        run();
    } catch (const MediaDecodingError &error) {
        return error.errorDescription();
    }
    return {};
}

QString orAbsent(const std::optional<QString> &text) {
    return text.value_or(u"<ninguno>"_s);
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
            R"("fragments": [{"url": "https://example.com/1", "duration": 5.0}], "quality": 10}],)"
            R"("ext": "mp4", "format_id": "137+140", "automatic_captions": {"fr": [{"ext": "vtt"}]},)"
            R"("subtitles": {"live_chat": [{"ext": "json"}], "es": [{"ext": "srt"}, {"ext": "vtt", "name": "Español"}],)"
            R"("en": [{"ext": "vtt", "name": ""}]}})";
        const MediaInfo info = MediaInfo::decode(json);
        QCOMPARE(info.id, u"dQw4w9WgXcQ"_s);
        QCOMPARE(info.title, u"Canción"_s);
        QCOMPARE(info.uploader, std::nullopt);
        QCOMPARE(info.duration, 212.0);
        QCOMPARE(info.thumbnail, std::nullopt);
        QCOMPARE(info.webpageURL, u"https://example.com/v"_s);
        const MediaFormat expected{.formatID = u"137"_s,
                                   .formatNote = u"1080p"_s,
                                   .ext = u"mp4"_s,
                                   .resolution = u"1920x1080"_s,
                                   .width = 1920,
                                   .height = 1080,
                                   .fps = 29.97,
                                   .videoCodec = u"avc1.640028"_s,
                                   .audioCodec = u"none"_s,
                                   .fileSize = 12345678,
                                   .approximateFileSize = 12000000,
                                   .totalBitrate = 4400.5,
                                   .videoBitrate = 4400.0,
                                   .audioBitrate = std::nullopt,
                                   .audioSampleRate = 44100.0,
                                   .audioChannels = 2,
                                   .language = u"es"_s,
                                   .dynamicRange = u"SDR"_s,
                                   .protocolName = u"https"_s};
        QCOMPARE(info.formats, QList<MediaFormat>{expected});
        // Sorted by code, named by the first track that has a name, without a live chat's replay.
        QCOMPARE(info.subtitles, (QList<SubtitleLanguage>{{u"en"_s, std::nullopt}, {u"es"_s, u"Español"_s}}));
        QCOMPARE(info.subtitles.at(1).label(), u"Español (es)"_s);
        QCOMPARE(info.automaticCaptions, (QList<SubtitleLanguage>{{u"fr"_s, std::nullopt}}));
        QCOMPARE(info.ext, u"mp4"_s);
        QCOMPARE(info.formatID, u"137+140"_s);
    }

    void acceptedNumberShapes() {
        const QString id = u"f"_s;
        for (const auto &[format, expected] : std::initializer_list<std::pair<QByteArray, MediaFormat>>{
                 // integer in a double field
                 {QByteArray(R"({"format_id": "f", "fps": 30})"), MediaFormat{.formatID = id, .fps = 30.0}},
                 // whole fraction in an integer field
                 {QByteArray(R"({"format_id": "f", "height": 720.0, "filesize": 1e3})"),
                  MediaFormat{.formatID = id, .height = 720, .fileSize = 1000}},
                 // 64-bit extreme size
                 {QByteArray(R"({"format_id": "f", "filesize": 9223372036854775807})"),
                  MediaFormat{.formatID = id, .fileSize = std::numeric_limits<qint64>::max()}},
                 // negative or absurd values are absent
                 {QByteArray(
                      R"({"format_id": "f", "width": -9223372036854775808, "height": -720, "filesize": -5000000, )"
                      R"("filesize_approx": -1, "fps": 1e308, "tbr": -1, "abr": 0, "audio_channels": -2})"),
                  MediaFormat{.formatID = id}},
                 // null and missing are both absent
                 {QByteArray(R"({"format_id": "f", "height": null, "vcodec": null, "tbr": null})"),
                  MediaFormat{.formatID = id}}}) {
            QCOMPARE(MediaInfo::decode(withFormats(format)).formats, QList<MediaFormat>{expected});
            QCOMPARE(BlockingWait::wait(MediaInfo::decodeInBackground(withFormats(format))).formats,
                     QList<MediaFormat>{expected});
        }
    }

    void emptyFormatListIsAnItemWithoutFormats() { QVERIFY(MediaInfo::decode(withFormats({})).formats.isEmpty()); }

    void rejectsTheWholeDocument() {
        const QByteArray good = R"({"format_id": "a"}, {"format_id": "b"}, )";
        // A document, and the description of its fault.
        for (const auto &[json, message] : std::initializer_list<std::pair<QByteArray, QString>>{
                 // fraction in an integer field, third format
                 {withFormats(good + R"({"format_id": "c", "filesize": 1.5})"),
                  u"El campo \"filesize\" del formato 3 debe ser un número entero."_s},
                 // whole number beyond 64 bits
                 {withFormats(R"({"format_id": "a", "height": 1e30})"),
                  u"El campo \"height\" del formato 1 debe ser un número entero."_s},
                 // one past the largest integer
                 {withFormats(R"({"format_id": "a", "filesize_approx": 9223372036854775808})"),
                  u"El campo \"filesize_approx\" del formato 1 debe ser un número entero."_s},
                 // number written as text
                 {withFormats(R"({"format_id": "a", "tbr": "128"})"),
                  u"El campo \"tbr\" del formato 1 debe ser un número."_s},
                 // number as text field
                 {withFormats(good + R"({"format_id": 22})"),
                  u"El campo \"format_id\" del formato 3 debe ser un texto."_s},
                 // missing format id
                 {withFormats(R"({"format_id": "a"}, {"ext": "mp4"})"),
                  u"Falta el campo obligatorio \"format_id\" en el formato 2."_s},
                 // format that is not an object
                 {withFormats(R"({"format_id": "a"}, "b")"), u"El formato 2 debe ser un objeto."_s},
                 // formats missing
                 {QByteArray(R"({"id": "a", "title": "t"})"), u"Falta el campo obligatorio \"formats\"."_s},
                 // required title null
                 {QByteArray(R"({"id": "a", "title": null, "formats": []})"),
                  u"Falta el campo obligatorio \"title\"."_s},
                 // top-level array
                 {QByteArray(R"([{"id": "a", "title": "t", "formats": []}])"),
                  u"El documento JSON debe ser un objeto."_s},
                 // truncated
                 {QByteArray(R"({"id": "a", "title": "t", "formats": [)"),
                  u"JSON no válido: unterminated array (posición 38)"_s},
                 // number too large for a double
                 {QByteArray(R"({"id": "a", "duration": 1e400})"), u"JSON no válido: illegal number (posición 29)"_s},
                 // bytes that are not UTF-8
                 {QByteArray("{\"id\": \"caf\xe9\", \"title\": \"t\"}"),
                  u"JSON no válido: invalid UTF8 string (posición 11)"_s},
                 // nested beyond the parser's limit
                 {QByteArray("{\"a\":") + QByteArray(100000, '['),
                  u"JSON no válido: too deeply nested document (posición 1029)"_s},
                 // subtitles that are not an object, a language that is not a list, a name that is no text
                 {QByteArray(R"({"id": "a", "title": "t", "formats": [], "subtitles": []})"),
                  u"El campo \"subtitles\" debe ser un objeto."_s},
                 {QByteArray(R"({"id": "a", "title": "t", "formats": [], "automatic_captions": {"es": {}}})"),
                  u"Los subtítulos \"es\" del campo \"automatic_captions\" deben ser una lista."_s},
                 {QByteArray(R"({"id": "a", "title": "t", "formats": [], "subtitles": {"es": [{}, {"name": 1}]}})"),
                  u"El campo \"name\" de la pista 2 debe ser un texto."_s},
                 // list entries that are not a list
                 {QByteArray(R"({"_type": "playlist", "title": "L", "entries": {}})"),
                  u"El campo \"entries\" debe ser una lista."_s},
                 // list entry that is not an object
                 {QByteArray(R"({"_type": "playlist", "entries": [{"url": "https:\/\/e.example/1"}, 3]})"),
                  u"La entrada 2 de la lista debe ser un objeto."_s},
                 // list entry title that is a number
                 {QByteArray(R"({"entries": [{"url": "https:\/\/e.example/1"}, {"title": 7}]})"),
                  u"El campo \"title\" de la entrada 2 debe ser un texto."_s},
                 // list entry duration written as text
                 {QByteArray(R"({"_type": "playlist", "entries": [{"duration": "61"}]})"),
                  u"El campo \"duration\" de la entrada 1 debe ser un número."_s},
                 // list title that is a number
                 {QByteArray(R"({"_type": "playlist", "title": 1, "entries": []})"),
                  u"El campo \"title\" debe ser un texto."_s}}) {
            QCOMPARE(decodingFailure([&] { MediaAnalyses::decode(json); }), message);
            // On a worker the failure comes back the same.
            QCOMPARE(decodingFailure([&] { BlockingWait::wait(MediaAnalyses::decodeInBackground(json)); }), message);
        }
    }

    // Addresses inside raw literals are written "https:\/\/" (JSON's escaped slash): moc reads a
    // "//" there as the start of a comment.
    void listsDecodeIntoTheirEntries() {
        // A list's document; its title | uploader | count; and each entry's title | address or "-" |
        // item number or "-" | duration.
        const auto check = [](const QByteArray &json, const QString &list, const QStringList &entries) {
            const MediaAnalysis analysis = MediaAnalyses::decode(json);
            QVERIFY(std::holds_alternative<PlaylistInfo>(analysis));
            const PlaylistInfo &decoded = std::get<PlaylistInfo>(analysis);
            QCOMPARE(u"%1 | %2 | %3"_s.arg(decoded.title, orAbsent(decoded.uploader).replace(u"<ninguno>"_s, u"-"_s))
                         .arg(decoded.entryCount()),
                     list);
            QStringList read;
            for (const PlaylistEntry &entry : decoded.entries)
                read.append(u"%1 | %2 | %3 | %4"_s.arg(entry.title, entry.url ? entry.url->toString() : u"-"_s,
                                                       entry.item ? QString::number(*entry.item) : u"-"_s,
                                                       entry.duration ? QString::number(*entry.duration) : u"-"_s));
            QCOMPARE(read, entries);
        };
        // flat references, a hole and a refused address
        check(QByteArray(R"({"_type": "playlist", "id": "PL1", "title": "Mi lista", "uploader": "Canal",)"
                         R"("webpage_url": "https:\/\/e.example/list", "entries": [)"
                         R"({"_type": "url", "url": "https:\/\/e.example/v/1", "title": "Uno", "duration": 61},)"
                         R"({"_type": "url", "url": "https:\/\/e.example/v/2", "title": " "},)"
                         R"({"_type": "url", "url": "ftp:\/\/e.example/3", "title": "Tres", "duration": -4},)"
                         R"(null, {"title": "Sin dirección"}]})"),
              u"Mi lista | Canal | 5"_s,
              QStringList{u"Uno | https://e.example/v/1 | - | 61"_s,
                          u"https://e.example/v/2 | https://e.example/v/2 | - | -"_s, u"Tres | - | - | -"_s,
                          u"Video 4 (no disponible) | - | - | -"_s, u"Sin dirección | - | - | -"_s});
        // entries without formats, no type, no title
        check(QByteArray(R"({"id": "abc", "entries": [{"webpage_url": "https:\/\/e.example/a"}]})"), u"abc | - | 1"_s,
              QStringList{u"https://e.example/a | https://e.example/a | - | -"_s});
        // a channel's tabs are flattened; a tab yt-dlp did not open is not a video
        check(QByteArray(
                  R"({"_type": "playlist", "title": "Canal", "entries": [)"
                  R"({"_type": "playlist", "title": "Videos", "entries": [)"
                  R"({"url": "https:\/\/e.example/a", "title": "A"}, {"url": "https:\/\/e.example/b", "title": "B"}]},)"
                  R"({"_type": "playlist", "title": "Shorts", "url": "https:\/\/e.example/shorts"}]})"),
              u"Canal | - | 3"_s,
              QStringList{u"A | https://e.example/a | - | -"_s, u"B | https://e.example/b | - | -"_s,
                          u"Shorts | - | - | -"_s});
        // videos embedded in one page are its numbered items
        check(
            QByteArray(R"j({"_type": "playlist", "title": "Dos videos", "webpage_url": "http:\/\/127.0.0.1:9/p.html",)j"
                       R"j("entries": [{"title": "Dos videos (1)", "url": "http://127.0.0.1:9/a.mp4",)j"
                       R"j("webpage_url": "http:\/\/127.0.0.1:9/p.html", "formats": []},)j"
                       R"j({"title": "Dos videos (2)", "url": "http://127.0.0.1:9/b.mp4",)j"
                       R"j("webpage_url": "http:\/\/127.0.0.1:9/p.html", "formats": []}]})j"),
            u"Dos videos | - | 2"_s,
            QStringList{u"Dos videos (1) | http://127.0.0.1:9/p.html | 1 | -"_s,
                        u"Dos videos (2) | http://127.0.0.1:9/p.html | 2 | -"_s});
    }

    void listsKeepAtMostTenThousandEntries() {
        QByteArray json = R"({"_type": "playlist", "title": "Enorme", "entries": [)";
        for (int i = 1; i <= PlaylistInfo::maximumEntries + 7; ++i)
            json += (i > 1 ? "," : "") +
                    uR"({"_type": "url", "url": "https:\/\/e.example/v/%1", "title": "Video %1"})"_s.arg(i).toUtf8();
        // Beyond the bound a nested list is counted by its entries, not read.
        json += R"(, {"_type": "playlist", "entries": [{"title": 1}, {"title": 2}]}]})";
        const PlaylistInfo list = std::get<PlaylistInfo>(BlockingWait::wait(MediaAnalyses::decodeInBackground(json)));
        QCOMPARE(list.entries.size(), PlaylistInfo::maximumEntries);
        QCOMPARE(list.entries.last().title, u"Video 10000"_s);
        QCOMPARE(list.omittedEntryCount, 9);
        QCOMPARE(list.omittedEntriesText(), u"… y 9 más"_s);
        QCOMPARE(list.downloadableCount(), PlaylistInfo::maximumEntries);
    }

    void labels() {
        QList<std::pair<MediaFormat, QString>> cases; // a format, and its quality / resolution / detail
        const auto row = [&cases](const char *, const MediaFormat &format, const QString &labels) {
            cases.append({format, labels});
        };
        const QString id = u"f"_s;
        const QString audioOnly = u"audio only"_s;
        row("video codec none despite a height", MediaFormat{.formatID = id, .height = 720, .videoCodec = u"none"_s},
            u"Solo audio / Solo audio / "_s);
        row("audio with its note", MediaFormat{.formatID = id, .formatNote = audioOnly},
            u"Solo audio / Solo audio / audio only"_s);
        row("width and height", MediaFormat{.formatID = id, .width = 1920, .height = 1080, .videoCodec = u"avc1"_s},
            u"1080p / 1920×1080 / sin audio"_s);
        row("note only", MediaFormat{.formatID = id, .formatNote = u"HD"_s, .videoCodec = u"vp9"_s},
            u"HD / HD / sin audio"_s);
        row("video with an audio-only note",
            MediaFormat{.formatID = id, .formatNote = audioOnly, .videoCodec = u"vp9"_s},
            u"Video / Resolución no informada / audio only · sin audio"_s);
        row("video with an empty note", MediaFormat{.formatID = id, .formatNote = QString(), .videoCodec = u"vp9"_s},
            u" / Resolución no informada / sin audio"_s);
        const MediaFormat video720{.formatID = id,
                                   .formatNote = u"720p"_s,
                                   .ext = u"mp4"_s,
                                   .height = 720,
                                   .fps = 29.97,
                                   .videoCodec = u"avc1.64001F"_s};
        row("note equal to the quality, no size", video720, u"720p / 720p / MP4 · 30 fps · sin audio"_s);
        MediaFormat withNoteAndSize = video720;
        withNoteAndSize.formatNote = u"720p60 HDR"_s;
        withNoteAndSize.fileSize = 12'300'000;
        withNoteAndSize.approximateFileSize = 99'000'000;
        row("own note, exact size preferred", withNoteAndSize,
            u"720p / 720p60 HDR / MP4 · 720p60 HDR · 30 fps · sin audio · 12,3 MB"_s);
        row("audio, approximate size, half frame rate rounds up",
            MediaFormat{.formatID = id,
                        .ext = u"webm"_s,
                        .fps = 0.5,
                        .videoCodec = u"none"_s,
                        .audioCodec = u"opus"_s,
                        .approximateFileSize = 3'460'000},
            u"Solo audio / Solo audio / WEBM · 1 fps · audio · 3,5 MB"_s);
        row("both streams, zero frame rate",
            MediaFormat{.formatID = id, .fps = 0.0, .videoCodec = u"vp9"_s, .audioCodec = u"opus"_s},
            u"Video / Resolución no informada / "_s);
        for (const auto &[format, labels] : std::as_const(cases))
            QCOMPARE(
                QStringList({format.qualityLabel(), format.resolutionDetail(), format.detailLabel()}).join(u" / "_s),
                labels);
    }

    void codecLabels() {
        // A codec text, its video label and its audio label; "=" when the text comes back unchanged.
        for (const QString &row :
             {u"none <ninguno> <ninguno>"_s, u"avc1.64001F H.264 ="_s, u"H264 H.264 ="_s, u"av01.0.08M.08 AV1 ="_s,
              u"AV1 AV1 ="_s, u"VP09.00.40.08 VP9 ="_s, u"vp9 VP9 ="_s, u"hvc1.1.6.L93.B0 HEVC ="_s, u"hev1 HEVC ="_s,
              u"HEVC HEVC ="_s, u"theora = ="_s, u"mp4a.40.2 = AAC"_s, u"AAC = AAC"_s, u"Opus = Opus"_s,
              u"vorbis = Vorbis"_s, u"mp3 = MP3"_s, u"None = ="_s}) {
            const QStringList parts = row.split(u' ');
            const MediaFormat format{.formatID = u"f"_s, .videoCodec = parts[0], .audioCodec = parts[0]};
            const QString expected = QStringList{parts[1], parts[2]}.replaceInStrings(u"="_s, parts[0]).join(u' ');
            QCOMPARE(orAbsent(format.videoCodecLabel()) + u' ' + orAbsent(format.audioCodecLabel()), expected);
        }
    }

    void duration() {
        // Halves round up, also into the next hour; nothing for a negative or unknown length.
        const QList<std::pair<double, QString>> cases{{59.5, u"1:00"_s},      {3599.4, u"59:59"_s},
                                                      {3599.5, u"1:00:00"_s}, {3725.0, u"1:02:05"_s},
                                                      {-1.0, u"—"_s},         {std::nan(""), u"—"_s}};
        for (const auto &[seconds, text] : cases)
            QCOMPARE(torvelDuration(seconds), text);
    }

    void languageAloneMakesFormatsDifferent() {
        const MediaFormat spanish{.formatID = u"251"_s, .audioCodec = u"opus"_s, .language = u"es"_s};
        MediaFormat english = spanish;
        english.language = u"en"_s;
        MediaFormat unknown = spanish;
        unknown.language.reset();
        QCOMPARE(QSet<MediaFormat>({spanish, english, unknown, spanish}).size(), 3);
        QVERIFY(qHash(spanish) != qHash(english) && qHash(spanish) != qHash(unknown));
    }
};

QTEST_GUILESS_MAIN(TestMediaInfo)
#include "tst_mediainfo.moc"
