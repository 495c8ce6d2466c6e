#include "process/processrunner.h"
#include "testsupport.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include "common/blockingwait.h"

class TestCommandLine : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_home;

    ProcessResult runApp(const QStringList &arguments) {
        const ProcessEnvironment environment{{QStringLiteral("HOME"), m_home.path()},
                                             {QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin")},
                                             {QStringLiteral("LANG"), QStringLiteral("C.UTF-8")}};
        return BlockingWait::wait(ProcessRunner::run(TestSupport::applicationPath(), arguments, environment));
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

    void unknownCommandShowsUsage() {
        const ProcessResult result = runApp({QStringLiteral("doctor"), QStringLiteral("--nonsense")});
        QCOMPARE(result.status, 2);
        QVERIFY(result.standardError.contains("Uso:"));
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
