#include "testsupport.h"
#include "tools/dependencylocator.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "common/blockingwait.h"

class TestDependencyLocator : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    LocatorEnvironment m_environment;

    QString path(const QString &relative) const { return m_dir->filePath(relative); }
    QString tool(const QString &relative, const QString &body) {
        return TestSupport::writeScript(path(relative), body);
    }
    DependencyLocator locator() const { return DependencyLocator(m_environment); }
    static void link(const QString &target, const QString &linkPath) {
        QDir().mkpath(QFileInfo(linkPath).absolutePath());
        QVERIFY(QFile::link(target, linkPath));
    }

private Q_SLOTS:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        m_environment = {};
        m_environment.homeFolder = path(QStringLiteral("home"));
        m_environment.managedToolsFolder = path(QStringLiteral("home/.local/share/Torvel Downloader/Tools"));
        m_environment.pathVariable =
            path(QStringLiteral("path1")) + QStringLiteral("::") + path(QStringLiteral("path2"));
        m_environment.searchFolders = {path(QStringLiteral("fixed")), QStringLiteral("~/.local/bin")};
        m_environment.homebrewExecutables = {path(QStringLiteral("brew/bin/brew")),
                                             QStringLiteral("~/.linuxbrew/bin/brew")};
        m_environment.denoCandidates = {path(QStringLiteral("fixed/deno")), QStringLiteral("~/.deno/bin/deno")};
        m_environment.nodeCandidates = {path(QStringLiteral("fixed/node")), path(QStringLiteral("usr/bin/node"))};
        m_environment.versionQueryLimit = std::chrono::milliseconds(800);
    }

    void nothingFound() {
        QCOMPARE(BlockingWait::wait(locator().locateYT_DLP(QString())), std::nullopt);
        QCOMPARE(BlockingWait::wait(locator().locateFFmpeg(QString())), std::nullopt);
        QCOMPARE(locator().locateJavaScriptRuntimeArguments(), QStringList());
    }

    void preferredPathThatIsNotExecutableFallsThroughToManagedCopy() {
        const QString preferred = TestSupport::writeFile(path(QStringLiteral("chosen/yt-dlp")), "not a program");
        tool(QStringLiteral("path1/yt-dlp"), QStringLiteral("echo 1999.01.01"));
        const QString managed = tool(QStringLiteral("home/.local/share/Torvel Downloader/Tools/yt-dlp"),
                                     QStringLiteral("echo '  2025.10.22\n'"));
        const auto found = BlockingWait::wait(locator().locateYT_DLP(preferred));
        QVERIFY(found);
        QCOMPARE(found->path, managed);
        QCOMPARE(found->version, QStringLiteral("2025.10.22"));
        QCOMPARE(found->installSource, ToolInstallSource::of(ToolInstallSource::Kind::managed));
        QCOMPARE(locator().managedYTDLPPath(), managed);
    }

    void duplicatesAreProbedOnceAndFailuresSkipped() {
        const QString log = path(QStringLiteral("probes.log"));
        // The same folder appears in PATH twice and among the fixed folders.
        m_environment.pathVariable = path(QStringLiteral("fixed")) + QLatin1Char(':') + path(QStringLiteral("fixed")) +
                                     QLatin1Char(':') + path(QStringLiteral("path2"));
        tool(QStringLiteral("fixed/yt-dlp"), QStringLiteral("echo probe >> '%1'; exit 1").arg(log));
        const QString good = tool(QStringLiteral("path2/yt-dlp"), QStringLiteral("printf ''"));
        const auto found = BlockingWait::wait(locator().locateYT_DLP(path(QStringLiteral("fixed/yt-dlp"))));
        QVERIFY(found);
        QCOMPARE(found->path, good);
        QCOMPARE(found->version, QStringLiteral("detectado"));
        QFile probes(log);
        QVERIFY(probes.open(QIODevice::ReadOnly));
        QCOMPARE(probes.readAll(), QByteArray("probe\n"));
    }

    void versionIsRememberedUntilTheFileChanges() {
        m_environment.versionCacheFile = path(QStringLiteral("cache/versions.json"));
        const QString log = path(QStringLiteral("asked.log"));
        const QString asking = QStringLiteral("echo asked >> '%1'; echo %2");
        tool(QStringLiteral("path1/yt-dlp"), asking.arg(log, QStringLiteral("2024.01.01")));
        for (int run = 0; run < 2; ++run)
            QCOMPARE(BlockingWait::wait(locator().locateYT_DLP(QString()))->version, QStringLiteral("2024.01.01"));
        tool(QStringLiteral("path1/yt-dlp"), asking.arg(log, QStringLiteral("2025.11.12-replaced")));
        QCOMPARE(BlockingWait::wait(locator().locateYT_DLP(QString()))->version, QStringLiteral("2025.11.12-replaced"));
        QFile asked(log);
        QVERIFY(asked.open(QIODevice::ReadOnly));
        QCOMPARE(asked.readAll(), QByteArray("asked\nasked\n"));
    }

    void hangingCandidateIsSkippedAfterTheLimit() {
        tool(QStringLiteral("path1/ffmpeg"), QStringLiteral("exec sleep 30"));
        const QString good = tool(QStringLiteral("path2/ffmpeg"),
                                  QStringLiteral("echo 'ffmpeg version 5.1.6-0+deb12u1 Copyright (c) 2000-2024'\n"
                                                 "echo 'built with gcc 12'"));
        QElapsedTimer timer;
        timer.start();
        const auto found = BlockingWait::wait(locator().locateFFmpeg(QString()));
        QVERIFY(found);
        QCOMPARE(found->path, good);
        QCOMPARE(found->version, QStringLiteral("5.1.6-0+deb12u1"));
        QVERIFY(timer.elapsed() < 10'000);
    }

    void bothSearchesRunSideBySide() {
        // Each tool answers only once it has seen the other one start, so this finishes
        // successfully only when the two version queries overlap.
        const QString a = path(QStringLiteral("a.started"));
        const QString b = path(QStringLiteral("b.started"));
        const QString wait = QStringLiteral("touch '%1'; n=0; while [ ! -e '%2' ]; do n=$((n+1)); "
                                            "[ $n -gt 200 ] && exit 1; sleep 0.02; done; echo '%3'");
        tool(QStringLiteral("path1/yt-dlp"), wait.arg(a, b, QStringLiteral("2024.01.01")));
        tool(QStringLiteral("path1/ffmpeg"), wait.arg(b, a, QStringLiteral("ffmpeg version 7.1")));
        const DependencyLocator both = locator();
        auto ytDLP = both.locateYT_DLP(QString());
        auto ffmpeg = both.locateFFmpeg(QString());
        const auto foundYT = BlockingWait::wait(std::move(ytDLP));
        const auto foundFF = BlockingWait::wait(std::move(ffmpeg));
        QVERIFY(foundYT && foundFF);
        QCOMPARE(foundFF->version, QStringLiteral("7.1"));
    }

    void ffmpegVersionParser_data() {
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("version");
        QTest::newRow("release")
            << QStringLiteral("ffmpeg version 7.1.1 Copyright (c) 2000-2025 the FFmpeg developers\nbuilt with")
            << QStringLiteral("7.1.1");
        QTest::newRow("development") << QStringLiteral("ffmpeg version N-118000-g1234abcd-tessus  https://evermeet.cx")
                                     << QStringLiteral("N-118000-g1234abcd-tessus");
        QTest::newRow("no banner") << QStringLiteral("   ") << QStringLiteral("   ");
        QTest::newRow("empty") << QString() << QString();
    }

    void ffmpegVersionParser() {
        QFETCH(QString, output);
        QFETCH(QString, version);
        QCOMPARE(DependencyLocator::ffmpegVersion(output), version);
    }

    void installSourceThroughLinks() {
        using Kind = ToolInstallSource::Kind;
        // Homebrew: a link into a Cellar folder; the first executable brew is the payload.
        const QString cellar = tool(QStringLiteral("brew/Cellar/ffmpeg/7.1/bin/ffmpeg"), QStringLiteral("exit 0"));
        link(cellar, path(QStringLiteral("brew/bin/ffmpeg")));
        QCOMPARE(locator().installSource(path(QStringLiteral("brew/bin/ffmpeg"))),
                 ToolInstallSource::homebrew(QStringLiteral("brew")));
        const QString brew = tool(QStringLiteral("brew/bin/brew"), QStringLiteral("exit 0"));
        QCOMPARE(locator().installSource(path(QStringLiteral("brew/bin/ffmpeg"))), ToolInstallSource::homebrew(brew));

        // pip: into site-packages, or anything under ~/.local.
        const QString sitePackages =
            tool(QStringLiteral("lib/python3.11/site-packages/bin/yt-dlp"), QStringLiteral("exit 0"));
        link(sitePackages, path(QStringLiteral("bin/yt-dlp-pip")));
        QCOMPARE(locator().installSource(path(QStringLiteral("bin/yt-dlp-pip"))).kind, Kind::pip);
        QCOMPARE(locator().installSource(tool(QStringLiteral("home/.local/bin/yt-dlp"), QStringLiteral("exit 0"))).kind,
                 Kind::pip);

        // Managed wins over the "/.local/" rule.
        QCOMPARE(locator()
                     .installSource(tool(QStringLiteral("home/.local/share/Torvel Downloader/Tools/ffmpeg"),
                                         QStringLiteral("exit 0")))
                     .kind,
                 Kind::managed);

        // Distribution and MacPorts folders, also through a dangling link.
        QCOMPARE(locator().installSource(QStringLiteral("/opt/local/bin/yt-dlp")).kind, Kind::macPorts);
        QCOMPARE(locator().installSource(QStringLiteral("/usr/bin/env")).kind, Kind::systemPackage);
        link(QStringLiteral("/snap/yt-dlp/current/bin/yt-dlp"), path(QStringLiteral("bin/yt-dlp-snap")));
        QCOMPARE(locator().installSource(path(QStringLiteral("bin/yt-dlp-snap"))).kind, Kind::systemPackage);
        link(QStringLiteral("/usr/bin/env"), path(QStringLiteral("bin/env-link")));
        QCOMPARE(locator().installSource(path(QStringLiteral("bin/env-link"))).kind, Kind::systemPackage);
        QCOMPARE(locator().installSource(QStringLiteral("/usr/local/bin/yt-dlp")).kind, Kind::standalone);
        QCOMPARE(locator().installSource(tool(QStringLiteral("opt/yt-dlp"), QStringLiteral("exit 0"))).kind,
                 Kind::standalone);
    }

    void javaScriptRuntimeChoice() {
        const QString node = tool(QStringLiteral("usr/bin/node"), QStringLiteral("exit 0"));
        QCOMPARE(locator().locateJavaScriptRuntimeArguments(),
                 (QStringList{QStringLiteral("--no-js-runtimes"), QStringLiteral("--js-runtimes"),
                              QStringLiteral("node:") + node}));

        const QString homeDeno = tool(QStringLiteral("home/.deno/bin/deno"), QStringLiteral("exit 0"));
        QCOMPARE(locator().locateJavaScriptRuntimeArguments(),
                 (QStringList{QStringLiteral("--js-runtimes"), QStringLiteral("deno:") + homeDeno}));

        const QString managedDeno =
            tool(QStringLiteral("home/.local/share/Torvel Downloader/Tools/deno"), QStringLiteral("exit 0"));
        QCOMPARE(locator().locateJavaScriptRuntimeArguments(),
                 (QStringList{QStringLiteral("--js-runtimes"), QStringLiteral("deno:") + managedDeno}));
    }
};

QTEST_GUILESS_MAIN(TestDependencyLocator)
#include "tst_dependencylocator.moc"
