#include "platform/manualinstall.h"
#include "testsupport.h"
#include "tools/homebrewsupportinfo.h"
#include "tools/signatureverifier.h"
#include "tools/toolhosts.h"
#include "tools/toolupdateerror.h"
#include "tools/toolupdatelog.h"
#include "tools/toolupdateservice.h"
#include "tools/versioncomparison.h"

#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

class TestToolUpdateRecords : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // A failed transfer leads with what it means, curl's own line below.
    void transferFailures() {
        for (const auto &[status, curl, first] : std::initializer_list<std::tuple<int, QString, QString>>{
                 {6, u"curl: (6) Could not resolve host: github.com"_s,
                  u"No se encontró el servidor github.com: el nombre no se pudo resolver. "
                  "Comprueba la conexión a internet."_s},
                 {7, u"curl: (7) Failed to connect"_s,
                  u"No se pudo conectar con github.com: no hay conexión a internet o el servidor no responde."_s},
                 {60, u"curl: (60) SSL certificate problem"_s,
                  u"No se pudo establecer una conexión segura con github.com: su certificado no se pudo comprobar. "
                  "Revisa la fecha del equipo o el proxy de la red."_s},
                 {28, u"curl: (28) Operation timed out"_s,
                  u"github.com tardó demasiado en responder y se abandonó la descarga. Comprueba la conexión e "
                  "inténtalo de nuevo."_s},
                 {99, QString(), u"No se pudo descargar desde github.com."_s}}) {
            const QString message = ToolUpdateError::transferFailed(status, u"github.com"_s, curl).errorDescription();
            QCOMPARE(message.section(u'\n', 0, 0), first);
            QCOMPARE(message.section(u"\n\n"_s, 1),
                     curl.isEmpty() ? u"curl terminó con el código %1."_s.arg(status) : curl);
        }
    }

    void manualInstallCommands() {
        const QString apt = u"sudo apt install yt-dlp ffmpeg"_s, brew = u"brew install yt-dlp ffmpeg"_s;
        for (const auto &[osRelease, homebrew, expected] :
             std::initializer_list<std::tuple<const char *, bool, QStringList>>{
                 {"PRETTY_NAME=\"Debian GNU/Linux 12\"\nID=debian\n", false, {apt}},
                 {"ID=linuxmint\nID_LIKE=\"ubuntu debian\"\n", true, {apt, brew}},
                 {"ID=fedora\n", false, {u"sudo dnf install yt-dlp ffmpeg"_s}},
                 {"ID=\"opensuse-tumbleweed\"\nID_LIKE=\"opensuse suse\"\n",
                  false,
                  {u"sudo zypper install yt-dlp ffmpeg"_s}},
                 {"ID=arch\n", false, {u"sudo pacman -S yt-dlp ffmpeg"_s}},
                 {"ID=gentoo\n", true, {brew}},
                 {"", false, {}}})
            QCOMPARE(ManualInstall::commands(QString::fromUtf8(osRelease), homebrew), expected);
    }

    void checksumEntries() {
        // A list, a name, and the digest found for it (empty: no entry).
        for (const auto &[list, name, expected] : std::initializer_list<std::tuple<QString, QString, QString>>{
                 {u"aaa  *yt-dlp_linux\nbbb  yt-dlp_linux.zip\n"_s, u"yt-dlp_linux"_s, u"aaa"_s},
                 {u"bbb  yt-dlp_linux.zip"_s, u"yt-dlp_linux"_s, QString()}, // a longer name does not match
                 {u"x  a\r\nccc\tdeno.zip\r\n"_s, u"deno.zip"_s, u"ccc"_s},
                 {u"ddd\n"_s, u"deno.zip"_s, QString()},              // a bare digest has no name
                 {u"eee  FFMPEG.zip"_s, u"ffmpeg.zip"_s, QString()}}) // case-sensitive
            QCOMPARE(ToolUpdateService::sha256Entry(name, list).value_or(QString()), expected);
    }

    void homebrewDiagnosis() {
        // Homebrew's answer, and the tier (-1: none), unsupported and reason read; empty: not decoded.
        for (const auto &[json, expected] : std::initializer_list<std::pair<QByteArray, QString>>{
                 {R"({"tier":3,"findings":[{"text":"other","tier":2},{"text":"  First.\nDetails","tier":3}]})",
                  u"3 false First."_s},
                 {R"({"tier":"unsupported","findings":[]})",
                  u"-1 true Homebrew clasificó esta configuración como no compatible."_s},
                 // A tier written as text is unknown, and matches "unsupported" findings only.
                 {R"({"tier":"2","findings":[{"text":"Why","tier":"unsupported"}]})", u"-1 false Why"_s},
                 {R"({"tier":1,"findings":[]})", u"1 false Homebrew clasificó esta configuración como Tier 1."_s},
                 {R"({"tier":1e10,"findings":[{"text":"x","tier":1e10}]})", u"-1 false x"_s}, // beyond int
                 {R"({"tier":1})", QString()},
                 {"Error: unknown command", QString()}}) {
            const std::optional<HomebrewSupportInfo> info = HomebrewSupportInfo::fromDiagnosis(json);
            QCOMPARE(info ? u"%1 %2 %3"_s.arg(info->tier.value_or(-1))
                                .arg(QVariant(info->unsupported).toString(), info->reason)
                          : QString(),
                     expected);
        }
    }

    void versions() {
        // A version, another, and the order of the first against the second: -1, 0, 1.
        for (const auto &[version, other, order] : std::initializer_list<std::tuple<QString, QString, int>>{
                 {u"7.1_1"_s, u"7.1"_s, 1},
                 {u"7.1"_s, u"7.1.0"_s, 0},
                 {u"2025.01.02"_s, u"2025.1.2"_s, 0},
                 {u"2025.01.99999999999999999999"_s, u"2025.01.2"_s, 1},
                 {u"1.99999999999999999998"_s, u"1.99999999999999999999"_s, -1},
                 {u"v1\uFF12.3"_s, u"1.3"_s, 0}}) { // a fullwidth digit separates
            QCOMPARE(VersionComparison::isNewer(version, other), order > 0);
            QCOMPARE(VersionComparison::isNewer(other, version), order < 0);
            QCOMPARE(VersionComparison::isAtLeast(version, other), order >= 0);
        }
    }

    void unreadableVersions() {
        // Nothing known is new enough; digits that are not ASCII make no readable version.
        QVERIFY(VersionComparison::isAtLeast(u"detectado"_s, u"2025.11.12"_s));
        QVERIFY(!VersionComparison::isAtLeast(u"\uFF12\uFF10\uFF12\uFF16"_s, u"2025.11.12"_s));
        for (const QString &plain : {u"2025.10.22"_s, u"v2.5.0"_s, u"8.0_1"_s, u"1.2.3-rc1+b"_s})
            QVERIFY2(VersionComparison::isPlainVersion(plain), qPrintable(plain));
        for (const QString &hostile : {u"v2.1.4\n"_s, u"2025.10.22\u202E"_s, u"2025\u0007.1"_s, u"-1.0"_s, u"beta"_s,
                                       QString(), u"\uFF12\uFF10"_s, u"1"_s.repeated(101), u"1 2"_s})
            QVERIFY2(!VersionComparison::isPlainVersion(hostile), qPrintable(hostile));
    }

    void logCleaning() {
        for (const auto &[text, cleaned] : std::initializer_list<std::pair<QString, QString>>{
                 {u"  \x1b[?25l==> Pouring\x1b[0m\r\n"_s, u"==> Pouring"_s}, // colours and cursor
                 {u"\x1b]0;pwned\x07texto"_s, u"texto"_s},                   // window title, BEL
                 {u"a\x1b]52;c;ZWNobyBoaQ==\x1b\\b"_s, u"ab"_s},             // clipboard write, ST
                 {u"\x1bPq#0;2;0;0;0\x1b\\x"_s, u"x"_s},                     // DCS
                 {u"\u009b31mrojo\u009d0;t\u009cfin\u0085"_s, u"rojofin"_s}, // C1 controls
                 {u"\u001bc\u001b(Bok\u001b7"_s, u"ok"_s},                   // reset and charset
                 {u"x\x1b]0;title"_s, u"x"_s},                               // unterminated string
                 {u"a\u0000b\u0008c\u007f\td"_s, u"abc\td"_s},               // other controls
                 {u"10%\r20%\r\n"_s, u"10%\n20%"_s}})                        // bare carriage return
            QCOMPARE(ToolUpdateLog::cleaned(text), cleaned);
    }

    // How stages, commands and processes read in the log is shown by the page and the command line.
    void logEntriesAndFilter() {
        QVERIFY(!ToolUpdateLog::entry(ToolUpdateEvent::processFinished(0)));

        ToolUpdateLog log;
        QVERIFY(!log.append(u"\x1b[1;32m \x1b[0m  \n"_s)); // only escapes and spaces: nothing
        QVERIFY(log.text().isEmpty());
        log.append(u"  \x1b[?25l==> Pouring\x1b[0m"_s);
        log.append(u"dos"_s);
        QCOMPARE(log.text(), u"==> Pouring\ndos"_s);
    }

    void homebrewStepsAndNotices() {
        const auto step = [](const QString &line) { return ToolUpdateLog::homebrewStep(ToolUpdateLog::cleaned(line)); };
        QCOMPARE(step(u"==>   Pouring ffmpeg--7.1"_s), u"Pouring ffmpeg--7.1"_s);
        QCOMPARE(step(u"\x1b[34m==>\x1b[0m \t\x1b[1mUpgrading 1 outdated package\x1b[0m"_s),
                 u"Upgrading 1 outdated package"_s);
        QVERIFY(!step(u"==>"_s));
        QVERIFY(!step(u"==> \t "_s));
        QVERIFY(!step(u"Downloading ==> x"_s));
        QVERIFY(
            ToolUpdateLog::announcesBuildFromSource(u"Warning: You are using macOS 12. We WOULD BUILD FROM SOURCE"_s));
        QVERIFY(ToolUpdateLog::announcesBuildFromSource(u"Homebrew no longer builds bottles for it"_s));
        QVERIFY(!ToolUpdateLog::announcesBuildFromSource(u"Pouring bottle"_s));
    }

    void logIsCutOnceItCrossesTheLimit() {
        ToolUpdateLog log;
        // Combining accents make a character of two code units: the limit counts what a person sees.
        log.append(u"e\u0301"_s.repeated(100) + QString(49'890, QLatin1Char('a')));
        QVERIFY(log.text().size() > 50'000);
        QVERIFY(!log.text().startsWith(ToolUpdateLog::marker()));
        const QString line = u"0123456789abcdefghij"_s;
        log.append(line);
        QVERIFY(log.text().startsWith(ToolUpdateLog::marker()));
        QVERIFY(log.text().endsWith(QLatin1Char('\n') + line));
        QCOMPARE(log.text().size(), ToolUpdateLog::marker().size() + 45'000);
        // The next cut comes once the log has grown past the limit again, not on every append.
        log.append(QString(4'000, QLatin1Char('b')));
        QCOMPARE(log.text().size(), ToolUpdateLog::marker().size() + 49'001);
        log.append(QString(1'000, QLatin1Char('c')));
        QCOMPARE(log.text().size(), ToolUpdateLog::marker().size() + 45'000);

        // Exactly at the limit nothing is cut; a cut never splits a character from its accent,
        // however plain the text after it is.
        ToolUpdateLog exact;
        QVERIFY(exact.append(QString(50'000, QLatin1Char('a'))));
        QCOMPARE(exact.text().size(), 50'000);
        ToolUpdateLog accent;
        accent.append(QString(5'001, QLatin1Char('a')) + u"e\u0300"_s + QString(43'999, QLatin1Char('b')));
        accent.append(QString(999, QLatin1Char('c')));
        QCOMPARE(accent.text(), ToolUpdateLog::marker() + u"e\u0300"_s + QString(43'999, QLatin1Char('b')) + u'\n' +
                                    QString(999, QLatin1Char('c')));

        // Few characters, each with hundreds of marks: bounded in code units too, cut between
        // characters.
        ToolUpdateLog marks;
        const QString stacked = u"a"_s + QString(500, QChar(0x301));
        for (int i = 0; i < 20'000; ++i)
            marks.append(stacked);
        QVERIFY2(marks.text().size() <= ToolUpdateLog::unitLimit, qPrintable(QString::number(marks.text().size())));
        const QString kept = marks.text().mid(ToolUpdateLog::marker().size());
        QVERIFY(marks.text().startsWith(ToolUpdateLog::marker()));
        QVERIFY(kept.startsWith(stacked) || kept.startsWith(u'\n' + stacked));
        QVERIFY(marks.text().endsWith(u'\n' + stacked));
    }

    void hostsFromEnvironment() {
        QProcessEnvironment environment;
        QCOMPARE(ToolHosts::fromEnvironment(environment), ToolHosts());
        environment.insert(u"TORVEL_FFMPEG_URL"_s, u"http://127.0.0.1:8080/"_s);
        environment.insert(u"TORVEL_GITHUB_URL"_s, u"https://mirror.example"_s);
        const ToolHosts hosts = ToolHosts::fromEnvironment(environment);
        QCOMPARE(ToolHosts::address(hosts.ffmpegBuilds, u"/a.zip"_s), QUrl(u"http://127.0.0.1:8080/a.zip"_s));
        QCOMPARE(hosts.gitHub, QUrl(u"https://mirror.example"_s));
        QCOMPARE(hosts.homebrewAPI, ToolHosts().homebrewAPI);

        // yt-dlp's own key is built in; another one is taken only for a GitHub on this machine.
        QVERIFY(SignatureVerifier::dearmor(ToolHosts().ytDLPSigningKey).value_or(QByteArray()).size() > 500);
        QTemporaryDir dir;
        QByteArray key = ToolHosts::ytDLPReleaseKey();
        key.insert(key.indexOf('\n') + 1, "Comment: an armor header\n");
        environment.insert(u"TORVEL_YTDLP_SIGNING_KEY"_s, TestSupport::writeFile(dir.filePath(u"key.asc"_s), key));
        const auto failure = [&] { return TestSupport::failureOf([&] { ToolHosts::fromEnvironment(environment); }); };
        QVERIFY(failure().contains(u"TORVEL_YTDLP_SIGNING_KEY solo se admite junto con TORVEL_GITHUB_URL"_s));
        environment.insert(u"TORVEL_GITHUB_URL"_s, u"http://[::1]:8080"_s);
        QCOMPARE(ToolHosts::fromEnvironment(environment).ytDLPSigningKey, key);
        environment.insert(u"TORVEL_YTDLP_SIGNING_KEY"_s,
                           TestSupport::writeFile(dir.filePath(u"bad.asc"_s), key.replace("mQINBG", "mQ!NBG")));
        QVERIFY(failure().contains(u"no contiene una clave pública OpenPGP"_s));
    }
};

QTEST_GUILESS_MAIN(TestToolUpdateRecords)
#include "tst_toolupdaterecords.moc"
