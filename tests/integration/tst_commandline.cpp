#include "process/processrunner.h"
#include "process/processtree.h"
#include "testsupport.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>

#include "common/blockingwait.h"

class TestCommandLine : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_home;

    ProcessResult runApp(const QStringList &arguments, const QString &home = {}, ProcessCallback onProcess = {}) {
        const ProcessEnvironment environment{{QStringLiteral("HOME"), home.isEmpty() ? m_home.path() : home},
                                             {QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin")},
                                             {QStringLiteral("LANG"), QStringLiteral("C.UTF-8")}};
        return BlockingWait::wait(ProcessRunner::run(TestSupport::applicationPath(), arguments,
                                                     TestSupport::applicationEnvironment(environment),
                                                     std::move(onProcess)));
    }

private Q_SLOTS:
    void doctorReportsAsJSON() {
        const ProcessResult result = runApp({QStringLiteral("doctor"), QStringLiteral("--json")});
        QCOMPARE(result.status, 0);
        QJsonParseError error;
        const QJsonObject report = QJsonDocument::fromJson(result.standardOutput, &error).object();
        QCOMPARE(error.error, QJsonParseError::NoError);
        for (const char *key :
             {"ytDLP", "ffmpeg", "javaScriptRuntimeArguments", "managedToolsFolder", "jobsRoot", "settingsFile"})
            QVERIFY2(report.contains(QLatin1String(key)), key);
        QCOMPARE(report.value(QStringLiteral("managedToolsFolder")).toString(),
                 m_home.path() + QStringLiteral("/.local/share/Torvel Downloader/Tools"));
        QCOMPARE(report.value(QStringLiteral("jobsRoot")).toString(),
                 m_home.path() + QStringLiteral("/.cache/TorvelDownloader/Jobs"));
        QVERIFY(report.value(QStringLiteral("settingsFile")).toString().startsWith(m_home.path()));

        // Debian's own packages, which the test setup installs.
        if (!QFileInfo(QStringLiteral("/usr/bin/yt-dlp")).isExecutable())
            QSKIP("Debian's yt-dlp is not installed");
        const QJsonObject ytDLP = report.value(QStringLiteral("ytDLP")).toObject();
        QCOMPARE(ytDLP.value(QStringLiteral("path")).toString(), QStringLiteral("/usr/bin/yt-dlp"));
        QCOMPARE(ytDLP.value(QStringLiteral("installSource")).toString(), QStringLiteral("Paquete del sistema"));
        QVERIFY(!ytDLP.value(QStringLiteral("version")).toString().isEmpty());
        const QJsonObject ffmpeg = report.value(QStringLiteral("ffmpeg")).toObject();
        QCOMPARE(ffmpeg.value(QStringLiteral("path")).toString(), QStringLiteral("/usr/bin/ffmpeg"));
        QVERIFY(ffmpeg.value(QStringLiteral("version")).toString().front().isDigit());
    }

    void doctorReportsAsText() {
        const ProcessResult result = runApp({QStringLiteral("doctor")});
        QCOMPARE(result.status, 0);
        const QString text = QString::fromUtf8(result.standardOutput);
        QVERIFY(text.contains(QStringLiteral("Carpeta de herramientas administradas: ")));
        QVERIFY(text.contains(QStringLiteral("Archivo de ajustes: ")));
        if (QFileInfo(QStringLiteral("/usr/bin/yt-dlp")).isExecutable())
            QVERIFY(text.contains(QStringLiteral("yt-dlp: /usr/bin/yt-dlp\n  Versión: ")));
    }

    void usageErrorsExitWithTwo_data() {
        QTest::addColumn<QStringList>("arguments");
        const QString url = QStringLiteral("https://example.invalid/v");
        QTest::newRow("doctor option") << QStringList{QStringLiteral("doctor"), QStringLiteral("--nonsense")};
        QTest::newRow("analyze without URL") << QStringList{QStringLiteral("analyze")};
        QTest::newRow("unknown option") << QStringList{QStringLiteral("download"), url, QStringLiteral("--fast")};
        QTest::newRow("missing value") << QStringList{QStringLiteral("download"), url, QStringLiteral("--to")};
        QTest::newRow("audio format") << QStringList{QStringLiteral("download"), url, QStringLiteral("--audio-format"),
                                                     QStringLiteral("ogg")};
    }
    void usageErrorsExitWithTwo() {
        QFETCH(QStringList, arguments);
        const ProcessResult result = runApp(arguments);
        QCOMPARE(result.status, 2);
        QVERIFY(result.standardError.startsWith("Uso:"));
    }

    void stoppingTheCommandStopsYTDLP_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("signal");
        QTest::addColumn<int>("status");
        QTest::newRow("Ctrl-C during the analysis") << QStringLiteral("analyze") << int(SIGINT) << 130;
        QTest::newRow("application killed during the download") << QStringLiteral("download") << int(SIGKILL) << 9;
    }
    void stoppingTheCommandStopsYTDLP() {
        QFETCH(QString, command);
        QFETCH(int, signal);
        QFETCH(int, status);
        // A yt-dlp that hangs once started, configured as the user's own choice.
        const QTemporaryDir home;
        const QString pidFile = home.filePath(QStringLiteral("yt-dlp.pid"));
        const QString ytDLP = TestSupport::writeScript(
            home.filePath(QStringLiteral("bin/yt-dlp")),
            QStringLiteral("[ \"$1\" = --version ] && { echo 2023.03.04; exit 0; }\necho $$ > '%1'\nexec sleep 30")
                .arg(pidFile));
        TestSupport::writeFile(home.filePath(QStringLiteral(".config/Torvel/Torvel Downloader.conf")),
                               "[General]\nytDLPPath=" + ytDLP.toUtf8() + "\n");
        QTimer poll;
        const ProcessCallback signalOnceStarted = [&](const ProcessHandle &app) {
            QObject::connect(&poll, &QTimer::timeout, [&, app] {
                if (QFileInfo(pidFile).size() > 0 && poll.isActive()) {
                    poll.stop();
                    ::kill(pid_t(app.processID()), signal);
                }
            });
            poll.start(20);
        };
        QStringList arguments{command, QStringLiteral("https://example.invalid/v")};
        if (command == QLatin1String("download"))
            arguments << QStringLiteral("--to") << home.filePath(QStringLiteral("out"));
        const ProcessResult result = runApp(arguments, home.path(), signalOnceStarted);
        QCOMPARE(result.status, status);
        if (status == 130)
            QCOMPARE(result.standardError, QByteArray("Análisis cancelado.\n"));
        QFile pid(pidFile);
        QVERIFY(pid.open(QIODevice::ReadOnly));
        const qint64 ytDLPProcess = pid.readAll().trimmed().toLongLong();
        QTRY_VERIFY_WITH_TIMEOUT(!ProcessTree::isRunning(qint32(ytDLPProcess)), 3000);
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
