#include "process/processrunner.h"
#include "testsupport.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>

#include "common/blockingwait.h"

using namespace Qt::StringLiterals;

class TestCommandLine : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_home;

    ProcessResult runApp(const QStringList &arguments, const QString &home = {}, ProcessCallback onProcess = {}) {
        const ProcessEnvironment environment{{u"HOME"_s, home.isEmpty() ? m_home.path() : home},
                                             {u"PATH"_s, u"/usr/bin:/bin"_s},
                                             {u"LANG"_s, u"C.UTF-8"_s}};
        return BlockingWait::wait(
            ProcessRunner::run(TestSupport::applicationPath(), arguments, environment, std::move(onProcess)));
    }

private Q_SLOTS:
    void doctorReportsAsJSON() {
        const ProcessResult result = runApp({u"doctor"_s, u"--json"_s});
        QCOMPARE(result.status, 0);
        QJsonParseError error;
        const QJsonObject report = QJsonDocument::fromJson(result.standardOutput, &error).object();
        QCOMPARE(error.error, QJsonParseError::NoError);
        for (const char *key :
             {"ytDLP", "ffmpeg", "javaScriptRuntimeArguments", "managedToolsFolder", "jobsRoot", "settingsFile"})
            QVERIFY2(report.contains(QLatin1String(key)), key);
        QCOMPARE(report.value(u"managedToolsFolder"_s).toString(),
                 m_home.path() + u"/.local/share/Torvel Downloader/Tools"_s);
        QCOMPARE(report.value(u"jobsRoot"_s).toString(), m_home.path() + u"/.cache/TorvelDownloader/Jobs"_s);
        QVERIFY(report.value(u"settingsFile"_s).toString().startsWith(m_home.path()));

        // Debian's own packages, which the test setup installs.
        if (!QFileInfo(u"/usr/bin/yt-dlp"_s).isExecutable())
            QSKIP("Debian's yt-dlp is not installed");
        const QJsonObject ytDLP = report.value(u"ytDLP"_s).toObject();
        QCOMPARE(ytDLP.value(u"path"_s).toString(), u"/usr/bin/yt-dlp"_s);
        QCOMPARE(ytDLP.value(u"installSource"_s).toString(), u"Paquete del sistema"_s);
        QVERIFY(!ytDLP.value(u"version"_s).toString().isEmpty());
        const QJsonObject ffmpeg = report.value(u"ffmpeg"_s).toObject();
        QCOMPARE(ffmpeg.value(u"path"_s).toString(), u"/usr/bin/ffmpeg"_s);
        QVERIFY(ffmpeg.value(u"version"_s).toString().front().isDigit());
    }

    void doctorReportsAsText() {
        const ProcessResult result = runApp({u"doctor"_s});
        QCOMPARE(result.status, 0);
        const QString text = QString::fromUtf8(result.standardOutput);
        QVERIFY(text.contains(u"Carpeta de herramientas administradas: "_s));
        QVERIFY(text.contains(u"Archivo de ajustes: "_s));
        if (QFileInfo(u"/usr/bin/yt-dlp"_s).isExecutable())
            QVERIFY(text.contains(u"yt-dlp: /usr/bin/yt-dlp\n  Versión: "_s));
    }

    void usageErrorsExitWithTwo_data() {
        QTest::addColumn<QStringList>("arguments");
        const QString url = u"https://example.invalid/v"_s;
        QTest::newRow("doctor option") << QStringList{u"doctor"_s, u"--nonsense"_s};
        QTest::newRow("analyze without URL") << QStringList{u"analyze"_s};
        QTest::newRow("unknown option") << QStringList{u"download"_s, url, u"--fast"_s};
        QTest::newRow("missing value") << QStringList{u"download"_s, url, u"--to"_s};
        QTest::newRow("audio format") << QStringList{u"download"_s, url, u"--audio-format"_s, u"ogg"_s};
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
        QTest::newRow("Ctrl-C during the analysis") << u"analyze"_s << int(SIGINT) << 130;
        QTest::newRow("application killed during the download") << u"download"_s << int(SIGKILL) << 9;
    }
    void stoppingTheCommandStopsYTDLP() {
        QFETCH(QString, command);
        QFETCH(int, signal);
        QFETCH(int, status);
        // A yt-dlp that hangs once started, configured as the user's own choice.
        const QTemporaryDir home;
        const QString pidFile = home.filePath(u"yt-dlp.pid"_s);
        const QString ytDLP = TestSupport::writeScript(
            home.filePath(u"bin/yt-dlp"_s),
            u"[ \"$1\" = --version ] && { echo 2023.03.04; exit 0; }\necho $$ > '%1'\nexec sleep 30"_s.arg(pidFile));
        TestSupport::writeFile(home.filePath(u".config/Torvel/Torvel Downloader.conf"_s),
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
        QStringList arguments{command, u"https://example.invalid/v"_s};
        if (command == QLatin1String("download"))
            arguments << u"--to"_s << home.filePath(u"out"_s);
        const ProcessResult result = runApp(arguments, home.path(), signalOnceStarted);
        QCOMPARE(result.status, status);
        if (status == 130)
            QCOMPARE(result.standardError, QByteArray("Análisis cancelado.\n"));
        QFile pid(pidFile);
        QVERIFY(pid.open(QIODevice::ReadOnly));
        const qint64 ytDLPProcess = pid.readAll().trimmed().toLongLong();
        QTRY_VERIFY_WITH_TIMEOUT(!TestSupport::isRunning(ytDLPProcess), 3000);
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
