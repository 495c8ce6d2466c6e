#include "media/downloadchoice.h"

#include <QSet>
#include <QTest>

#include <algorithm>

// Formats are written with designated initializers naming only the fields a case is about; every
// other field is meant to stay absent.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

Q_DECLARE_METATYPE(QList<MediaFormat>)

namespace {

const QString none = QStringLiteral("none");

MediaFormat videoOnly(const QString &id, std::optional<qint64> height, std::optional<double> tbr = std::nullopt) {
    return {.formatID = id,
            .height = height,
            .videoCodec = QStringLiteral("avc1"),
            .audioCodec = none,
            .totalBitrate = tbr};
}

MediaFormat audioOnly(const QString &id, std::optional<double> tbr) {
    return {.formatID = id, .videoCodec = none, .audioCodec = QStringLiteral("mp4a.40.2"), .totalBitrate = tbr};
}

MediaFormat muxed(const QString &id, qint64 height) {
    return {
        .formatID = id, .height = height, .videoCodec = QStringLiteral("avc1"), .audioCodec = QStringLiteral("mp4a")};
}

ChoiceSelection selectionOf(const QList<MediaFormat> &formats) {
    ChoiceSelection selection;
    selection.mediaInfo = MediaInfo{.id = QStringLiteral("abc"), .title = QStringLiteral("Título"), .formats = formats};
    return selection;
}

// A typical YouTube listing, in yt-dlp's order: lowest quality first.
QList<MediaFormat> typicalFormats() {
    return {audioOnly(QStringLiteral("139"), 48),        audioOnly(QStringLiteral("251"), 130),
            audioOnly(QStringLiteral("140"), 129),       muxed(QStringLiteral("18"), 360),
            videoOnly(QStringLiteral("136"), 720, 1500), videoOnly(QStringLiteral("137"), 1080, 4400)};
}

QStringList idsOf(const QList<MediaFormat> &formats) {
    QStringList ids;
    for (const MediaFormat &format : formats)
        ids.append(format.formatID);
    return ids;
}

} // namespace

