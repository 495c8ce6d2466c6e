#include "common/serviceaddress.h"
#include "platform/nativeexecutable.h"
#include "testsupport.h"
#include "tools/homebrewsupportinfo.h"
#include "tools/toolhosts.h"
#include "tools/toolupdatelog.h"
#include "tools/toolupdateservice.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using Pair = ToolUpdateService::InstallPair;

class TestToolUpdateRecords : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void checksumEntries_data() {
        QTest::addColumn<QString>("list");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("expected"); // empty: no entry
        QTest::newRow("asterisk") << "aaa  *yt-dlp_linux\nbbb  yt-dlp_linux.zip\n"
                                  << "yt-dlp_linux"
                                  << "aaa";
        QTest::newRow("longer name does not match") << "bbb  yt-dlp_linux.zip"
                                                    << "yt-dlp_linux"
                                                    << "";
        QTest::newRow("crlf and tabs") << "x  a\r\nccc\tdeno.zip\r\n"
                                       << "deno.zip"
                                       << "ccc";
        QTest::newRow("bare digest has no name") << "ddd\n"
                                                 << "deno.zip"
                                                 << "";
        QTest::newRow("case-sensitive") << "eee  FFMPEG.zip"
                                        << "ffmpeg.zip"
                                        << "";
    }
    void checksumEntries() {
        QFETCH(QString, list);
        QFETCH(QString, name);
        QFETCH(QString, expected);
        QCOMPARE(ToolUpdateService::sha256Entry(name, list).value_or(QString()), expected);
    }

    void homebrewDiagnosis_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("decodes");
        QTest::addColumn<int>("tier"); // -1: none
        QTest::addColumn<bool>("unsupported");
        QTest::addColumn<QString>("reason");
        QTest::newRow("matching finding")
            << QByteArray(R"({"tier":3,"findings":[{"text":"other","tier":2},{"text":"  First.\nDetails","tier":3}]})")
            << true << 3 << false << "First.";
        QTest::newRow("unsupported without finding")
            << QByteArray(R"({"tier":"unsupported","findings":[]})") << true << -1 << true
            << "Homebrew clasificó esta configuración como no compatible.";
        QTest::newRow("text tier is unknown and matches unsupported")
            << QByteArray(R"({"tier":"2","findings":[{"text":"Why","tier":"unsupported"}]})") << true << -1 << false
            << "Why";
        QTest::newRow("number without finding") << QByteArray(R"({"tier":1,"findings":[]})") << true << 1 << false
                                                << "Homebrew clasificó esta configuración como Tier 1.";
        QTest::newRow("missing findings") << QByteArray(R"({"tier":1})") << false << -1 << false << "";
        QTest::newRow("finding without text")
            << QByteArray(R"({"tier":1,"findings":[{"tier":1}]})") << false << -1 << false << "";
        QTest::newRow("not JSON") << QByteArray("Error: unknown command") << false << -1 << false << "";
    }
    void homebrewDiagnosis() {
        QFETCH(QByteArray, json);
        QFETCH(bool, decodes);
        QFETCH(int, tier);
        QFETCH(bool, unsupported);
        QFETCH(QString, reason);
        const std::optional<HomebrewSupportInfo> info = HomebrewSupportInfo::fromDiagnosis(json);
        QCOMPARE(info.has_value(), decodes);
        if (decodes)
            QCOMPARE(*info,
                     (HomebrewSupportInfo{tier < 0 ? std::nullopt : std::optional<int>(tier), unsupported, reason}));
    }

    void logEntriesAndFilter() {
        QCOMPARE(ToolUpdateLog::entry(ToolUpdateEvent::stage(QStringLiteral("Instalando…"))),
                 QStringLiteral("▶ Instalando…"));
        QCOMPARE(ToolUpdateLog::entry(ToolUpdateEvent::command(QStringLiteral("/bin/x -U"))),
                 QStringLiteral("$ /bin/x -U"));
        QCOMPARE(ToolUpdateLog::entry(ToolUpdateEvent::processStarted(42)), QStringLiteral("Proceso activo: PID 42."));
        QVERIFY(!ToolUpdateLog::entry(ToolUpdateEvent::processFinished(0)));

        ToolUpdateLog log;
        log.append(QStringLiteral("\x1b[1;32m \x1b[0m  \n")); // only escapes and spaces: nothing
        QVERIFY(log.text().isEmpty());
        log.append(QStringLiteral("  \x1b[?25l==> Pouring\x1b[0m\r\n"));
        log.append(QStringLiteral("dos"));
        QCOMPARE(log.text(), QStringLiteral("==> Pouring\ndos"));
    }

    void logIsCutOnceItCrossesTheLimit() {
        ToolUpdateLog log;
        // Combining accents make a character of two code units: the limit counts what a person sees.
        log.append(QStringLiteral("e\u0301").repeated(100) + QString(49'890, QLatin1Char('a')));
        QVERIFY(log.text().size() > 50'000);
        QVERIFY(!log.text().startsWith(ToolUpdateLog::marker()));
        const QString line = QStringLiteral("0123456789abcdefghij");
        log.append(line);
        QVERIFY(log.text().startsWith(ToolUpdateLog::marker()));
        QVERIFY(log.text().endsWith(QLatin1Char('\n') + line));
        QCOMPARE(log.text().size(), ToolUpdateLog::marker().size() + 45'000);
        // The next cut comes once the log has grown past the limit again, not on every append.
        log.append(QString(4'000, QLatin1Char('b')));
        QCOMPARE(log.text().size(), ToolUpdateLog::marker().size() + 49'001);
        log.append(QString(1'000, QLatin1Char('c')));
        QCOMPARE(log.text().size(), ToolUpdateLog::marker().size() + 45'000);
    }

    void hostsFromEnvironment() {
        QProcessEnvironment environment;
        QCOMPARE(ToolHosts::fromEnvironment(environment), ToolHosts());
        environment.insert(QStringLiteral("TORVEL_FFMPEG_URL"), QStringLiteral("http://127.0.0.1:8080/"));
        environment.insert(QStringLiteral("TORVEL_GITHUB_URL"), QStringLiteral("https://mirror.example"));
        const ToolHosts hosts = ToolHosts::fromEnvironment(environment);
        QCOMPARE(ToolHosts::address(hosts.ffmpegBuilds, QStringLiteral("/a.zip")),
                 QUrl(QStringLiteral("http://127.0.0.1:8080/a.zip")));
        QCOMPARE(hosts.gitHub, QUrl(QStringLiteral("https://mirror.example")));
        QCOMPARE(hosts.homebrewAPI, ToolHosts().homebrewAPI);
        environment.insert(QStringLiteral("TORVEL_HOMEBREW_API_URL"), QStringLiteral("http://formulae.example"));
        try {
            ToolHosts::fromEnvironment(environment);
            QFAIL("a plain-http host outside this machine was accepted");
        } catch (const ServiceAddressError &error) {
            QVERIFY(error.errorDescription().contains(QStringLiteral("TORVEL_HOMEBREW_API_URL")));
        }
    }

    void nativeExecutableCheck() {
        QTemporaryDir dir;
        QVERIFY(NativeExecutable::isNativeExecutable(QStringLiteral("/usr/bin/ffprobe")));
        QFile real(QStringLiteral("/usr/bin/ffprobe"));
        QVERIFY(real.open(QIODevice::ReadOnly));
        QByteArray other = real.readAll();
        other[18] = 3; // e_machine: i386
        QVERIFY(
            !NativeExecutable::isNativeExecutable(TestSupport::writeFile(dir.filePath(QStringLiteral("x")), other)));
        QVERIFY(!NativeExecutable::isNativeExecutable(
            TestSupport::writeScript(dir.filePath(QStringLiteral("s")), QStringLiteral("exit 0"))));
        QVERIFY(!NativeExecutable::isNativeExecutable(dir.filePath(QStringLiteral("missing"))));
    }

    // Moves numbered in order: backups of the existing destinations first, then the installs.
    void installAtomicallyRestoresThePreviousSet_data() {
        QTest::addColumn<int>("failingMove"); // 0: none
        for (int move = 0; move <= 4; ++move)
            QTest::newRow(qPrintable(QStringLiteral("move %1").arg(move))) << move;
    }
    void installAtomicallyRestoresThePreviousSet() {
        QFETCH(int, failingMove);
        QTemporaryDir dir;
        const auto path = [&](const char *name) { return dir.filePath(QString::fromLatin1(name)); };
        TestSupport::writeFile(path("ffmpeg"), "old ffmpeg");
        TestSupport::writeFile(path("ffprobe"), "old ffprobe");
        TestSupport::writeFile(path("work/ffmpeg"), "new ffmpeg");
        TestSupport::writeFile(path("work/ffprobe"), "new ffprobe");
        int moves = 0;
        const ToolUpdateService::FileMove move = [&](const QString &from, const QString &to) -> std::optional<QString> {
            if (++moves == failingMove)
                return QStringLiteral("disco lleno");
            return ToolUpdateService::renameFile(from, to);
        };
        const QList<Pair> pairs{{path("work/ffmpeg"), path("ffmpeg")}, {path("work/ffprobe"), path("ffprobe")}};
        try {
            ToolUpdateService::installAtomically(pairs, move);
            QCOMPARE(failingMove, 0);
        } catch (const PlatformError &error) {
            QVERIFY(failingMove > 0);
            QVERIFY(error.errorDescription().endsWith(QStringLiteral(": disco lleno")));
        }
        const auto read = [&](const char *name) {
            QFile file(path(name));
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        const QByteArray prefix = failingMove == 0 ? "new " : "old ";
        QCOMPARE(read("ffmpeg"), prefix + "ffmpeg");
        QCOMPARE(read("ffprobe"), prefix + "ffprobe");
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files),
                 (QStringList{QStringLiteral("ffmpeg"), QStringLiteral("ffprobe")}));
    }

    void installAtomicallyWithoutPreviousFiles() {
        QTemporaryDir dir;
        const QString source = TestSupport::writeFile(dir.filePath(QStringLiteral("new")), "x");
        ToolUpdateService::installAtomically({{source, dir.filePath(QStringLiteral("deno"))}});
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("deno")});
    }
};

QTEST_GUILESS_MAIN(TestToolUpdateRecords)
#include "tst_toolupdaterecords.moc"
