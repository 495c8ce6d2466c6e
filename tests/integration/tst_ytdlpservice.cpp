#include "common/blockingwait.h"
#include "media/ytdlpservice.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QByteArray minimalDocument =
    R"({"id":"abc","title":"Clip","formats":[{"format_id":"18","vcodec":"avc1.42001E","acodec":"mp4a.40.2"}]})";

// The start of every fake yt-dlp: answers the version query and records its arguments, one per
// line, then finds the job folder given with --paths.
QString fakePrologue(const QString &version, const QString &argumentLog) {
    return QStringLiteral("if [ \"$1\" = --version ]; then echo '%1'; exit 0; fi\n"
                          "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > '%2'\n"
                          "job=''; prev=''\n"
                          "for a in \"$@\"; do [ \"$prev\" = --paths ] && job=\"$a\"; prev=\"$a\"; done\n")
        .arg(version, argumentLog);
}

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
    QString fakeYTDLP(const QString &body, const QString &version = QStringLiteral("2023.03.04")) {
        return TestSupport::writeScript(path(QStringLiteral("bin/yt-dlp")),
                                        fakePrologue(version, path(QStringLiteral("args.txt"))) + body);
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
        QTest::newRow("not JSON at all") << QStringLiteral("echo '<html>'")
                                         << QStringLiteral(
                                                "yt-dlp respondió, pero no fue posible interpretar los formatos. ");
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
        QTest::newRow("no error line: last lines of standard error")
            << QStringLiteral("echo 'algo falló' >&2; exit 3") << QStringLiteral("algo falló");
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
        // The reported path no longer exists: the folder is scanned, hidden and partial files skipped.
        const QString script = QStringLiteral("echo x > \"$job/.hidden.mp4\"; echo x > \"$job/a.mp4.part\"; echo data "
                                              "> \"$job/Vídeo \\\"raro\\\" [abc].mp4\"\n"
                                              "echo \"__TORVEL_FILE__$job/gone.mp4\"");
        QDir().mkpath(destination());
        TestSupport::writeFile(destination() + QStringLiteral("/Vídeo \"raro\" [abc].mp4"), "older");
        QList<DownloadProgress> seen;
        const QString placed = download(fakeYTDLP(script), DownloadChoice::recommended(), &seen);
        QCOMPARE(placed, destination() + QStringLiteral("/Vídeo \"raro\" [abc] 2.mp4"));
        QFile file(placed);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("data\n"));
        QVERIFY(jobFolders().isEmpty());
        QVERIFY(!seen.isEmpty());
        QCOMPARE(seen.last().fraction, 1.0);
        QCOMPARE(seen.last().phaseText, QStringLiteral("Completado"));
    }

    void gluedMarkerLinesAreReadOneByOne() {
        // Debian's yt-dlp writes post-processing reports without line ends.
        const QString script =
            QStringLiteral("echo data > \"$job/Clip [abc].mp4\"\n"
                           "printf '__TORVEL_POSTPROCESS__started|Merger__TORVEL_POSTPROCESS__finished|Merger' >&2\n"
                           "echo \"__TORVEL_FILE__$job/Clip [abc].mp4\"");
        QList<DownloadProgress> seen;
        download(fakeYTDLP(script), DownloadChoice::recommended(), &seen);
        QStringList phases;
        for (const DownloadProgress &progress : std::as_const(seen))
            phases.append(progress.phaseText);
        QVERIFY2(phases.contains(QStringLiteral("Combinando video y audio…")),
                 qPrintable(phases.join(QLatin1Char('|'))));
        QVERIFY(phases.contains(QStringLiteral("Finalizando archivo…")));
    }

    void cancellationIsNotAFailure() {
        const QString script = QStringLiteral("echo x > \"$job/Clip.mp4.part\"\n"
                                              "echo '__TORVEL_PROGRESS__ 10.0%|100|1000|NA|NA|NA|NA|NA|18|avc1|mp4a'\n"
                                              "exec sleep 30");
        const QString ytDLP = fakeYTDLP(script);
        bool cancelled = false;
        try {
            BlockingWait::wait(m_service->download(QUrl(QStringLiteral("https://example.invalid/")),
                                                   DownloadChoice::recommended(), ytDLP, std::nullopt, destination(),
                                                   [this](const DownloadProgress &) { m_service->cancel(); }));
        } catch (const CancellationError &) {
            cancelled = true;
        }
        QVERIFY(cancelled);
        QVERIFY(jobFolders().isEmpty());
        QVERIFY(!QFileInfo::exists(destination()) || QDir(destination()).isEmpty());
    }

    void cancelBeforeYTDLPStartsIsKept() {
        // The request arrives while the version is still being asked for.
        const QString ytDLP = TestSupport::writeScript(
            path(QStringLiteral("bin/slow-yt-dlp")),
            QStringLiteral("if [ \"$1\" = --version ]; then sleep 0.3; echo 2023.03.04; exit 0; fi\nexec sleep 30"));
        auto task = m_service->download(QUrl(QStringLiteral("https://example.invalid/")), DownloadChoice::recommended(),
                                        ytDLP, std::nullopt, destination(), {});
        m_service->cancel();
        QVERIFY_THROWS_EXCEPTION(CancellationError, BlockingWait::wait(std::move(task)));
    }
};

QTEST_GUILESS_MAIN(TestYTDLPService)
#include "tst_ytdlpservice.moc"
