#include "media/compatiblemp4.h"
#include "media/downloadchoice.h"

#include <QSet>
#include <QTest>

#include <algorithm>

using namespace Qt::StringLiterals;

// Formats are written with designated initializers naming only the fields a case is about; every
// other field is meant to stay absent.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

const QString none = u"none"_s;

MediaFormat videoOnly(const QString &id, std::optional<qint64> height, std::optional<double> tbr = std::nullopt) {
    return {.formatID = id, .height = height, .videoCodec = u"avc1"_s, .audioCodec = none, .totalBitrate = tbr};
}

MediaFormat audioOnly(const QString &id, std::optional<double> tbr) {
    return {.formatID = id, .videoCodec = none, .audioCodec = u"mp4a.40.2"_s, .totalBitrate = tbr};
}

MediaFormat muxed(const QString &id, qint64 height) {
    return {.formatID = id, .height = height, .videoCodec = u"avc1"_s, .audioCodec = u"mp4a"_s};
}

ChoiceSelection selectionOf(const QList<MediaFormat> &formats) {
    ChoiceSelection selection;
    selection.mediaInfo = MediaInfo{.id = u"abc"_s, .title = u"Título"_s, .formats = formats};
    return selection;
}

// A typical YouTube listing, in yt-dlp's order: lowest quality first.
QList<MediaFormat> typicalFormats() {
    return {audioOnly(u"139"_s, 48), audioOnly(u"251"_s, 130),       audioOnly(u"140"_s, 129),
            muxed(u"18"_s, 360),     videoOnly(u"136"_s, 720, 1500), videoOnly(u"137"_s, 1080, 4400)};
}

QString idsOf(const QList<MediaFormat> &formats) {
    QStringList ids;
    for (const MediaFormat &format : formats)
        ids.append(format.formatID);
    return ids.join(QLatin1Char(' '));
}

} // namespace

