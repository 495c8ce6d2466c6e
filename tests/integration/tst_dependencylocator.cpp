#include "testsupport.h"
#include "tools/dependencylocator.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>

#include "common/blockingwait.h"

using namespace Qt::StringLiterals;

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
        m_environment.homeFolder = path(u"home"_s);
        m_environment.managedToolsFolder = path(u"home/.local/share/Torvel Downloader/Tools"_s);
        m_environment.pathVariable = path(u"path1"_s) + u"::"_s + path(u"path2"_s);
        m_environment.searchFolders = {path(u"fixed"_s), u"~/.local/bin"_s};
        m_environment.homebrewExecutables = {path(u"brew/bin/brew"_s), u"~/.linuxbrew/bin/brew"_s};
        m_environment.denoCandidates = {path(u"fixed/deno"_s), u"~/.deno/bin/deno"_s};
        m_environment.nodeCandidates = {path(u"fixed/node"_s), path(u"usr/bin/node"_s)};
        m_environment.versionQueryLimit = std::chrono::milliseconds(800);
    }

    void nothingFound() {
        QCOMPARE(BlockingWait::wait(locator().locateYT_DLP(QString())), std::nullopt);
        QCOMPARE(BlockingWait::wait(locator().locateFFmpeg(QString())), std::nullopt);
        QCOMPARE(locator().locateJavaScriptRuntimeArguments(), QStringList());
    }

    void preferredPathThatIsNotExecutableFallsThroughToManagedCopy() {
        const QString preferred = TestSupport::writeFile(path(u"chosen/yt-dlp"_s), "not a program");
        tool(u"path1/yt-dlp"_s, u"echo 1999.01.01"_s);
        const QString managed = tool(u"home/.local/share/Torvel Downloader/Tools/yt-dlp"_s, u"echo '  2025.10.22\n'"_s);
        QCOMPARE(BlockingWait::wait(locator().locateYT_DLP(preferred)),
                 (ToolInfo{managed, u"2025.10.22"_s, ToolInstallSource::of(ToolInstallSource::Kind::managed)}));
        QCOMPARE(locator().managedYTDLPPath(), managed);
    }

    void duplicatesAreProbedOnceAndFailuresSkipped() {
        const QString log = path(u"probes.log"_s);
        // The same folder appears in PATH twice and among the fixed folders.
        m_environment.pathVariable =
            path(u"fixed"_s) + QLatin1Char(':') + path(u"fixed"_s) + QLatin1Char(':') + path(u"path2"_s);
        tool(u"fixed/yt-dlp"_s, u"echo probe >> '%1'; exit 1"_s.arg(log));
        const QString good = tool(u"path2/yt-dlp"_s, u"printf ''"_s);
        const auto found = BlockingWait::wait(locator().locateYT_DLP(path(u"fixed/yt-dlp"_s)));
        QCOMPARE(found ? found->path + u' ' + found->version : QString(), good + u" detectado"_s);
        QCOMPARE(TestSupport::readFile(log), QByteArray("probe\n"));
    }

    void versionIsRememberedUntilTheFileChanges() {
        m_environment.versionCacheFile = path(u"cache/versions.json"_s);
        const QString log = path(u"asked.log"_s);
        const QString asking = u"echo asked >> '%1'; echo %2"_s;
        tool(u"path1/yt-dlp"_s, asking.arg(log, u"2024.01.01"_s));
        for (int run = 0; run < 2; ++run)
            QCOMPARE(BlockingWait::wait(locator().locateYT_DLP(QString()))->version, u"2024.01.01"_s);
        tool(u"path1/yt-dlp"_s, asking.arg(log, u"2025.11.12-replaced"_s));
        QCOMPARE(BlockingWait::wait(locator().locateYT_DLP(QString()))->version, u"2025.11.12-replaced"_s);
        QCOMPARE(TestSupport::readFile(log), QByteArray("asked\nasked\n"));
        // Another copy renamed into place, of the same size and modification time: a new inode.
        const QByteArray installed = QFile::encodeName(path(u"path1/yt-dlp"_s));
        const QByteArray replacement =
            QFile::encodeName(tool(u"new/yt-dlp"_s, asking.arg(log, u"2025.11.13-replaced"_s)));
        struct stat old {};
        QVERIFY(::stat(installed.constData(), &old) == 0);
        const timespec times[2] = {old.st_atim, old.st_mtim};
        QVERIFY(::utimensat(AT_FDCWD, replacement.constData(), times, 0) == 0);
        QCOMPARE(QFileInfo(QFile::decodeName(replacement)).size(), qint64(old.st_size));
        QVERIFY(std::rename(replacement.constData(), installed.constData()) == 0);
        QCOMPARE(BlockingWait::wait(locator().locateYT_DLP(QString()))->version, u"2025.11.13-replaced"_s);
    }

    void hangingCandidateIsSkippedAfterTheLimit() {
        tool(u"path1/ffmpeg"_s, u"exec sleep 30"_s);
        const QString good = tool(u"path2/ffmpeg"_s, u"echo 'ffmpeg version 5.1.6-0+deb12u1 Copyright (c) 2000-2024'\n"
                                                     "echo 'built with gcc 12'"_s);
        QElapsedTimer timer;
        timer.start();
        const auto found = BlockingWait::wait(locator().locateFFmpeg(QString()));
        QCOMPARE(found ? found->path + u' ' + found->version : QString(), good + u" 5.1.6-0+deb12u1"_s);
        QVERIFY(timer.elapsed() < 10'000);
    }

    void bothSearchesRunSideBySide() {
        // Each tool answers only once it has seen the other one start, so this finishes
        // successfully only when the two version queries overlap.
        const QString a = path(u"a.started"_s);
        const QString b = path(u"b.started"_s);
        const QString wait = u"touch '%1'; n=0; while [ ! -e '%2' ]; do n=$((n+1)); "
                             "[ $n -gt 200 ] && exit 1; sleep 0.02; done; echo '%3'"_s;
        tool(u"path1/yt-dlp"_s, wait.arg(a, b, u"2024.01.01"_s));
        tool(u"path1/ffmpeg"_s, wait.arg(b, a, u"ffmpeg version 7.1"_s));
        const DependencyLocator both = locator();
        auto ytDLP = both.locateYT_DLP(QString());
        auto ffmpeg = both.locateFFmpeg(QString());
        const auto foundYT = BlockingWait::wait(std::move(ytDLP));
        const auto foundFF = BlockingWait::wait(std::move(ffmpeg));
        QVERIFY(foundYT && foundFF);
        QCOMPARE(foundFF->version, u"7.1"_s);
    }

    void ffmpegVersionParser() {
        // FFmpeg's first line, and the version read from it: a release, a development build, none.
        for (const auto &[output, version] : std::initializer_list<std::pair<QString, QString>>{
                 {u"ffmpeg version 7.1.1 Copyright (c) 2000-2025 the FFmpeg developers\nbuilt with"_s, u"7.1.1"_s},
                 {u"ffmpeg version N-118000-g1234abcd-tessus  https://evermeet.cx"_s, u"N-118000-g1234abcd-tessus"_s},
                 {u"   "_s, u"   "_s},
                 {QString(), QString()}})
            QCOMPARE(DependencyLocator::ffmpegVersion(output), version);
    }

    void installSourceThroughLinks() {
        using Kind = ToolInstallSource::Kind;
        const auto kind = [this](const QString &tool) { return locator().installSource(tool).kind; };
        const auto program = [this](const QString &relative) { return tool(relative, u"exit 0"_s); };
        // Homebrew: a link into a Cellar folder; the first executable brew is the payload.
        link(program(u"brew/Cellar/ffmpeg/7.1/bin/ffmpeg"_s), path(u"brew/bin/ffmpeg"_s));
        QCOMPARE(locator().installSource(path(u"brew/bin/ffmpeg"_s)), ToolInstallSource::homebrew(u"brew"_s));
        const QString brew = program(u"brew/bin/brew"_s);
        QCOMPARE(locator().installSource(path(u"brew/bin/ffmpeg"_s)), ToolInstallSource::homebrew(brew));

        // pip: into site-packages, or anything under ~/.local; managed wins over the "/.local/" rule.
        link(program(u"lib/python3.11/site-packages/bin/yt-dlp"_s), path(u"bin/yt-dlp-pip"_s));
        QCOMPARE(kind(path(u"bin/yt-dlp-pip"_s)), Kind::pip);
        QCOMPARE(kind(program(u"home/.local/bin/yt-dlp"_s)), Kind::pip);
        QCOMPARE(kind(program(u"home/.local/share/Torvel Downloader/Tools/ffmpeg"_s)), Kind::managed);

        // Distribution and MacPorts folders, also through a dangling link.
        QCOMPARE(kind(u"/opt/local/bin/yt-dlp"_s), Kind::macPorts);
        QCOMPARE(kind(u"/usr/bin/env"_s), Kind::systemPackage);
        link(u"/snap/yt-dlp/current/bin/yt-dlp"_s, path(u"bin/yt-dlp-snap"_s));
        QCOMPARE(kind(path(u"bin/yt-dlp-snap"_s)), Kind::systemPackage);
        link(u"/usr/bin/env"_s, path(u"bin/env-link"_s));
        QCOMPARE(kind(path(u"bin/env-link"_s)), Kind::systemPackage);
        QCOMPARE(kind(u"/usr/local/bin/yt-dlp"_s), Kind::standalone);
        QCOMPARE(kind(program(u"opt/yt-dlp"_s)), Kind::standalone);
    }

    void javaScriptRuntimeChoice() {
        const auto runtime = [this] { return locator().locateJavaScriptRuntimeArguments().join(QLatin1Char(' ')); };
        const QString node = tool(u"usr/bin/node"_s, u"exit 0"_s);
        QCOMPARE(runtime(), u"--no-js-runtimes --js-runtimes node:"_s + node);
        const QString homeDeno = tool(u"home/.deno/bin/deno"_s, u"exit 0"_s);
        QCOMPARE(runtime(), u"--js-runtimes deno:"_s + homeDeno);
        const QString managedDeno = tool(u"home/.local/share/Torvel Downloader/Tools/deno"_s, u"exit 0"_s);
        QCOMPARE(runtime(), u"--js-runtimes deno:"_s + managedDeno);
    }
};

QTEST_GUILESS_MAIN(TestDependencyLocator)
#include "tst_dependencylocator.moc"
