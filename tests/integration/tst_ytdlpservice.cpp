#include "common/blockingwait.h"
#include "media/ytdlpservice.h"
#include "process/processtree.h"
#include "testsupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QByteArray minimalDocument =
    R"({"id":"abc","title":"Clip","formats":[{"format_id":"18","vcodec":"avc1.42001E","acodec":"mp4a.40.2"}]})";

// The start of every fake yt-dlp: answers the version query (after a pause when asked) and
// records its arguments, one per line, then finds the job folder given with --paths.
QString fakePrologue(const QString &version, const QString &argumentLog, bool slowVersion = false) {
    return QStringLiteral("if [ \"$1\" = --version ]; then %3echo '%1'; exit 0; fi\n"
                          "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > '%2'\n"
                          "job=''; prev=''\n"
                          "for a in \"$@\"; do [ \"$prev\" = --paths ] && job=\"$a\"; prev=\"$a\"; done\n")
        .arg(version, argumentLog, slowVersion ? QStringLiteral("sleep 5; ") : QString());
}

const QUrl address(QStringLiteral("https://example.invalid/watch?v=1"));

} // namespace

class TestYTDLPService : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<YTDLPService> m_service;
    QString m_node;

    QString path(const QString &relative) const { return m_dir->filePath(relative); }
    QString jobsRoot() const { return path(QStringLiteral("cache/Jobs")); }
    QString destination() const { return path(QStringLiteral("Descargas")); }
    QString fakeYTDLP(const QString &body, const QString &version = QStringLiteral("2023.03.04"),
                      bool slowVersion = false) {
        return TestSupport::writeScript(path(QStringLiteral("bin/yt-dlp")),
                                        fakePrologue(version, path(QStringLiteral("args.txt")), slowVersion) + body);
    }
    QStringList recordedArguments() const {
        QFile file(path(QStringLiteral("args.txt")));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    QStringList jobFolders() const { return QDir(jobsRoot()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot); }

    QString download(const QString &ytDLP, const DownloadChoice &choice = DownloadChoice::recommended(),
                     QList<DownloadProgress> *seen = nullptr) {
        return BlockingWait::wait(m_service->download(QUrl(QStringLiteral("https://example.invalid/watch?v=1")), choice,
                                                      ytDLP, QStringLiteral("/usr/bin/ffmpeg"), destination(),
                                                      [seen](const DownloadProgress &progress) {
                                                          if (seen)
                                                              seen->append(progress);
                                                      }));
    }
    QString downloadFailure(const QString &ytDLP) {
        try {
            download(ytDLP);
        } catch (const ProcessRunnerError &error) {
            return error.errorDescription();
        }
        return QStringLiteral("(no failure)");
    }

private Q_SLOTS:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        LocatorEnvironment environment;
        environment.homeFolder = path(QStringLiteral("home"));
        environment.managedToolsFolder = path(QStringLiteral("tools"));
        m_node = TestSupport::writeScript(path(QStringLiteral("node/node")), QStringLiteral("exit 0"));
        environment.nodeCandidates = {m_node};
        m_service = std::make_unique<YTDLPService>(DependencyLocator(environment), JobFolders(jobsRoot()));
    }

    void analysisCommandLineDependsOnTheVersion() {
        const QUrl url(QStringLiteral("https://example.invalid/watch?v=1&list=2"));
        const QStringList tail{QStringLiteral("--dump-single-json"),
                               QStringLiteral("--skip-download"),
                               QStringLiteral("--no-playlist"),
                               QStringLiteral("--no-warnings"),
                               QStringLiteral("--"),
                               url.toString()};
        const QString script = QStringLiteral("printf '%s' '%1'").arg(QString::fromLatin1(minimalDocument));

        const MediaInfo media = BlockingWait::wait(m_service->analyze(url, fakeYTDLP(script)));
        QCOMPARE(media.title, QStringLiteral("Clip"));
        QCOMPARE(recordedArguments(), tail); // 2023 predates the JavaScript-runtime options

        LocatorEnvironment environment;
        environment.nodeCandidates = {m_node};
        m_service = std::make_unique<YTDLPService>(DependencyLocator(environment), JobFolders(jobsRoot()));
        BlockingWait::wait(m_service->analyze(url, fakeYTDLP(script, QStringLiteral("2025.11.12"))));
        QCOMPARE(recordedArguments(), QStringList({QStringLiteral("--no-js-runtimes"), QStringLiteral("--js-runtimes"),
                                                   QStringLiteral("node:") + m_node}) +
                                          tail);
    }

    void analysisFailuresAreReadable_data() {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("expected");
        QTest::newRow("last six lines")
            << QStringLiteral("i=1; while [ $i -le 20 ]; do echo \"line $i\" >&2; i=$((i+1)); done; exit 1")
            << QStringLiteral("line 15\nline 16\nline 17\nline 18\nline 19\nline 20");
        QTest::newRow("blank error output") << QStringLiteral("printf '\\n  \\n\\n' >&2; exit 2")
                                            << QStringLiteral("La herramienta terminó con un error.");
        QTest::newRow("invalid document")
            << QStringLiteral("printf '{\"id\":\"x\",\"title\":\"t\"}'")
            << QStringLiteral("yt-dlp respondió, pero no fue posible interpretar los formatos. ");
    }

    void analysisFailuresAreReadable() {
        QFETCH(QString, script);
        QFETCH(QString, expected);
        try {
            BlockingWait::wait(m_service->analyze(QUrl(QStringLiteral("https://example.invalid/")), fakeYTDLP(script)));
            QFAIL("the analysis should fail");
        } catch (const ProcessRunnerError &error) {
            QCOMPARE(error.kind(), ProcessRunnerError::Kind::failed);
            if (expected.endsWith(QLatin1Char(' '))) {
                QVERIFY2(error.errorDescription().startsWith(expected), qPrintable(error.errorDescription()));
                QVERIFY(error.errorDescription().size() > expected.size());
                QCOMPARE(error.status(), 0);
            } else {
                QCOMPARE(error.errorDescription(), expected);
            }
        }
    }

    void downloadCommandLine() {
        const QString script = QStringLiteral("echo x > \"$job/Clip [abc].mp4\"");
        download(fakeYTDLP(script, QStringLiteral("2024.04.09")), DownloadChoice::audio(AudioExportFormat::mp3));
        const QStringList arguments = recordedArguments();
        QCOMPARE(arguments.mid(0, 4), QStringList({QStringLiteral("--newline"), QStringLiteral("--progress"),
                                                   QStringLiteral("--progress-delta"), QStringLiteral("0.2")}));
        const qsizetype paths = arguments.indexOf(QStringLiteral("--paths"));
        QVERIFY(arguments.at(paths + 1).startsWith(jobsRoot() + QLatin1Char('/')));
        QCOMPARE(arguments.mid(paths + 2),
                 QStringList({QStringLiteral("--output"), QStringLiteral("%(title).180B [%(id)s].%(ext)s"),
                              QStringLiteral("--format"), QStringLiteral("ba/b"), QStringLiteral("--ffmpeg-location"),
                              QStringLiteral("/usr/bin/ffmpeg"), QStringLiteral("--extract-audio"),
                              QStringLiteral("--audio-format"), QStringLiteral("mp3"),
                              QStringLiteral("--audio-quality"), QStringLiteral("0"), QStringLiteral("--"),
                              QStringLiteral("https://example.invalid/watch?v=1")}));

        // Older builds do not know --progress-delta; an empty FFmpeg path adds no location.
        BlockingWait::wait(m_service->download(QUrl(QStringLiteral("https://example.invalid/")),
                                               DownloadChoice::recommended(), fakeYTDLP(script), QString(),
                                               destination(), {}));
        QVERIFY(!recordedArguments().contains(QStringLiteral("--progress-delta")));
        QVERIFY(!recordedArguments().contains(QStringLiteral("--ffmpeg-location")));
        QVERIFY(jobFolders().isEmpty());
    }

    void downloadFailures_data() {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("expected");
        const QString advice = QStringLiteral(
            "\n\nEl servidor de origen rechazó la URL temporal del archivo. Comprueba si hay una actualización de "
            "yt-dlp en Opciones › Herramientas y vuelve a analizar el enlace.");
        QTest::newRow("refused transfer")
            << QStringLiteral(
                   "echo 'ERROR: unable to download video data: HTTP Error 403: Forbidden'; echo 'otra cosa'; exit 1")
            << QStringLiteral("ERROR: unable to download video data: HTTP Error 403: Forbidden") + advice;
        QTest::newRow("upper-case error on standard error, later lines win")
            << QStringLiteral("echo 'error: first' >&2; echo 'FATAL ERROR: second' >&2; echo tail >&2; exit 1")
            << QStringLiteral("FATAL ERROR: second");
        QTest::newRow("no error line: last lines, without protocol lines")
            << QStringLiteral("echo '__TORVEL_PROGRESS__ 5%' >&2; echo 'algo falló' >&2\n"
                              "printf '__TORVEL_POSTPROCESS__started|Merger' >&2; exit 3")
            << QStringLiteral("algo falló");
        QTest::newRow("error glued to a post-processing report")
            << QStringLiteral("printf '__TORVEL_POSTPROCESS__started|ExtractAudioERROR: Postprocessing: audio "
                              "conversion failed: x\\n' >&2; exit 1")
            << QStringLiteral("ERROR: Postprocessing: audio conversion failed: x");
        QTest::newRow("exit 0 without a result")
            << QStringLiteral("exit 0")
            << QStringLiteral("La descarga terminó, pero no se encontró el archivo resultante.");
        QTest::newRow("only partial and hidden files")
            << QStringLiteral(
                   "echo x > \"$job/Clip.mp4.part\"; echo x > \"$job/.Clip.mp4\"; echo x > \"$job/Clip.ytdl\"")
            << QStringLiteral("La descarga terminó, pero no se encontró el archivo resultante.");
    }

    void downloadFailures() {
        QFETCH(QString, script);
        QFETCH(QString, expected);
        QCOMPARE(downloadFailure(fakeYTDLP(script)), expected);
        QVERIFY(jobFolders().isEmpty());
    }

    void resultIsFoundAndPlacedUnderAUniqueName() {
        // A marker inside a site's field is no final-file line, and a reported path outside the
        // job folder is not taken: the folder is scanned, hidden and partial files skipped.
        const QString mine = TestSupport::writeFile(path(QStringLiteral("mine.mp4")), "mine");
        const QString script =
            QStringLiteral("echo '__TORVEL_PROGRESS__ 50.0%|500|1000|NA|NA|NA|NA|NA|x__TORVEL_FILE__%1|avc1|mp4a'\n"
                           "echo x > \"$job/.hidden.mp4\"; echo x > \"$job/a.mp4.part\"; echo data "
                           "> \"$job/Vídeo \\\"raro\\\" [abc].mp4\"\n"
                           "echo '__TORVEL_FILE__%1'")
                .arg(mine);
        QDir().mkpath(destination());
        TestSupport::writeFile(destination() + QStringLiteral("/Vídeo \"raro\" [abc].mp4"), "older");
        QList<DownloadProgress> seen;
        const QString placed = download(fakeYTDLP(script), DownloadChoice::recommended(), &seen);
        QCOMPARE(placed, destination() + QStringLiteral("/Vídeo \"raro\" [abc] 2.mp4"));
        QFile file(placed);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("data\n"));
        QVERIFY(QFileInfo::exists(mine));
        QVERIFY(jobFolders().isEmpty());
        QList<double> fractions;
        for (const DownloadProgress &progress : std::as_const(seen))
            fractions.append(progress.fraction);
        QCOMPARE(fractions, (QList<double>{0.25, 0.999, 1.0}));
        QCOMPARE(seen.last().phaseText, QStringLiteral("Completado"));
    }

    void postProcessingIsShownWhileItRuns() {
        // Debian's yt-dlp writes post-processing reports without line ends; the fake waits
        // (5 s at most) until the merge has been shown before it goes on.
        const QString shown = path(QStringLiteral("shown"));
        const QString script =
            QStringLiteral("echo data > \"$job/Clip [abc].mp4\"\n"
                           "printf '__TORVEL_POSTPROCESS__started|Merger' >&2\n"
                           "i=0; while [ ! -e '%1' ] && [ $i -lt 100 ]; do sleep 0.05; i=$((i+1)); done\n"
                           "printf '__TORVEL_POSTPROCESS__finished|Merger__TORVEL_POSTPROCESS__started|MoveFiles' >&2\n"
                           "echo \"__TORVEL_FILE__$job/Clip [abc].mp4\"")
                .arg(shown);
        QStringList phases;
        bool mergeShownWhileRunning = false;
        const auto record = [&](const DownloadProgress &progress) {
            phases.append(progress.phaseText);
            if (progress.phaseText == QStringLiteral("Combinando video y audio…") && !QFileInfo::exists(shown)) {
                mergeShownWhileRunning = progress.fraction == 0.98;
                TestSupport::writeFile(shown, {});
            }
        };
        BlockingWait::wait(
            m_service->download(address, DownloadChoice::recommended(), fakeYTDLP(script), {}, destination(), record));
        QVERIFY2(mergeShownWhileRunning, qPrintable(phases.join(QLatin1Char('|'))));
        QVERIFY(phases.contains(QStringLiteral("Finalizando archivo…")));
        QCOMPARE(phases.last(), QStringLiteral("Completado"));
    }

    void destinationProblems() {
        // A destination that cannot be created fails before yt-dlp starts.
        TestSupport::writeFile(path(QStringLiteral("file")), "x");
        const QString ytDLP =
            fakeYTDLP(QStringLiteral("echo x > \"$job/Clip.mp4\"; rm -rf '%1'; echo x > '%1'").arg(destination()));
        QVERIFY_THROWS_EXCEPTION(PlatformError,
                                 BlockingWait::wait(m_service->download(address, DownloadChoice::recommended(), ytDLP,
                                                                        {}, path(QStringLiteral("file/out")), {})));
        QVERIFY(recordedArguments().isEmpty());

        // One that disappears during the download: the file is kept and the message says where.
        try {
            download(ytDLP);
            QFAIL("placing into a regular file succeeded");
        } catch (const PlatformError &error) {
            const QString kept = jobsRoot() + QLatin1Char('/') + jobFolders().value(0) + QStringLiteral("/Clip.mp4");
            QVERIFY2(error.errorDescription().endsWith(QStringLiteral("se conservó en ") + kept),
                     qPrintable(error.errorDescription()));
            QVERIFY(QFileInfo::exists(kept));
        }
    }

    void cancellationStopsTheWholeTree_data() {
        QTest::addColumn<bool>("atOnce");
        QTest::newRow("cancel") << false;
        QTest::newRow("quitting kills at once") << true;
    }
    void cancellationStopsTheWholeTree() {
        QFETCH(bool, atOnce);
        const QString childID = path(QStringLiteral("child.pid"));
        const QString script = QStringLiteral("echo x > \"$job/Clip.mp4.part\"\n"
                                              "sleep 30 & echo $! > '%1'\n"
                                              "echo '__TORVEL_PROGRESS__ 10.0%|100|1000|NA|NA|NA|NA|NA|18|avc1|mp4a'\n"
                                              "wait")
                                   .arg(childID);
        const QString ytDLP = fakeYTDLP(script);
        // While it runs, a second download is refused and the first stays cancellable.
        std::optional<QCoro::Task<QString>> second;
        const auto onProgress = [&](const DownloadProgress &) {
            if (second)
                return;
            second = m_service->download(address, DownloadChoice::recommended(), ytDLP, {}, destination(), {});
            atOnce ? m_service->killProcessTree() : m_service->cancel();
        };
        QVERIFY_THROWS_EXCEPTION(CancellationError,
                                 BlockingWait::wait(m_service->download(address, DownloadChoice::recommended(), ytDLP,
                                                                        std::nullopt, destination(), onProgress)));
        QFile file(childID);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const qint64 child = file.readAll().trimmed().toLongLong();
        QTRY_VERIFY_WITH_TIMEOUT(!ProcessTree::isRunning(qint32(child)), 1000);
        QVERIFY(jobFolders().isEmpty());
        QVERIFY(!QFileInfo::exists(destination()) || QDir(destination()).isEmpty());
        try {
            BlockingWait::wait(std::move(*second));
            QFAIL("a second download started");
        } catch (const ProcessRunnerError &error) {
            QCOMPARE(error.errorDescription(),
                     QStringLiteral("No se pudo iniciar la herramienta: ya hay una descarga en "
                                    "curso. Espera a que termine o cancélala antes de empezar "
                                    "otra."));
        }
    }

    void versionQueryIsLimitedAndCancellable() {
        // A cancel while the version is asked ends the download at once; yt-dlp never runs.
        const QString ytDLP =
            fakeYTDLP(QStringLiteral("echo x > \"$job/Clip.mp4\""), QStringLiteral("2023.03.04"), true);
        QElapsedTimer timer;
        timer.start();
        auto task = m_service->download(address, DownloadChoice::recommended(), ytDLP, std::nullopt, destination(), {});
        m_service->cancel();
        QVERIFY_THROWS_EXCEPTION(CancellationError, BlockingWait::wait(std::move(task)));
        QVERIFY(recordedArguments().isEmpty());

        // One that does not answer is given up after the discovery's limit.
        LocatorEnvironment environment;
        environment.versionQueryLimit = std::chrono::milliseconds(300);
        m_service = std::make_unique<YTDLPService>(DependencyLocator(environment), JobFolders(jobsRoot()));
        BlockingWait::wait(
            m_service->download(address, DownloadChoice::recommended(), ytDLP, std::nullopt, destination(), {}));
        QVERIFY(!recordedArguments().isEmpty());
        QVERIFY2(timer.elapsed() < 4000, qPrintable(QString::number(timer.elapsed())));
    }
};

QTEST_GUILESS_MAIN(TestYTDLPService)
#include "tst_ytdlpservice.moc"