class TestDownloadChoice : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void listsAndTheirOrder() {
        // Formats, and the IDs of the exact formats and of the audio-only ones, in order.
        const auto check = [](const QList<MediaFormat> &formats, QString exact, const QString &audio) {
            const ChoiceSelection selection = selectionOf(formats);
            QCOMPARE(idsOf(selection.exactFormats()), exact);
            QCOMPARE(idsOf(selection.audioOnlyFormats()), audio);
            QStringList choiceIDs;
            for (const DownloadChoice &choice : selection.exactChoices())
                choiceIDs.append(choice.id);
            QCOMPARE(choiceIDs.join(QLatin1Char(' ')), u"format-"_s + exact.replace(u" "_s, u" format-"_s));
        };
        check(typicalFormats(), u"137 136 18 251 140 139"_s, u"251 140 139"_s);
        // Ties keep yt-dlp's order.
        check({videoOnly(u"b"_s, 720, 800), videoOnly(u"a"_s, 720, 800), audioOnly(u"y"_s, std::nullopt),
               audioOnly(u"x"_s, 0)},
              u"b a y x"_s, u"y x"_s);
        // Enough ties that an unstable sort would visibly reorder them.
        QList<MediaFormat> manyTies;
        QStringList manyTiesOrder{u"top"_s};
        for (int index = 0; index < 40; ++index) {
            manyTies.append(index % 2 == 0 ? videoOnly(QString::number(index), 720)
                                           : muxed(QString::number(index), 720));
            manyTies.last().totalBitrate = 800;
            manyTiesOrder.append(QString::number(index));
        }
        manyTies.insert(20, videoOnly(u"top"_s, 2160));
        check(manyTies, manyTiesOrder.join(QLatin1Char(' ')), QString());
        // No height after every positive height, by bitrate within a height.
        check({videoOnly(u"unknown"_s, std::nullopt, 9000), videoOnly(u"low"_s, 144, 100),
               videoOnly(u"slow"_s, 720, 900), videoOnly(u"fast"_s, 720, 1000)},
              u"fast slow low unknown"_s, QString());
        // Formats without any known stream are left out.
        check({MediaFormat{.formatID = u"sb0"_s},
               MediaFormat{.formatID = u"mhtml"_s, .videoCodec = none, .audioCodec = none},
               MediaFormat{.formatID = u"a"_s, .audioCodec = u"opus"_s}},
              u"a"_s, u"a"_s);
    }

    void exactChoiceIconFollowsTheStreams() {
        QCOMPARE(DownloadChoice::exact(audioOnly(u"140"_s, 129)).icon, u"waveform"_s);
        QCOMPARE(DownloadChoice::exact(videoOnly(u"137"_s, 1080)).icon, u"film"_s);
    }

    void resolvingTheSelection() {
        const QList<MediaFormat> typical = typicalFormats();
        // The formats, the choice, the paired audio (null: none), the resolved choice and its selector.
        for (const auto &[formats, choiceID, audioID, resolved] :
             std::initializer_list<std::tuple<QList<MediaFormat>, QString, QString, QString>>{
                 {typical, u"format-137"_s, u"140"_s, u"combined-137-140 137+140"_s},
                 {typical, u"format-137"_s, QString(), u"format-137 137"_s},
                 {typical, u"format-137"_s, u"999"_s, u"format-137 137"_s}, // the audio track is gone
                 {typical, u"format-18"_s, u"140"_s, u"format-18 18"_s},    // a format with audio is never paired
                 {typical, u"format-251"_s, u"140"_s, u"format-251 251"_s}, // nor is an audio format
                 {typical, u"compatible-mp4"_s, u"140"_s,
                  u"compatible-mp4 bv*[ext=mp4][vcodec^=avc1]+ba[ext=m4a]/b[ext=mp4]/bv*[ext=mp4]+ba[ext=m4a]/b"_s},
                 {typical, u"format-x"_s, u"140"_s, u"recommended bv*+ba/b"_s},
                 // A format with no stream is not offered.
                 {{MediaFormat{.formatID = u"sb0"_s}}, u"format-sb0"_s, QString(), u"recommended bv*+ba/b"_s},
                 // Of duplicate IDs the first counts: it carries audio, so the video-only one is never paired.
                 {{muxed(u"dup"_s, 360), videoOnly(u"dup"_s, 1080), audioOnly(u"140"_s, 129)},
                  u"format-dup"_s,
                  u"140"_s,
                  u"format-dup dup"_s}}) {
            ChoiceSelection selection = selectionOf(formats);
            selection.selectedChoiceID = choiceID;
            if (!audioID.isNull())
                selection.selectedAudioFormatID = audioID;
            QCOMPARE(selection.selectedChoice().id + u' ' + selection.selectedChoice().formatSelector, resolved);
        }
    }

    void combinedChoiceInFull() {
        const DownloadChoice combined = DownloadChoice::combined(videoOnly(u"137"_s, 1080), audioOnly(u"140"_s, 129));
        const DownloadChoice expected{u"combined-137-140"_s,
                                      u"1080p + audio"_s,
                                      u"Video 137 combinado con audio 140"_s,
                                      u"rectangle.stack.badge.plus"_s,
                                      {DownloadChoice::Kind::Case::exactFormat, u"137"_s},
                                      u"137+140"_s,
                                      {}};
        QCOMPARE(combined, expected);
        // Same selector and label, but the kind names another format: a different choice.
        DownloadChoice otherKind = expected;
        otherKind.kind.formatID = u"140"_s;
        QCOMPARE(QSet<DownloadChoice>({combined, expected, otherKind}).size(), 2);
    }

    void withoutAnAnalyzedItem() {
        ChoiceSelection selection;
        QVERIFY(selection.exactFormats().isEmpty());
        QVERIFY(selection.audioOnlyFormats().isEmpty());
        selection.selectedChoiceID = u"audio-only"_s;
        QCOMPARE(selection.selectedChoice(), DownloadChoice::audio(AudioExportFormat::m4a));
        selection.selectedChoiceID = u"format-137"_s;
        QCOMPARE(selection.selectedVideoOnlyFormat(), std::nullopt);
        QCOMPARE(selection.selectedChoice(), DownloadChoice::recommended());
    }

    void selectingKeepsOrRenewsThePairing() {
        const QList<MediaFormat> typical = typicalFormats();
        // The formats, the audio paired before (null: none), the choice, and the audio paired after.
        for (const auto &[formats, audioBefore, choiceID, audioAfter] :
             std::initializer_list<std::tuple<QList<MediaFormat>, QString, QString, QString>>{
                 {typical, u"139"_s, u"recommended"_s, u"139"_s},  // a standard choice leaves the pairing
                 {typical, QString(), u"audio-only"_s, QString()}, // and leaves no pairing
                 {typical, u"139"_s, u"format-137"_s, u"139"_s},   // video-only keeps a listed pairing
                 {typical, u"999"_s, u"format-137"_s, u"251"_s},   // and replaces one that is gone
                 {typical, QString(), u"format-136"_s, u"251"_s},  // and pairs the best audio
                 {{videoOnly(u"137"_s, 1080)}, u"140"_s, u"format-137"_s, QString()}, // without any audio format
                 {typical, u"999"_s, u"format-18"_s, u"999"_s}}) { // a format with audio leaves a stale pairing
            ChoiceSelection selection = selectionOf(formats);
            if (!audioBefore.isNull())
                selection.selectedAudioFormatID = audioBefore;
            const QList<DownloadChoice> offered = selection.standardChoices() + selection.exactChoices();
            const auto chosen = std::find_if(offered.cbegin(), offered.cend(),
                                             [&](const DownloadChoice &choice) { return choice.id == choiceID; });
            QVERIFY(chosen != offered.cend());
            selection.selectChoice(*chosen);
            QCOMPARE(selection.selectedChoiceID, choiceID);
            QCOMPARE(selection.selectedAudioFormatID, audioAfter.isNull() ? std::nullopt : std::optional(audioAfter));
        }
    }

    void audioExportFormatFollowsTheThirdChoice() {
        ChoiceSelection selection = selectionOf(typicalFormats());
        selection.selectChoice(selection.standardChoices().at(2));
        selection.audioExportFormat = AudioExportFormat::mp3;
        const DownloadChoice audio = selection.selectedChoice();
        QCOMPARE(audio.id, u"audio-only"_s);
        QCOMPARE(audio.subtitle, u"Extrae el audio en MP3"_s);
        QCOMPARE(audio.extraArguments.join(u' '), u"--extract-audio --audio-format mp3 --audio-quality 0"_s);
    }

    // Whether "MP4 compatible" is foreseen to need FFmpeg, from the analysis alone.
    void compatibleMP4Outlook() {
        const MediaFormat vp9{.formatID = u"248"_s, .videoCodec = u"vp09.00.40.08"_s, .audioCodec = none};
        const MediaFormat opus{.formatID = u"251"_s, .videoCodec = none, .audioCodec = u"opus"_s};
        QCOMPARE(selectionOf(typicalFormats()).compatibleMP4Outlook(), ConversionOutlook::unlikely); // H.264 offered
        QCOMPARE(selectionOf({vp9, opus}).compatibleMP4Outlook(), ConversionOutlook::expected);
        QCOMPARE(selectionOf({opus}).compatibleMP4Outlook(), ConversionOutlook::unlikely);
        QCOMPARE(selectionOf({{.formatID = u"0"_s}, opus}).compatibleMP4Outlook(), ConversionOutlook::possible);
        QCOMPARE(ChoiceSelection().compatibleMP4Outlook(), ConversionOutlook::possible);
    }

    // The container a choice ends in decides whether the file gets a cover: yt-dlp cannot put one
    // into WebM, and an unknown container gets none rather than a failed download.
    void coverOnlyWhereTheContainerHoldsOne() {
        const MediaFormat webmVideo{
            .formatID = u"248"_s, .ext = u"webm"_s, .height = 1080, .videoCodec = u"vp9"_s, .audioCodec = none};
        const MediaFormat webmAudio{
            .formatID = u"251"_s, .ext = u"webm"_s, .videoCodec = none, .audioCodec = u"opus"_s};
        const MediaFormat mp4Video{
            .formatID = u"137"_s, .ext = u"mp4"_s, .height = 1080, .videoCodec = u"avc1"_s, .audioCodec = none};
        const MediaFormat m4aAudio{
            .formatID = u"140"_s, .ext = u"m4a"_s, .videoCodec = none, .audioCodec = u"mp4a"_s, .totalBitrate = 129};
        const MediaFormat progressive{
            .formatID = u"0"_s, .ext = u"mp4"_s, .videoCodec = u"avc1"_s, .audioCodec = u"mp4a"_s};
        struct Case {
            const char *what;
            QList<MediaFormat> formats;
            QString analyzed; // yt-dlp's own choice in the analysis: "format_id" and "ext"
            QString choiceID;
            std::optional<QString> audio;
            std::optional<QString> container;
        };
        for (const Case &c : std::initializer_list<Case>{
                 {"recommended, merged in the analysis",
                  {webmVideo, webmAudio, m4aAudio},
                  u"248+251 webm"_s,
                  u"recommended"_s,
                  {},
                  u"webm"_s},
                 {"recommended, one family", {mp4Video, m4aAudio}, u"137 mp4"_s, u"recommended"_s, {}, u"mp4"_s},
                 {"recommended, two families, no merge in the analysis",
                  {mp4Video, webmVideo, m4aAudio},
                  u"137 mp4"_s,
                  u"recommended"_s,
                  {},
                  std::nullopt},
                 {"recommended, nothing to merge", {progressive}, u"0 mp4"_s, u"recommended"_s, {}, u"mp4"_s},
                 {"exact WebM", {webmVideo, m4aAudio}, u"248+140 mkv"_s, u"format-248"_s, {}, u"webm"_s},
                 {"paired across families",
                  {webmVideo, m4aAudio},
                  u"248+140 mkv"_s,
                  u"format-248"_s,
                  u"140"_s,
                  u"mkv"_s},
                 {"compatible MP4", {mp4Video, m4aAudio}, u"137+140 mp4"_s, u"compatible-mp4"_s, {}, u"mp4"_s},
                 {"compatible MP4 of a page without MP4",
                  {webmVideo, webmAudio},
                  u"248+251 webm"_s,
                  u"compatible-mp4"_s,
                  {},
                  std::nullopt},
                 {"audio only", {webmVideo, webmAudio}, u"248+251 webm"_s, u"audio-only"_s, {}, u"m4a"_s}}) {
            ChoiceSelection selection = selectionOf(c.formats);
            selection.mediaInfo->formatID = c.analyzed.section(u' ', 0, 0);
            selection.mediaInfo->ext = c.analyzed.section(u' ', 1);
            selection.selectedChoiceID = c.choiceID;
            selection.selectedAudioFormatID = c.audio;
            QCOMPARE(selection.expectedContainer(), c.container);
            const bool cover = c.container && *c.container != u"webm"_s;
            QVERIFY2(selection.fileContents(true) == (FileContents{{}, {}, true, cover, !c.container}), c.what);
            QVERIFY2(selection.fileContents(false) == FileContents(), c.what);
        }
    }

    // Chosen subtitles reach the file only with a picture; each language from the page's
    // subtitles or else its automatic captions. A request names codes or their family ("es"
    // finds "es-419"); a language the page lacks is an error that says what it has.
    void subtitleRequests() {
        ChoiceSelection selection = selectionOf(typicalFormats());
        MediaInfo &media = *selection.mediaInfo;
        media.subtitles = {{u"en"_s, std::nullopt}, {u"es-419"_s, u"Español"_s}};
        media.automaticCaptions = {{u"en"_s, std::nullopt}, {u"fr"_s, std::nullopt}};
        selection.selectedSubtitles = {u"es-419"_s, u"fr"_s};
        QVERIFY(selection.fileContents(false) == (FileContents{{u"es-419"_s}, {u"fr"_s}, false, false}));
        for (const DownloadChoice &audio :
             {selection.standardChoices().at(2), DownloadChoice::exact(typicalFormats().at(0))}) {
            selection.selectChoice(audio);
            QVERIFY(selection.fileContents(false) == FileContents());
        }

        QCOMPARE(SubtitleRequests::preferred(u"de, ES"_s, media), u"es-419"_s);
        QCOMPARE(SubtitleRequests::preferred(u"fr"_s, media), std::nullopt); // automatic captions only on purpose
        QCOMPARE(SubtitleRequests::preferred(QString(), media), std::nullopt);
        QCOMPARE(SubtitleRequests::resolve(u"es,fr, EN"_s, media), (QStringList{u"es-419"_s, u"fr"_s, u"en"_s}));
        QCOMPARE(SubtitleRequests::resolve(u"all,en"_s, media), (QStringList{u"en"_s, u"es-419"_s}));
        const auto failure = [](const QString &request, const MediaInfo &page) {
            try {
                SubtitleRequests::resolve(request, page);
            } catch (const SubtitleRequestError &error) {
                return error.errorDescription();
            }
            return QString();
        };
        QCOMPARE(failure(u"de,es,it"_s, media),
                 u"No hay subtítulos en de, it para esta dirección. La página tiene subtítulos: en, es-419; "
                 "subtítulos automáticos: en, fr."_s);
        media.subtitles.clear();
        QCOMPARE(failure(u"all"_s, media),
                 u"«all» pide todos los subtítulos, pero la página tiene subtítulos automáticos: en, fr."_s);
        media.automaticCaptions.clear();
        QCOMPARE(failure(u"es"_s, media),
                 u"No hay subtítulos en es para esta dirección. Esta página no tiene subtítulos."_s);
    }

    // What FFprobe finds decides the conversion and what FFmpeg copies or re-encodes.
    void compatibleMP4Conversion() {
        // A file, FFprobe's answer, and the codecs FFmpeg is given for video and audio; none when
        // nothing is converted.
        const auto check = [](const QString &file, const QByteArray &probe, const QString &codecs) {
            const CompatibleMP4::Probe decoded = CompatibleMP4::decodeProbe(probe);
            QCOMPARE(decoded.duration, 4.0);
            QCOMPARE(CompatibleMP4::needsConversion(decoded, file), !codecs.isEmpty());
            if (codecs.isEmpty())
                return;
            const QStringList arguments = CompatibleMP4::conversionArguments(file, u"out.mp4"_s, decoded);
            const auto after = [&arguments](const QString &option) {
                return arguments.value(arguments.indexOf(option) + 1);
            };
            QCOMPARE(after(u"-c:v"_s) + u' ' + after(u"-c:a"_s), codecs);
            QCOMPARE(after(u"-c:s"_s), u"mov_text"_s); // embedded subtitles stay
            QCOMPARE(arguments.mid(arguments.size() - 3), (QStringList{u"-f"_s, u"mp4"_s, u"out.mp4"_s}));
        };
        const auto probe = [](const QByteArray &format, const QByteArray &streams) -> QByteArray {
            return "{\"format\": {\"format_name\": \"" + format + "\", \"duration\": \"4.000000\"}, \"streams\": [" +
                   streams + "]}";
        };
        // One stream of FFprobe's answer: its type, codec and whether it is a cover picture.
        const auto stream = [](const char *type, const QByteArray &codec, int cover = 0) -> QByteArray {
            return QByteArrayLiteral("{\"codec_type\": \"") + type + "\", \"codec_name\": \"" + codec +
                   "\", \"disposition\": {\"attached_pic\": " + QByteArray::number(cover) + "}}";
        };
        const QByteArray h264 = stream("video", "h264");
        const QByteArray aac = stream("audio", "aac");
        const QByteArray opus = stream("audio", "opus");
        const QByteArray vp9 = stream("video", "vp9");
        const QByteArray mp4 = "mov,mp4,m4a,3gp,3g2,mj2";
        check(u"a.mp4"_s, probe(mp4, h264 + ',' + aac), QString());
        check(u"a.webm"_s, probe("matroska,webm", vp9 + ',' + opus), u"libx264 aac"_s);
        check(u"a.mp4"_s, probe(mp4, h264 + ',' + opus), u"copy aac"_s);
        check(u"a.mkv"_s, probe("matroska,webm", h264 + ',' + aac), u"copy copy"_s);
        // High 10 and 4:4:4 are H.264 that most players cannot decode: re-encoded to 4:2:0.
        for (const char *pixels : {"yuv420p10le", "yuv444p"})
            check(u"a.mp4"_s, probe(mp4, stream("video", QByteArray("h264\", \"pix_fmt\": \"") + pixels) + ',' + aac),
                  u"libx264 copy"_s);
        check(u"a.webm"_s, probe("matroska,webm", opus), QString());                       // audio alone
        check(u"a.m4a"_s, probe(mp4, stream("video", "mjpeg", 1) + ',' + aac), QString()); // with a cover
        QVERIFY_THROWS_EXCEPTION(MediaDecodingError, CompatibleMP4::decodeProbe("no es JSON"));
    }
};

QTEST_GUILESS_MAIN(TestDownloadChoice)
#include "tst_downloadchoice.moc"
