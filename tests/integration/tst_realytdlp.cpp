#include "common/blockingwait.h"
#include "localhttpserver.h"
#include "media/downloadchoice.h"
#include "media/ytdlpservice.h"
#include "mediafixtures.h"
#include "process/processtree.h"
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

// Debian's real yt-dlp and FFmpeg against a DASH presentation served on 127.0.0.1.
class TestRealYTDLP : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::unique_ptr<LocalHttpServer> m_server;
    std::unique_ptr<YTDLPService> m_service;
    const QString m_ytDLP = QStringLiteral("/usr/bin/yt-dlp");

    QString jobsRoot() const { return m_dir.filePath(QStringLiteral("Jobs")); }
    QString destination() const { return m_dir.filePath(QStringLiteral("Descargas")); }
    QUrl manifest() const { return m_server->url(QStringLiteral("manifest.mpd")); }
    ProcessEnvironment commandLineEnvironment() const {
        return TestSupport::applicationEnvironment({{QStringLiteral("HOME"), m_dir.filePath(QStringLiteral("home"))},
                                                    {QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin")},
                                                    {QStringLiteral("LANG"), QStringLiteral("C.UTF-8")}});
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
        QVERIFY(MediaFixtures::makeDashPresentation(m_dir.filePath(QStringLiteral("site"))));
        m_server = std::make_unique<LocalHttpServer>(m_dir.filePath(QStringLiteral("site")));
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
        QCOMPARE(exact.at(0).qualityLabel(), QStringLiteral("360p"));
        QCOMPARE(exact.at(0).resolutionDetail(), QStringLiteral("640×360"));
        QCOMPARE(exact.at(0).videoCodecLabel(), QStringLiteral("H.264"));
        QVERIFY(!exact.at(0).hasAudio());
        QCOMPARE(exact.at(1).height, 180);
        QCOMPARE(exact.at(2).qualityLabel(), QStringLiteral("Solo audio"));
        QCOMPARE(exact.at(2).audioCodecLabel(), QStringLiteral("AAC"));

        const QList<MediaFormat> audioOnly = selection.audioOnlyFormats();
        QCOMPARE(audioOnly.size(), 1);
        selection.selectedAudioFormatID = audioOnly.first().formatID;
        selection.selectChoice(DownloadChoice::exact(exact.at(1)));
        const DownloadChoice combined = selection.selectedChoice();
        QCOMPARE(combined.formatSelector, exact.at(1).formatID + QLatin1Char('+') + audioOnly.first().formatID);
    }

    void addressBeginningWithADashIsNotAnOption() {
        try {
            BlockingWait::wait(m_service->analyze(QUrl(QStringLiteral("-version")), m_ytDLP));
            QFAIL("yt-dlp should reject the address");
        } catch (const ProcessRunnerError &error) {
            QVERIFY2(!error.errorDescription().contains(QStringLiteral("no such option")),
                     qPrintable(error.errorDescription()));
            QVERIFY2(error.errorDescription().contains(QStringLiteral("-version")),
                     qPrintable(error.errorDescription()));
        }
    }

    void recommendedMergesVideoAndAudio() {
        QList<DownloadProgress> seen;
        const auto record = [&seen](const DownloadProgress &progress) { seen.append(progress); };
        const QString first =
            BlockingWait::wait(m_service->download(manifest(), DownloadChoice::recommended(), m_ytDLP,
                                                   QStringLiteral("/usr/bin/ffmpeg"), destination(), record));
        QCOMPARE(QFileInfo(first).dir().path(), destination());
        QCOMPARE(QFileInfo(first).fileName(), QStringLiteral("manifest [manifest].mp4"));
        QCOMPARE(MediaFixtures::streamTypes(first), QStringLiteral("video,audio"));

        QVERIFY(seen.size() > 3);
        for (qsizetype i = 1; i < seen.size(); ++i)
            QVERIFY2(seen.at(i).fraction >= seen.at(i - 1).fraction, qPrintable(QString::number(i)));
        QCOMPARE(seen.last().fraction, 1.0);
        QCOMPARE(seen.last().phaseText, QStringLiteral("Completado"));
        QCOMPARE(seen.last().statusText, QStringLiteral("Descarga completada"));
        QVERIFY(QDir(jobsRoot()).isEmpty());

        const QString second = BlockingWait::wait(m_service->download(
            manifest(), DownloadChoice::recommended(), m_ytDLP, QStringLiteral("/usr/bin/ffmpeg"), destination(), {}));
        QCOMPARE(QFileInfo(second).fileName(), QStringLiteral("manifest [manifest] 2.mp4"));
        QVERIFY(QFileInfo::exists(first));
    }

    void audioOnlyAsMP3() {
        const QString file =
            BlockingWait::wait(m_service->download(manifest(), DownloadChoice::audio(AudioExportFormat::mp3), m_ytDLP,
                                                   QStringLiteral("/usr/bin/ffmpeg"), destination(), {}));
        QVERIFY2(file.endsWith(QLatin1String(".mp3")), qPrintable(file));
        QCOMPARE(MediaFixtures::streamTypes(file), QStringLiteral("audio"));
    }

    void cancelDuringTheMergeLeavesNoProcess() {
        // FFmpeg slowed down to real time (-readrate 1 before each input), so the merge is still
        // running when the cancel arrives.
        const QString slow = m_dir.filePath(QStringLiteral("slow"));
        const QString started = slow + QStringLiteral("/started");
        TestSupport::writeScript(
            slow + QStringLiteral("/ffmpeg"),
            QStringLiteral("n=$#; for a in \"$@\"; do [ \"$a\" = -i ] && set -- \"$@\" -readrate 1\n"
                           "set -- \"$@\" \"$a\"; done; shift $n\n"
                           "case \" $* \" in *' -i '*) echo $$ >> '%1' ;; esac\n"
                           "exec /usr/bin/ffmpeg \"$@\"")
                .arg(started));
        QVERIFY(QFile::link(QStringLiteral("/usr/bin/ffprobe"), slow + QStringLiteral("/ffprobe")));
        const QString folder = m_dir.filePath(QStringLiteral("Cancelada"));
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
            if (progress.phaseText != QStringLiteral("Combinando video y audio…") || merging)
                return;
            merging = true;
            poll.start(20);
        };
        QVERIFY_THROWS_EXCEPTION(CancellationError, BlockingWait::wait(m_service->download(
                                                        manifest(), DownloadChoice::recommended(), m_ytDLP,
                                                        slow + QStringLiteral("/ffmpeg"), folder, cancelWhenMerging)));
        QVERIFY(merging);
        QFile log(started);
        QVERIFY(log.open(QIODevice::ReadOnly));
        for (const QByteArray &pid : log.readAll().split('\n'))
            QVERIFY2(pid.isEmpty() || !ProcessTree::isRunning(qint32(pid.toLongLong())), pid.constData());
        QTest::qWait(300); // nothing comes back to write into the removed job folder
        QVERIFY(QDir(jobsRoot()).isEmpty());
        QVERIFY(!QFileInfo::exists(folder) || QDir(folder).isEmpty());
    }

    void commandLineAnalysis() {
        const ProcessResult result = BlockingWait::wait(ProcessRunner::run(
            TestSupport::applicationPath(),
            {QStringLiteral("analyze"), manifest().toString(), QStringLiteral("--json")}, commandLineEnvironment()));
        QCOMPARE(result.status, 0);
        const QJsonObject report = QJsonDocument::fromJson(result.standardOutput).object();
        QCOMPARE(report.value(QStringLiteral("title")).toString(), QStringLiteral("manifest"));
        QCOMPARE(report.value(QStringLiteral("durationText")).toString(), QStringLiteral("—"));
        QCOMPARE(report.value(QStringLiteral("standardChoices")).toArray().size(), 3);
        QCOMPARE(report.value(QStringLiteral("standardChoices"))
                     .toArray()
                     .at(0)
                     .toObject()
                     .value(QStringLiteral("formatSelector"))
                     .toString(),
                 QStringLiteral("bv*+ba/b"));
        QCOMPARE(report.value(QStringLiteral("exactChoices")).toArray().size(), 3);
        QCOMPARE(report.value(QStringLiteral("audioOnlyFormats")).toArray().size(), 1);
        const QJsonObject first = report.value(QStringLiteral("formats")).toArray().at(0).toObject();
        for (const char *key : {"formatID", "qualityLabel", "resolutionDetail", "detailLabel", "videoCodecLabel",
                                "audioCodecLabel", "hasVideo", "hasAudio"})
            QVERIFY2(first.contains(QLatin1String(key)), key);

        const ProcessResult invalid = BlockingWait::wait(ProcessRunner::run(
            TestSupport::applicationPath(), {QStringLiteral("analyze"), QStringLiteral("ftp://127.0.0.1/x")},
            commandLineEnvironment()));
        QCOMPARE(invalid.status, 1);
        QCOMPARE(invalid.standardError, QByteArray("Introduce una URL válida que comience con http:// o https://.\n"));
    }

    void commandLineDownloadAndInterrupt() {
        const QString home = m_dir.filePath(QStringLiteral("home"));
        const ProcessEnvironment environment = commandLineEnvironment();
        const QString folder = m_dir.filePath(QStringLiteral("Línea de órdenes"));
        const ProcessResult done = BlockingWait::wait(
            ProcessRunner::run(TestSupport::applicationPath(),
                               {QStringLiteral("download"), manifest().toString(), QStringLiteral("--choice"),
                                QStringLiteral("audio-only"), QStringLiteral("--to"), folder},
                               environment));
        QCOMPARE(done.status, 0);
        const QString placed = QString::fromUtf8(done.standardOutput).trimmed();
        QCOMPARE(placed, folder + QStringLiteral("/manifest [manifest].m4a"));
        QVERIFY(QFileInfo::exists(placed));
        QVERIFY(done.standardError.contains("Completado · 100 %"));

        // Ctrl-C as soon as the transfer reports progress.
        ProcessHandle handle;
        const ProcessResult interrupted = BlockingWait::wait(ProcessRunner::run(
            TestSupport::applicationPath(),
            {QStringLiteral("download"), manifest().toString(), QStringLiteral("--to"), folder}, environment,
            [&](const ProcessHandle &h) { handle = h; },
            [&](const QString &line) {
                if (line.contains(QStringLiteral("Descargando")))
                    ::kill(static_cast<pid_t>(handle.processID()), SIGINT);
            }));
        QCOMPARE(interrupted.status, 130);
        QVERIFY(interrupted.standardError.contains("Descarga cancelada."));
        QCOMPARE(QDir(folder).entryList(QDir::Files).size(), 1);
        QVERIFY(QDir(home + QStringLiteral("/.cache/TorvelDownloader/Jobs")).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestRealYTDLP)
#include "tst_realytdlp.moc"
