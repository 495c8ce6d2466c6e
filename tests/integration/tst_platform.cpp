#include "archivefixtures.h"
#include "common/blockingwait.h"
#include "common/filedigest.h"
#include "common/serviceaddress.h"
#include "platform/applicationinfo.h"
#include "platform/archiveextractor.h"
#include "testsupport.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

using ArchiveFixtures::Entry;
using TestSupport::failureOf;

class TestPlatform : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_counter = 0;
    QString fresh(const QString &name) { return m_dir.filePath(QString::number(++m_counter) + name); }

private Q_SLOTS:
    // Modes are the extractor's own, not the archive's; "." cannot touch the destination, which
    // may be reached through a link.
    void unpacksFilesFoldersLinksAndPermissions() {
        const QString archive = fresh(u"tool.zip"_s);
        ArchiveFixtures::write(archive, {Entry{u"."_s, {}, Entry::Type::folder, 0},
                                         Entry{u"bin"_s, {}, Entry::Type::folder, 0777},
                                         ArchiveFixtures::file(u"./bin/tool"_s, "#!/bin/sh\n", 04777),
                                         ArchiveFixtures::file(u"share/readme.txt"_s, "hola", 0600),
                                         ArchiveFixtures::symlink(u"bin/alias"_s, "tool"),
                                         ArchiveFixtures::symlink(u"share/up"_s, "../bin/tool")});
        const QString real = fresh(u"real"_s);
        QVERIFY(QDir().mkpath(real + u"/out"_s));
        const QString via = fresh(u"via"_s);
        QVERIFY(QFile::link(real, via));
        const QString target = via + u"/out"_s;
        BlockingWait::wait(ArchiveExtractor::extractInBackground(archive, target));

        const auto mode = [&target](const char *path) {
            struct stat status {};
            ::lstat(QFile::encodeName(target + QLatin1Char('/') + QLatin1String(path)).constData(), &status);
            return status.st_mode & 07777;
        };
        QCOMPARE(QList<uint>({mode("."), mode("bin"), mode("bin/tool"), mode("share"), mode("share/readme.txt")}),
                 QList<uint>({0755, 0755, 0755, 0755, 0644}));
        QCOMPARE(QFileInfo(target + u"/bin/alias"_s).symLinkTarget(),
                 QFileInfo(target + u"/bin/tool"_s).absoluteFilePath());
        QVERIFY(QFileInfo(target + u"/share/up"_s).isSymLink());
    }

    // Clean-up gets through folders of any mode and never follows a link out.
    void removesWholeTrees() {
        const QString outside = TestSupport::writeFile(fresh(u"outside"_s), "keep");
        const QString tree = fresh(u"tree"_s);
        TestSupport::writeFile(tree + u"/locked/file"_s, "x");
        TestSupport::writeFile(tree + u"/closed/deeper/file"_s, "x");
        QVERIFY(QFile::link(outside, tree + u"/link"_s));
        QVERIFY(QFile::link(QFileInfo(outside).path(), tree + u"/folder-link"_s));
        QVERIFY(QFile::setPermissions(tree + u"/locked"_s, QFile::ReadOwner | QFile::ExeOwner));
        QVERIFY(QFile::setPermissions(tree + u"/closed"_s, {}));
        QVERIFY(ArchiveExtractor::removeTree(tree));
        QVERIFY(!QFileInfo::exists(tree));
        QCOMPARE(TestSupport::readFile(outside), QByteArray("keep"));
        QVERIFY(ArchiveExtractor::removeTree(tree));
    }

    void refusesEntriesThatLeaveTheFolder_data() {
        QTest::addColumn<QList<Entry>>("entries");
        QTest::addColumn<QString>("message");
        QTest::newRow("dot-dot") << QList<Entry>{ArchiveFixtures::file(u"a/../../evil"_s, "x")}
                                 << u"entrada no permitida: a/../../evil"_s;
        QTest::newRow("absolute") << QList<Entry>{ArchiveFixtures::file(u"/tmp/evil"_s, "x")}
                                  << u"entrada no permitida: /tmp/evil"_s;
        QTest::newRow("absolute link") << QList<Entry>{ArchiveFixtures::symlink(u"link"_s, "/etc/passwd")}
                                       << u"entrada no permitida: link"_s;
        QTest::newRow("link climbing out") << QList<Entry>{ArchiveFixtures::symlink(u"a/link"_s, "../../outside")}
                                           << u"entrada no permitida: a/link"_s;
        // Each link stays inside on its own, but the second one sits in the first.
        QTest::newRow("through a link") << QList<Entry>{ArchiveFixtures::symlink(u"a"_s, "."),
                                                        ArchiveFixtures::symlink(u"a/b"_s, ".."),
                                                        ArchiveFixtures::file(u"a/b/escape"_s, "x")}
                                        << u"No se pudo descomprimir a/b"_s;
        // Each link reads as inside, but the first leads to the destination itself, so the second
        // climbs out of it.
        QString deep, up;
        for (int step = 0; step < 30; ++step) {
            deep += u"d/"_s;
            up += u"../"_s;
        }
        QTest::newRow("link chain") << QList<Entry>{ArchiveFixtures::symlink(deep + u"l"_s, up.toUtf8()),
                                                    ArchiveFixtures::symlink(u"x"_s, (deep + u"l/"_s + up).toUtf8())}
                                    << u"entrada no permitida: x"_s;
        QTest::newRow("dangling link") << QList<Entry>{ArchiveFixtures::symlink(u"l"_s, "missing")}
                                       << u"entrada no permitida: l"_s;
        QTest::newRow("too deep") << QList<Entry>{ArchiveFixtures::file(QString(u"d/"_s).repeated(65) + u"f"_s, "x")}
                                  << u"carpetas demasiado anidadas"_s;
        QTest::newRow("hard link outside") << QList<Entry>{Entry{u"hard"_s, "../../etc/passwd", Entry::Type::hardlink}}
                                           << u"entrada no permitida: hard"_s;
    }
    void refusesEntriesThatLeaveTheFolder() {
        QFETCH(QList<Entry>, entries);
        QFETCH(QString, message);
        const QString archive = fresh(u"bad.tar.gz"_s);
        ArchiveFixtures::write(archive, entries);
        const QString parent = fresh(u"parent"_s);
        const QString target = parent + u"/out"_s;
        const QString failure = failureOf([&] { ArchiveExtractor::extract(archive, target); });
        QVERIFY2(failure.contains(message), qPrintable(failure));
        QCOMPARE(QDir(parent).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System), QStringList{u"out"_s});
    }

    void stopsBombsUnreadableArchivesAndCancellation() {
        // The header claims a tiny file; what counts is what is written.
        const QString bomb = fresh(u"bomb.zip"_s);
        ArchiveFixtures::write(bomb, {ArchiveFixtures::file(u"a"_s, QByteArray(600 * 1024, '\0')),
                                      ArchiveFixtures::file(u"b"_s, QByteArray(600 * 1024, '\0'))});
        QVERIFY(QFileInfo(bomb).size() < 20 * 1024);
        ArchiveExtractor::Limits limits;
        limits.maxTotalBytes = 1024 * 1024;
        const QString failure = failureOf([&] { ArchiveExtractor::extract(bomb, fresh(u"o"_s), nullptr, limits); });
        QVERIFY2(failure.contains(u"al descomprimirse"_s), qPrintable(failure));
        // A zip entry declaring far more than its data holds, and a sparse tar entry that is one
        // byte after a hole of a terabyte, count as what they declare.
        const QString declared = fresh(u"declared.zip"_s);
        ArchiveFixtures::write(declared, {ArchiveFixtures::file(u"big"_s, QByteArray(100, 'x'))});
        QByteArray bytes = TestSupport::readFile(declared);
        qToLittleEndian<quint32>(0xf0000000u, bytes.data() + bytes.indexOf("PK\x03\x04") + 22);
        qToLittleEndian<quint32>(0xf0000000u, bytes.data() + bytes.indexOf("PK\x01\x02") + 24);
        TestSupport::writeFile(declared, bytes);
        Entry hole = ArchiveFixtures::file(u"hole"_s, "x");
        hole.declaredSize = qint64(1) << 40;
        hole.sparse = true;
        const QString sparse = fresh(u"sparse.tar.gz"_s);
        ArchiveFixtures::write(sparse, {hole});
        for (const auto &[archive, message] :
             {std::pair(declared, u"al descomprimirse"_s), std::pair(sparse, u"disperso"_s)}) {
            const QString out = fresh(u"o"_s);
            const QString refusal = failureOf([&] { ArchiveExtractor::extract(archive, out); });
            QVERIFY2(refusal.contains(message), qPrintable(refusal));
            QVERIFY(ArchiveExtractor::removeTree(out));
        }
        const std::atomic_bool cancelled = true;
        QCOMPARE(failureOf([&] { ArchiveExtractor::extract(bomb, fresh(u"o"_s), &cancelled); }), u"cancelada"_s);
        const QString page = TestSupport::writeFile(fresh(u"page.zip"_s), "<html>404</html>");
        QVERIFY_THROWS_EXCEPTION(ArchiveError, ArchiveExtractor::extract(page, fresh(u"o"_s)));
    }

    void digestsFilesOffTheInterfaceThread() {
        const QString path = TestSupport::writeFile(fresh(u"abc"_s), "abc");
        QCOMPARE(BlockingWait::wait(FileDigest::sha256InBackground(path)),
                 u"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"_s);
        QVERIFY_THROWS_EXCEPTION(PlatformError, FileDigest::sha256(fresh(u"missing"_s)));
    }

    void readsTheBundlesInformationEntries() {
        const QString bundle = fresh(u"Torvel Downloader.app"_s);
        TestSupport::writeFile(bundle + u"/Info.json"_s,
                               R"({"CFBundleIdentifier": "app.torvel.downloader", "CFBundleShortVersionString": 12,
                                   "CFBundleVersion": "0042"})");
        TestSupport::writeScript(bundle + u"/bin/torvel-downloader"_s, {});
        QCOMPARE(ApplicationInfo::bundleContaining(bundle + u"/bin/torvel-downloader"_s),
                 std::optional<QString>(bundle));
        QCOMPARE(ApplicationInfo::bundleContaining(fresh(u"bin/torvel-downloader"_s)), std::nullopt);

        const ApplicationInfo info = ApplicationInfo::fromBundle(bundle);
        QCOMPARE(info.identifier, std::optional<QString>(u"app.torvel.downloader"_s));
        QCOMPARE(info.displayVersion(), u"0.5.2"_s); // a number is not text
        QCOMPARE(info.buildNumber(), 42);
        QCOMPARE(ApplicationInfo::fromBundle(fresh(u"none.app"_s)), ApplicationInfo());

        // Outside a bundle the build speaks for itself.
        QCOMPARE(ApplicationInfo::current(), ApplicationInfo::fromBuild());
        QCOMPARE(ApplicationInfo::fromBuild().displayVersion(), QStringLiteral(TORVEL_VERSION));
    }

    void parsesBuildNumbers() {
        for (const auto &[text, build] : {std::pair("0042", 42), std::pair("+7", 7), std::pair("-3", -3)})
            QCOMPARE((ApplicationInfo{std::nullopt, std::nullopt, QString::fromUtf8(text)}.buildNumber()),
                     qint64(build));
        for (const char *text : {"", "1.2", " 5", "12a", "٣", "42\n"})
            QCOMPARE((ApplicationInfo{std::nullopt, std::nullopt, QString::fromUtf8(text)}.buildNumber()), 0);
    }

    void acceptsOnlyHttpsOrLoopbackOverrides() {
        // A value, and the origin taken from it; empty: refused.
        for (const auto &[value, origin] : std::initializer_list<std::pair<QString, QString>>{
                 {u"https://mirror.example:8443/"_s, u"https://mirror.example:8443"_s},
                 {u"HTTPS://Mirror.Example"_s, u"https://mirror.example"_s},
                 {u"http://127.0.0.9:8080"_s, u"http://127.0.0.9:8080"_s},
                 {u"http://[::1]:9"_s, u"http://[::1]:9"_s},
                 {u"http://mirror.example"_s, {}},
                 {u"http://localhost:80"_s, {}},
                 {u"http://127.0.0.1.evil.test"_s, {}},
                 {u"https://mirror.example/releases"_s, {}},
                 {u"https://user:pw@mirror.example"_s, {}},
                 {u"ftp://127.0.0.1"_s, {}},
                 {u"https:///"_s, {}}}) {
            QProcessEnvironment environment;
            environment.insert(u"TORVEL_X_URL"_s, value);
            try {
                const std::optional<QUrl> url = ServiceAddress::override(environment, u"TORVEL_X_URL"_s);
                QCOMPARE(url.value_or(QUrl()).toString(), origin);
            } catch (const ServiceAddressError &error) {
                QVERIFY2(origin.isEmpty(), qPrintable(value + u": "_s + error.errorDescription()));
                QVERIFY(error.errorDescription().startsWith(u"La variable TORVEL_X_URL no es válida"_s));
            }
        }
        QCOMPARE(ServiceAddress::override(QProcessEnvironment(), u"TORVEL_X_URL"_s), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
