#include "archivefixtures.h"
#include "common/blockingwait.h"
#include "common/filedigest.h"
#include "common/serviceaddress.h"
#include "platform/applicationinfo.h"
#include "platform/archiveextractor.h"
#include "process/processrunner.h"
#include "scriptedhttpserver.h"
#include "testsupport.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using ArchiveFixtures::Entry;

class TestPlatform : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_counter = 0;
    QString fresh(const QString &name) { return m_dir.filePath(QString::number(++m_counter) + name); }

private Q_SLOTS:
    void unpacksFilesFoldersLinksAndPermissions() {
        const QString archive = fresh(QStringLiteral("tool.zip"));
        ArchiveFixtures::write(archive, {Entry{QStringLiteral("bin"), {}, Entry::Type::folder, 0755},
                                         ArchiveFixtures::file(QStringLiteral("bin/tool"), "#!/bin/sh\n", 0755),
                                         ArchiveFixtures::file(QStringLiteral("share/readme.txt"), "hola", 0600),
                                         ArchiveFixtures::symlink(QStringLiteral("bin/alias"), "tool"),
                                         ArchiveFixtures::symlink(QStringLiteral("share/up"), "../bin/tool")});
        const QString target = fresh(QStringLiteral("out"));
        BlockingWait::wait(ArchiveExtractor::extractInBackground(archive, target));

        QVERIFY(
            QFileInfo(target + QStringLiteral("/bin/tool")).permissions().testFlags(QFile::ExeOwner | QFile::ExeOther));
        QVERIFY(!(QFileInfo(target + QStringLiteral("/share/readme.txt")).permissions() & QFile::ReadOther));
        QCOMPARE(QFileInfo(target + QStringLiteral("/bin/alias")).symLinkTarget(),
                 QFileInfo(target + QStringLiteral("/bin/tool")).absoluteFilePath());
        QVERIFY(QFileInfo(target + QStringLiteral("/share/up")).isSymLink());
    }

    void refusesEntriesThatLeaveTheFolder_data() {
        QTest::addColumn<QList<Entry>>("entries");
        QTest::addColumn<QString>("message");
        QTest::newRow("dot-dot") << QList<Entry>{ArchiveFixtures::file(QStringLiteral("a/../../evil"), "x")}
                                 << QStringLiteral("entrada no permitida: a/../../evil");
        QTest::newRow("absolute") << QList<Entry>{ArchiveFixtures::file(QStringLiteral("/tmp/evil"), "x")}
                                  << QStringLiteral("entrada no permitida: /tmp/evil");
        QTest::newRow("absolute link") << QList<Entry>{ArchiveFixtures::symlink(QStringLiteral("link"), "/etc/passwd")}
                                       << QStringLiteral("entrada no permitida: link");
        QTest::newRow("link climbing out")
            << QList<Entry>{ArchiveFixtures::symlink(QStringLiteral("a/link"), "../../outside")}
            << QStringLiteral("entrada no permitida: a/link");
        // Each link stays inside on its own, but the second one sits in the first.
        QTest::newRow("through a link") << QList<Entry>{ArchiveFixtures::symlink(QStringLiteral("a"), "."),
                                                        ArchiveFixtures::symlink(QStringLiteral("a/b"), ".."),
                                                        ArchiveFixtures::file(QStringLiteral("a/b/escape"), "x")}
                                        << QStringLiteral("No se pudo descomprimir a/b");
        QTest::newRow("hard link outside")
            << QList<Entry>{Entry{QStringLiteral("hard"), "../../etc/passwd", Entry::Type::hardlink}}
            << QStringLiteral("entrada no permitida: hard");
    }
    void refusesEntriesThatLeaveTheFolder() {
        QFETCH(QList<Entry>, entries);
        QFETCH(QString, message);
        const QString archive = fresh(QStringLiteral("bad.tar.gz"));
        ArchiveFixtures::write(archive, entries);
        const QString parent = fresh(QStringLiteral("parent"));
        const QString target = parent + QStringLiteral("/out");
        try {
            ArchiveExtractor::extract(archive, target);
            QFAIL("the archive was unpacked");
        } catch (const ArchiveError &error) {
            QVERIFY2(error.errorDescription().contains(message), qPrintable(error.errorDescription()));
        }
        QCOMPARE(QDir(parent).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System),
                 QStringList{QStringLiteral("out")});
    }

    void stopsAZipBombAtTheLimitCountingRealBytes() {
        // The header claims a tiny file; what counts is what is written.
        const QString archive = fresh(QStringLiteral("bomb.zip"));
        ArchiveFixtures::write(archive, {ArchiveFixtures::file(QStringLiteral("a"), QByteArray(600 * 1024, '\0')),
                                         ArchiveFixtures::file(QStringLiteral("b"), QByteArray(600 * 1024, '\0'))});
        ArchiveExtractor::Limits limits;
        limits.maxTotalBytes = 1024 * 1024;
        QVERIFY(QFileInfo(archive).size() < 20 * 1024);
        try {
            ArchiveExtractor::extract(archive, fresh(QStringLiteral("bomb")), nullptr, limits);
            QFAIL("the bomb was unpacked");
        } catch (const ArchiveError &error) {
            QVERIFY2(error.errorDescription().contains(QStringLiteral("al descomprimirse")),
                     qPrintable(error.errorDescription()));
        }
    }

    void reportsUnreadableArchivesAndCancellation() {
        const QString notAnArchive = TestSupport::writeFile(fresh(QStringLiteral("page.zip")), "<html>404</html>");
        QVERIFY_THROWS_EXCEPTION(ArchiveError, ArchiveExtractor::extract(notAnArchive, fresh(QStringLiteral("o"))));

        const QString archive = fresh(QStringLiteral("ok.zip"));
        ArchiveFixtures::write(archive, {ArchiveFixtures::file(QStringLiteral("a"), "a")});
        const std::atomic_bool cancelled = true;
        QVERIFY_THROWS_EXCEPTION(CancellationError,
                                 ArchiveExtractor::extract(archive, fresh(QStringLiteral("c")), &cancelled));
    }

    void digestsFilesOffTheInterfaceThread() {
        const QString path = TestSupport::writeFile(fresh(QStringLiteral("abc")), "abc");
        QCOMPARE(BlockingWait::wait(FileDigest::sha256InBackground(path)),
                 QStringLiteral("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
        QVERIFY_THROWS_EXCEPTION(PlatformError, FileDigest::sha256(fresh(QStringLiteral("missing"))));
    }

    void readsTheBundlesInformationEntries() {
        const QString bundle = fresh(QStringLiteral("Torvel Downloader.app"));
        TestSupport::writeFile(bundle + QStringLiteral("/Info.json"),
                               R"({"CFBundleIdentifier": "app.torvel.downloader", "CFBundleShortVersionString": 12,
                                   "CFBundleVersion": "0042"})");
        TestSupport::writeScript(bundle + QStringLiteral("/bin/torvel-downloader"), {});
        QCOMPARE(ApplicationInfo::bundleContaining(bundle + QStringLiteral("/bin/torvel-downloader")),
                 std::optional<QString>(bundle));
        QCOMPARE(ApplicationInfo::bundleContaining(fresh(QStringLiteral("bin/torvel-downloader"))), std::nullopt);

        const ApplicationInfo info = ApplicationInfo::fromBundle(bundle);
        QCOMPARE(info.identifier, std::optional<QString>(QStringLiteral("app.torvel.downloader")));
        QCOMPARE(info.displayVersion(), QStringLiteral("0.5.2")); // a number is not text
        QCOMPARE(info.buildNumber(), 42);
        QCOMPARE(ApplicationInfo::fromBundle(fresh(QStringLiteral("none.app"))), ApplicationInfo());

        // Outside a bundle the build speaks for itself.
        QCOMPARE(ApplicationInfo::current(), ApplicationInfo::fromBuild());
        QCOMPARE(ApplicationInfo::fromBuild().displayVersion(), QStringLiteral(TORVEL_VERSION));
    }

    void parsesBuildNumbers_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("build");
        for (const auto &[text, build] : std::initializer_list<std::pair<const char *, qint64>>{
                 {"0042", 42}, {"+7", 7}, {"-3", -3}, {"", 0}, {"1.2", 0}, {" 5", 0}, {"12a", 0}, {"٣", 0}})
            QTest::newRow(text) << QString::fromUtf8(text) << build;
    }
    void parsesBuildNumbers() {
        QFETCH(QString, text);
        QFETCH(qint64, build);
        const ApplicationInfo info{std::nullopt, std::nullopt, text};
        QCOMPARE(info.buildNumber(), build);
    }

    void acceptsOnlyHttpsOrLoopbackOverrides_data() {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("origin"); // empty: refused
        QTest::newRow("https") << "https://mirror.example:8443/"
                               << "https://mirror.example:8443";
        QTest::newRow("capitals") << "HTTPS://Mirror.Example"
                                  << "https://mirror.example";
        QTest::newRow("loopback v4") << "http://127.0.0.9:8080"
                                     << "http://127.0.0.9:8080";
        QTest::newRow("loopback v6") << "http://[::1]:9"
                                     << "http://[::1]:9";
        QTest::newRow("plain http") << "http://mirror.example"
                                    << "";
        QTest::newRow("localhost by name") << "http://localhost:80"
                                           << "";
        QTest::newRow("lookalike") << "http://127.0.0.1.evil.test"
                                   << "";
        QTest::newRow("with a path") << "https://mirror.example/releases"
                                     << "";
        QTest::newRow("credentials") << "https://user:pw@mirror.example"
                                     << "";
        QTest::newRow("ftp") << "ftp://127.0.0.1"
                             << "";
        QTest::newRow("no host") << "https:///"
                                 << "";
    }
    void acceptsOnlyHttpsOrLoopbackOverrides() {
        QFETCH(QString, value);
        QFETCH(QString, origin);
        QProcessEnvironment environment;
        environment.insert(QStringLiteral("TORVEL_X_URL"), value);
        try {
            const std::optional<QUrl> url = ServiceAddress::override(environment, QStringLiteral("TORVEL_X_URL"));
            QCOMPARE(url.value_or(QUrl()).toString(), origin);
        } catch (const ServiceAddressError &error) {
            QVERIFY2(origin.isEmpty(), qPrintable(error.errorDescription()));
            QVERIFY(error.errorDescription().startsWith(QStringLiteral("La variable TORVEL_X_URL no es válida")));
        }
        QCOMPARE(ServiceAddress::override(QProcessEnvironment(), QStringLiteral("TORVEL_X_URL")), std::nullopt);
    }

    void scriptedServerRedirectsAndThrottles() {
        // The fake hosts of the tool and update tests; curl is what the application uses.
        ScriptedHttpServer server;
        server.route(QStringLiteral("/latest"),
                     ScriptedHttpServer::Response::redirect(server.url(QStringLiteral("/v1"))));
        ScriptedHttpServer::Response slow = ScriptedHttpServer::Response::ok(QByteArray(3000, 'x'));
        slow.bytesPerTick = 1000;
        server.route(QStringLiteral("/v1"), slow);
        const QStringList arguments{QStringLiteral("-sSL"), QStringLiteral("-w"), QStringLiteral("%{url_effective}"),
                                    server.url(QStringLiteral("/latest?x=1")).toString()};
        const ProcessResult result = BlockingWait::wait(ProcessRunner::run(QStringLiteral("/usr/bin/curl"), arguments));
        QCOMPARE(result.status, 0);
        QCOMPARE(result.standardOutput, QByteArray(3000, 'x') + server.url(QStringLiteral("/v1")).toEncoded());
        QCOMPARE(server.requests(), (QStringList{QStringLiteral("GET /latest?x=1"), QStringLiteral("GET /v1")}));
    }
};

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
