#include "common/blockingwait.h"
#include "localhttpserver.h"
#include "media/downloadchoice.h"
#include "media/ytdlpservice.h"
#include "mediafixtures.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>

using namespace Qt::StringLiterals;

// Debian's real yt-dlp and FFmpeg against a DASH presentation served on 127.0.0.1.
class TestRealYTDLP : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::unique_ptr<LocalHttpServer> m_server;
    std::unique_ptr<YTDLPService> m_service;
    const QString m_ytDLP = u"/usr/bin/yt-dlp"_s;

    QString jobsRoot() const { return m_dir.filePath(u"Jobs"_s); }
    QString destination() const { return m_dir.filePath(u"Descargas"_s); }
    QUrl manifest() const { return m_server->url(u"manifest.mpd"_s); }
    ProcessEnvironment commandLineEnvironment() const {
        return {{u"HOME"_s, m_dir.filePath(u"home"_s)}, {u"PATH"_s, u"/usr/bin:/bin"_s}, {u"LANG"_s, u"C.UTF-8"_s}};
    }
    ChoiceSelection analyzed() {
        ChoiceSelection selection;
        selection.mediaInfo = BlockingWait::wait(m_service->analyze(manifest(), m_ytDLP));
        return selection;
    }

private Q_SLOTS:
    void initTestCase() {
        if (!MediaFixtures::toolsAvailable())
            QSKIP("Debian's yt-dlp and ffmpeg are not installed");
        QVERIFY(MediaFixtures::makeDashPresentation(m_dir.filePath(u"site"_s)));
        m_server = std::make_unique<LocalHttpServer>(m_dir.filePath(u"site"_s));
        m_service = std::make_unique<YTDLPService>(DependencyLocator(), JobFolders(jobsRoot()));
    }

    void analysisDecodesTheFormats() {
        ChoiceSelection selection = analyzed();
        const MediaInfo &media = *selection.mediaInfo;
        QCOMPARE(media.formats.size(), 3);
        QCOMPARE(media.webpageURL, manifest().toString());

        const QList<MediaFormat> exact = selection.exactFormats();
        QCOMPARE(exact.size(), 3);
        QCOMPARE(exact.at(0).height, 360);
        QCOMPARE(exact.at(0).qualityLabel(), u"360p"_s);
        QCOMPARE(exact.at(0).resolutionDetail(), u"640×360"_s);
        QCOMPARE(exact.at(0).videoCodecLabel(), u"H.264"_s);
        QVERIFY(!exact.at(0).hasAudio());
        QCOMPARE(exact.at(1).height, 180);
        QCOMPARE(exact.at(2).qualityLabel(), u"Solo audio"_s);
        QCOMPARE(exact.at(2).audioCodecLabel(), u"AAC"_s);

        const QList<MediaFormat> audioOnly = selection.audioOnlyFormats();
        QCOMPARE(audioOnly.size(), 1);
        selection.selectedAudioFormatID = audioOnly.first().formatID;
        selection.selectChoice(DownloadChoice::exact(exact.at(1)));
        const DownloadChoice combined = selection.selectedChoice();
        QCOMPARE(combined.formatSelector, exact.at(1).formatID + QLatin1Char('+') + audioOnly.first().formatID);
    }

    void addressBeginningWithADashIsNotAnOption() {
        try {
            BlockingWait::wait(m_service->analyze(QUrl(u"-version"_s), m_ytDLP));
            QFAIL("yt-dlp should reject the address");
        } catch (const ProcessRunnerError &error) {
            QVERIFY2(!error.errorDescription().contains(u"no such option"_s), qPrintable(error.errorDescription()));
            QVERIFY2(error.errorDescription().contains(u"-version"_s), qPrintable(error.errorDescription()));
        }
    }

    void recommendedMergesVideoAndAudio() {
        QList<DownloadProgress> seen;
        const auto record = [&seen](const DownloadProgress &progress) { seen.append(progress); };
        const QString first = BlockingWait::wait(m_service->download(manifest(), DownloadChoice::recommended(), m_ytDLP,
                                                                     u"/usr/bin/ffmpeg"_s, destination(), record));
        QCOMPARE(QFileInfo(first).dir().path(), destination());
        QCOMPARE(QFileInfo(first).fileName(), u"manifest [manifest].mp4"_s);
        QCOMPARE(MediaFixtures::streamTypes(first), u"video,audio"_s);

        QVERIFY(seen.size() > 3);
        for (qsizetype i = 1; i < seen.size(); ++i)
            QVERIFY2(seen.at(i).fraction >= seen.at(i - 1).fraction, qPrintable(QString::number(i)));
        QCOMPARE(seen.last().fraction, 1.0);
        QCOMPARE(seen.last().phaseText, u"Completado"_s);
        QCOMPARE(seen.last().statusText, u"Descarga completada"_s);
        QVERIFY(QDir(jobsRoot()).isEmpty());

        const QString second = BlockingWait::wait(m_service->download(
            manifest(), DownloadChoice::recommended(), m_ytDLP, u"/usr/bin/ffmpeg"_s, destination(), {}));
        QCOMPARE(QFileInfo(second).fileName(), u"manifest [manifest] 2.mp4"_s);
        QVERIFY(QFileInfo::exists(first));
    }

    void audioOnlyAsMP3() {
        const QString file =
            BlockingWait::wait(m_service->download(manifest(), DownloadChoice::audio(AudioExportFormat::mp3), m_ytDLP,
                                                   u"/usr/bin/ffmpeg"_s, destination(), {}));
        QVERIFY2(file.endsWith(QLatin1String(".mp3")), qPrintable(file));
        QCOMPARE(MediaFixtures::streamTypes(file), u"audio"_s);
    }

    void cancelDuringTheMergeLeavesNoProcess() {
        // FFmpeg slowed down to real time (-readrate 1 before each input), so the merge is still
        // running when the cancel arrives.
        const QString slow = m_dir.filePath(u"slow"_s);
        const QString started = slow + u"/started"_s;
        TestSupport::writeScript(slow + u"/ffmpeg"_s,
                                 u"n=$#; for a in \"$@\"; do [ \"$a\" = -i ] && set -- \"$@\" -readrate 1\n"
                                 "set -- \"$@\" \"$a\"; done; shift $n\n"
                                 "case \" $* \" in *' -i '*) echo $$ >> '%1' ;; esac\n"
                                 "exec /usr/bin/ffmpeg \"$@\""_s.arg(started));
        QVERIFY(QFile::link(u"/usr/bin/ffprobe"_s, slow + u"/ffprobe"_s));
        const QString folder = m_dir.filePath(u"Cancelada"_s);
        // Cancelled once the merge is shown and FFmpeg has started on it.
        bool merging = false;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (QFileInfo(started).size() > 0 && poll.isActive()) {
                poll.stop();
                m_service->cancel();
            }
        });
        const auto cancelWhenMerging = [&](const DownloadProgress &progress) {
            if (progress.phaseText != u"Combinando video y audio…"_s || merging)
                return;
            merging = true;
            poll.start(20);
        };
        QVERIFY_THROWS_EXCEPTION(CancellationError, BlockingWait::wait(m_service->download(
                                                        manifest(), DownloadChoice::recommended(), m_ytDLP,
                                                        slow + u"/ffmpeg"_s, folder, cancelWhenMerging)));
        QVERIFY(merging);
        QFile log(started);
        QVERIFY(log.open(QIODevice::ReadOnly));
        for (const QByteArray &pid : log.readAll().split('\n'))
            QVERIFY2(pid.isEmpty() || !TestSupport::isRunning(pid.toLongLong()), pid.constData());
        QTest::qWait(300); // nothing comes back to write into the removed job folder
        QVERIFY(QDir(jobsRoot()).isEmpty());
        QVERIFY(!QFileInfo::exists(folder) || QDir(folder).isEmpty());
    }

    void commandLineAnalysis() {
        const ProcessResult result = BlockingWait::wait(
            ProcessRunner::run(TestSupport::applicationPath(), {u"analyze"_s, manifest().toString(), u"--json"_s},
                               commandLineEnvironment()));
        QCOMPARE(result.status, 0);
        const QJsonObject report = QJsonDocument::fromJson(result.standardOutput).object();
        QCOMPARE(report.value(u"title"_s).toString(), u"manifest"_s);
        QCOMPARE(report.value(u"durationText"_s).toString(), u"—"_s);
        QCOMPARE(report.value(u"standardChoices"_s).toArray().size(), 3);
        QCOMPARE(report.value(u"standardChoices"_s).toArray().at(0).toObject().value(u"formatSelector"_s).toString(),
                 u"bv*+ba/b"_s);
        QCOMPARE(report.value(u"exactChoices"_s).toArray().size(), 3);
        QCOMPARE(report.value(u"audioOnlyFormats"_s).toArray().size(), 1);
        const QJsonObject first = report.value(u"formats"_s).toArray().at(0).toObject();
        for (const char *key : {"formatID", "qualityLabel", "resolutionDetail", "detailLabel", "videoCodecLabel",
                                "audioCodecLabel", "hasVideo", "hasAudio"})
            QVERIFY2(first.contains(QLatin1String(key)), key);

        const ProcessResult invalid = BlockingWait::wait(ProcessRunner::run(
            TestSupport::applicationPath(), {u"analyze"_s, u"ftp://127.0.0.1/x"_s}, commandLineEnvironment()));
        QCOMPARE(invalid.status, 1);
        QCOMPARE(invalid.standardError, QByteArray("Introduce una URL válida que comience con http:// o https://.\n"));
    }

    void commandLineDownloadAndInterrupt() {
        const QString home = m_dir.filePath(u"home"_s);
        const ProcessEnvironment environment = commandLineEnvironment();
        const QString folder = m_dir.filePath(u"Línea de órdenes"_s);
        const ProcessResult done = BlockingWait::wait(ProcessRunner::run(
            TestSupport::applicationPath(),
            {u"download"_s, manifest().toString(), u"--choice"_s, u"audio-only"_s, u"--to"_s, folder}, environment));
        QCOMPARE(done.status, 0);
        const QString placed = QString::fromUtf8(done.standardOutput).trimmed();
        QCOMPARE(placed, folder + u"/manifest [manifest].m4a"_s);
        QVERIFY(QFileInfo::exists(placed));
        QVERIFY(done.standardError.contains("Completado · 100 %"));

        // Ctrl-C as soon as the transfer reports progress.
        ProcessHandle handle;
        const ProcessResult interrupted = BlockingWait::wait(ProcessRunner::run(
            TestSupport::applicationPath(), {u"download"_s, manifest().toString(), u"--to"_s, folder}, environment,
            [&](const ProcessHandle &h) { handle = h; },
            [&](const QString &line) {
                if (line.contains(u"Descargando"_s))
                    ::kill(static_cast<pid_t>(handle.processID()), SIGINT);
            }));
        QCOMPARE(interrupted.status, 130);
        QVERIFY(interrupted.standardError.contains("Descarga cancelada."));
        QCOMPARE(QDir(folder).entryList(QDir::Files).size(), 1);
        QVERIFY(QDir(home + u"/.cache/TorvelDownloader/Jobs"_s).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestRealYTDLP)
#include "tst_realytdlp.moc"