class TestDownloadChoice : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void listsAndTheirOrder_data() {
        QTest::addColumn<QList<MediaFormat>>("formats");
        QTest::addColumn<QStringList>("exact");
        QTest::addColumn<QStringList>("audio");
        QTest::newRow("typical") << typicalFormats()
                                 << QStringList{QStringLiteral("137"), QStringLiteral("136"), QStringLiteral("18"),
                                                QStringLiteral("251"), QStringLiteral("140"), QStringLiteral("139")}
                                 << QStringList{QStringLiteral("251"), QStringLiteral("140"), QStringLiteral("139")};
        QTest::newRow("ties keep yt-dlp's order")
            << QList<MediaFormat>{videoOnly(QStringLiteral("b"), 720, 800), videoOnly(QStringLiteral("a"), 720, 800),
                                  audioOnly(QStringLiteral("y"), std::nullopt), audioOnly(QStringLiteral("x"), 0)}
            << QStringList{QStringLiteral("b"), QStringLiteral("a"), QStringLiteral("y"), QStringLiteral("x")}
            << QStringList{QStringLiteral("y"), QStringLiteral("x")};
        // Enough ties that an unstable sort would visibly reorder them.
        QList<MediaFormat> manyTies;
        QStringList manyTiesOrder{QStringLiteral("top")};
        for (int index = 0; index < 40; ++index) {
            const QString id = QString::number(index);
            manyTies.append(index % 2 == 0 ? videoOnly(id, 720, 800) : muxed(id, 720));
            manyTies.last().totalBitrate = 800;
            manyTiesOrder.append(id);
        }
        manyTies.insert(20, videoOnly(QStringLiteral("top"), 2160));
        QTest::newRow("many ties keep yt-dlp's order") << manyTies << manyTiesOrder << QStringList{};
        QTest::newRow("no height after every positive height, by bitrate within a height")
            << QList<MediaFormat>{videoOnly(QStringLiteral("unknown"), std::nullopt, 9000),
                                  videoOnly(QStringLiteral("low"), 144, 100),
                                  videoOnly(QStringLiteral("slow"), 720, 900),
                                  videoOnly(QStringLiteral("fast"), 720, 1000)}
            << QStringList{QStringLiteral("fast"), QStringLiteral("slow"), QStringLiteral("low"),
                           QStringLiteral("unknown")}
            << QStringList{};
        QTest::newRow("formats without any known stream are left out")
            << QList<MediaFormat>{MediaFormat{.formatID = QStringLiteral("sb0")},
                                  MediaFormat{
                                      .formatID = QStringLiteral("mhtml"), .videoCodec = none, .audioCodec = none},
                                  MediaFormat{.formatID = QStringLiteral("a"), .audioCodec = QStringLiteral("opus")}}
            << QStringList{QStringLiteral("a")} << QStringList{QStringLiteral("a")};
    }
    void listsAndTheirOrder() {
        QFETCH(QList<MediaFormat>, formats);
        QFETCH(QStringList, exact);
        QFETCH(QStringList, audio);
        const ChoiceSelection selection = selectionOf(formats);
        QCOMPARE(idsOf(selection.exactFormats()), exact);
        QCOMPARE(idsOf(selection.audioOnlyFormats()), audio);
        QStringList choiceIDs;
        for (const DownloadChoice &choice : selection.exactChoices())
            choiceIDs.append(choice.id);
        for (QString &id : exact)
            id.prepend(QStringLiteral("format-"));
        QCOMPARE(choiceIDs, exact);
    }

    void exactChoiceIconFollowsTheStreams() {
        QCOMPARE(DownloadChoice::exact(audioOnly(QStringLiteral("140"), 129)).icon, QStringLiteral("waveform"));
        QCOMPARE(DownloadChoice::exact(videoOnly(QStringLiteral("137"), 1080)).icon, QStringLiteral("film"));
    }

    void resolvingTheSelection_data() {
        QTest::addColumn<QList<MediaFormat>>("formats");
        QTest::addColumn<QString>("choiceID");
        QTest::addColumn<QString>("audioID"); // a null text: no audio paired
        QTest::addColumn<QString>("resolvedID");
        QTest::addColumn<QString>("formatSelector");
        const QList<MediaFormat> typical = typicalFormats();
        QTest::newRow("video-only paired with a listed audio track")
            << typical << QStringLiteral("format-137") << QStringLiteral("140") << QStringLiteral("combined-137-140")
            << QStringLiteral("137+140");
        QTest::newRow("video-only without audio") << typical << QStringLiteral("format-137") << QString()
                                                  << QStringLiteral("format-137") << QStringLiteral("137");
        QTest::newRow("pairing with an audio track that is gone")
            << typical << QStringLiteral("format-137") << QStringLiteral("999") << QStringLiteral("format-137")
            << QStringLiteral("137");
        QTest::newRow("a format with audio is never paired")
            << typical << QStringLiteral("format-18") << QStringLiteral("140") << QStringLiteral("format-18")
            << QStringLiteral("18");
        QTest::newRow("an audio format is never paired")
            << typical << QStringLiteral("format-251") << QStringLiteral("140") << QStringLiteral("format-251")
            << QStringLiteral("251");
        QTest::newRow("standard choice") << typical << QStringLiteral("compatible-mp4") << QStringLiteral("140")
                                         << QStringLiteral("compatible-mp4")
                                         << QStringLiteral("bv*[ext=mp4][vcodec^=avc1]+ba[ext=m4a]/b[ext=mp4]/"
                                                           "bv*[ext=mp4]+ba[ext=m4a]/b");
        QTest::newRow("unknown format") << typical << QStringLiteral("format-x") << QStringLiteral("140")
                                        << QStringLiteral("recommended") << QStringLiteral("bv*+ba/b");
        QTest::newRow("a format with no stream is not offered")
            << QList<MediaFormat>{MediaFormat{.formatID = QStringLiteral("sb0")}} << QStringLiteral("format-sb0")
            << QString() << QStringLiteral("recommended") << QStringLiteral("bv*+ba/b");
        // The first "dup" carries audio, so the video-only one listed after it is never paired.
        QTest::newRow("duplicate format IDs, the first one counts")
            << QList<MediaFormat>{muxed(QStringLiteral("dup"), 360), videoOnly(QStringLiteral("dup"), 1080),
                                  audioOnly(QStringLiteral("140"), 129)}
            << QStringLiteral("format-dup") << QStringLiteral("140") << QStringLiteral("format-dup")
            << QStringLiteral("dup");
    }
    void resolvingTheSelection() {
        QFETCH(QList<MediaFormat>, formats);
        QFETCH(QString, choiceID);
        QFETCH(QString, audioID);
        QFETCH(QString, resolvedID);
        QFETCH(QString, formatSelector);
        ChoiceSelection selection = selectionOf(formats);
        selection.selectedChoiceID = choiceID;
        if (!audioID.isNull())
            selection.selectedAudioFormatID = audioID;
        const DownloadChoice resolved = selection.selectedChoice();
        QCOMPARE(resolved.id, resolvedID);
        QCOMPARE(resolved.formatSelector, formatSelector);
    }

    void combinedChoiceInFull() {
        const DownloadChoice combined =
            DownloadChoice::combined(videoOnly(QStringLiteral("137"), 1080), audioOnly(QStringLiteral("140"), 129));
        const DownloadChoice expected{QStringLiteral("combined-137-140"),
                                      QStringLiteral("1080p + audio"),
                                      QStringLiteral("Video 137 combinado con audio 140"),
                                      QStringLiteral("rectangle.stack.badge.plus"),
                                      {DownloadChoice::Kind::Case::exactFormat, QStringLiteral("137")},
                                      QStringLiteral("137+140"),
                                      {}};
        QCOMPARE(combined, expected);
        QCOMPARE(qHash(combined), qHash(expected));
        // Same selector and label, but the kind names another format: a different choice.
        DownloadChoice otherKind = expected;
        otherKind.kind.formatID = QStringLiteral("140");
        QCOMPARE(QSet<DownloadChoice>({combined, expected, otherKind}).size(), 2);
    }

    void withoutAnAnalyzedItem() {
        ChoiceSelection selection;
        QVERIFY(selection.exactFormats().isEmpty());
        QVERIFY(selection.exactChoices().isEmpty());
        QVERIFY(selection.audioOnlyFormats().isEmpty());
        selection.selectedChoiceID = QStringLiteral("audio-only");
        QCOMPARE(selection.selectedChoice(), DownloadChoice::audio(AudioExportFormat::m4a));
        selection.selectedChoiceID = QStringLiteral("format-137");
        QCOMPARE(selection.selectedVideoOnlyFormat(), std::nullopt);
        QCOMPARE(selection.selectedChoice(), DownloadChoice::recommended());
    }

    void selectingKeepsOrRenewsThePairing_data() {
        QTest::addColumn<QList<MediaFormat>>("formats");
        QTest::addColumn<QString>("audioBefore"); // a null text: no audio paired
        QTest::addColumn<QString>("choiceID");
        QTest::addColumn<QString>("audioAfter");
        const QList<MediaFormat> typical = typicalFormats();
        QTest::newRow("standard choice leaves the pairing")
            << typical << QStringLiteral("139") << QStringLiteral("recommended") << QStringLiteral("139");
        QTest::newRow("standard choice leaves no pairing")
            << typical << QString() << QStringLiteral("audio-only") << QString();
        QTest::newRow("video-only keeps a listed pairing")
            << typical << QStringLiteral("139") << QStringLiteral("format-137") << QStringLiteral("139");
        QTest::newRow("video-only replaces a pairing that is gone")
            << typical << QStringLiteral("999") << QStringLiteral("format-137") << QStringLiteral("251");
        QTest::newRow("video-only pairs the best audio")
            << typical << QString() << QStringLiteral("format-136") << QStringLiteral("251");
        QTest::newRow("video-only without any audio format")
            << QList<MediaFormat>{videoOnly(QStringLiteral("137"), 1080)} << QStringLiteral("140")
            << QStringLiteral("format-137") << QString();
        QTest::newRow("format with audio leaves a stale pairing")
            << typical << QStringLiteral("999") << QStringLiteral("format-18") << QStringLiteral("999");
    }
    void selectingKeepsOrRenewsThePairing() {
        QFETCH(QList<MediaFormat>, formats);
        QFETCH(QString, audioBefore);
        QFETCH(QString, choiceID);
        QFETCH(QString, audioAfter);
        ChoiceSelection selection = selectionOf(formats);
        if (!audioBefore.isNull())
            selection.selectedAudioFormatID = audioBefore;
        const QList<DownloadChoice> offered = selection.standardChoices() + selection.exactChoices();
        const auto chosen = std::find_if(offered.cbegin(), offered.cend(),
                                         [&](const DownloadChoice &choice) { return choice.id == choiceID; });
        QVERIFY(chosen != offered.cend());
        selection.selectChoice(*chosen);
        QCOMPARE(selection.selectedChoiceID, choiceID);
        QCOMPARE(selection.selectedAudioFormatID.value_or(QString()), audioAfter);
        QCOMPARE(selection.selectedAudioFormatID.has_value(), !audioAfter.isNull());
    }

    void audioExportFormatFollowsTheThirdChoice() {
        ChoiceSelection selection = selectionOf(typicalFormats());
        selection.selectChoice(selection.standardChoices().at(2));
        selection.audioExportFormat = AudioExportFormat::mp3;
        const DownloadChoice audio = selection.selectedChoice();
        QCOMPARE(audio.id, QStringLiteral("audio-only"));
        QCOMPARE(audio.subtitle, QStringLiteral("Extrae el audio en MP3"));
        QCOMPARE(audio.extraArguments,
                 (QStringList{QStringLiteral("--extract-audio"), QStringLiteral("--audio-format"),
                              QStringLiteral("mp3"), QStringLiteral("--audio-quality"), QStringLiteral("0")}));
    }
};

QTEST_GUILESS_MAIN(TestDownloadChoice)
#include "tst_downloadchoice.moc"
