#include "common/blockingwait.h"
#include "platform/updateplatform.h"
#include "testsupport.h"
#include "update/appupdateerror.h"
#include "update/bundlerecovery.h"
#include "update/bundleseal.h"
#include "updatefixtures.h"

#include <QDir>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {
const QString prefix = u"Torvel Downloader.app/"_s;
QString read(const QString &file) {
    return QString::fromUtf8(TestSupport::readFile(file).trimmed());
}
} // namespace

// Real installs: bundles sealed by the test, served locally, unpacked, proved and swapped in by
// the installer script over an installation in a temporary folder; and the release scripts.
class TestAppUpdateInstall : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    ScriptedHttpServer m_server;
    QString m_key, m_otherKey;
    QProcess m_oldProcess; // stands in for the running application
    bool m_immutable = false;

    QString path(const QString &relative) const { return m_dir.filePath(relative); }
    QString installed() const { return path(u"apps/Torvel Downloader.app"_s); }
    AppUpdateService::Configuration configuration() const {
        AppUpdateService::Configuration configuration;
        configuration.manifestURL = m_server.url(u"/update.json"_s);
        configuration.publicKey = BundleSeal::publicKeyOf(m_key);
        configuration.installedBundle = installed();
        configuration.processID = m_oldProcess.processId();
        configuration.temporaryFolder = path(u"tmp"_s);
        configuration.unpackLimits.maxTotalBytes = 1024 * 1024;
        configuration.openProgram =
            TestSupport::writeScript(path(u"open"_s), u"echo \"$1\" > '%1'"_s.arg(path(u"opened"_s)));
        return configuration;
    }
    // Version 2.0.0, build 6, sealed, zipped and served, spoilt as the fault says.
    AppUpdateManifest publish(const QByteArray &fault) {
        const QString bundle = path(u"release/Torvel Downloader.app"_s);
        QDir(bundle).removeRecursively();
        const QString other = UpdatePlatform::architecture() == u"x86_64"_s ? u"aarch64"_s : u"x86_64"_s;
        UpdateFixtures::makeBundle(bundle, QString::fromLatin1(fault == "1.2 for 1.2.0" ? "1.2" : "2.0.0"), 6,
                                   QString::fromLatin1(fault == "identifier" ? "app.other" : "app.torvel.downloader"),
                                   fault == "other processor" ? other : QString());
        if (fault == "no program")
            QFile::remove(bundle + u"/bin/torvel-downloader"_s);
        if (fault == "script program")
            TestSupport::writeScript(bundle + u"/bin/torvel-downloader"_s, u"exit 0"_s);
        if (fault == "glibc 99")
            TestSupport::writeFile(bundle + u"/Info.json"_s,
                                   TestSupport::readFile(bundle + u"/Info.json"_s).replace("2.17", "99"));
        BundleSeal::seal(bundle, fault == "another key" ? m_otherKey : m_key);
        if (fault == "added after sealing")
            TestSupport::writeFile(bundle + u"/share/extra.txt"_s, "x");
        if (fault == "changed after sealing")
            TestSupport::writeFile(bundle + u"/share/readme.txt"_s, "2.0.1");
        const bool linked = fault == "bundle is a link";
        QList<ArchiveFixtures::Entry> entries =
            UpdateFixtures::entriesOf(bundle, fault == "other bundle name" || linked ? u"Other.app/"_s : prefix);
        if (linked)
            entries.append(ArchiveFixtures::symlink(u"Torvel Downloader.app"_s, "Other.app"));
        if (fault == "link outside")
            entries.append(ArchiveFixtures::symlink(prefix + u"lib/passwd"_s, "/etc/passwd"));
        if (fault == "link chain") {
            // Each link reads as inside; together they lead to the root, and Signature to /dev/zero.
            const QString up = u"../"_s.repeated(30);
            entries.removeIf([](const ArchiveFixtures::Entry &entry) { return entry.path.endsWith(u"/Signature"_s); });
            entries.append(ArchiveFixtures::symlink(prefix + u"d/"_s.repeated(30) + u"l"_s, up.toUtf8()));
            entries.append(ArchiveFixtures::symlink(prefix + u"x"_s, (u"d/"_s.repeated(30) + u"l/"_s + up).toUtf8()));
            entries.append(ArchiveFixtures::symlink(prefix + u"Signature"_s, "x/dev/zero"));
        }
        if (fault == "bomb")
            entries.append(ArchiveFixtures::file(prefix + u"lib/zeros"_s, QByteArray(2 << 20, '\0')));
        if (fault == "world-writable") {
            // Modes come from the extractor, never from the archive.
            for (ArchiveFixtures::Entry &entry : entries)
                entry.permissions |= 07022;
            for (const char *folder : {"", "bin", "share"})
                entries.prepend({prefix + QLatin1String(folder), {}, ArchiveFixtures::Entry::Type::folder, 0777});
        }
        AppUpdateManifest manifest = UpdateFixtures::serve(m_server, m_dir.path(), entries);
        manifest.size += fault == "one byte more" ? 1 : fault == "one byte less" ? -1 : 0;
        manifest.sha256 = fault == "digest" ? QString(64, QLatin1Char('0')) : manifest.sha256.toUpper();
        return manifest;
    }
    void quitOldProcess() {
        m_oldProcess.kill();
        m_oldProcess.waitForFinished();
    }
    QStringList leftovers() const {
        const auto flags = QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden;
        return QDir(path(u"tmp"_s)).entryList(flags) + QDir(path(u"apps"_s)).entryList(flags);
    }
    int run(const QString &script, const QStringList &arguments, const QProcessEnvironment &environment) {
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(qEnvironmentVariable("TORVEL_SOURCE_DIR") + u"/packaging/linux/"_s + script, arguments);
        return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

private Q_SLOTS:
    void initTestCase() {
        m_key = UpdateFixtures::makeKey(path(u"key.pem"_s));
        m_otherKey = UpdateFixtures::makeKey(path(u"other.pem"_s));
        qputenv("TORVEL_TEST_MARKER", QFile::encodeName(path(u"marker"_s)));
    }
    void init() {
        for (const char *leftover : {"apps", "tmp", "marker", "opened"}) {
            QDir(path(QLatin1String(leftover))).removeRecursively();
            QFile::remove(path(QLatin1String(leftover)));
        }
        QDir().mkpath(path(u"tmp"_s));
        UpdateFixtures::makeBundle(installed(), u"1.0.0"_s, 5);
        m_oldProcess.start(u"/bin/sleep"_s, {u"60"_s});
        QVERIFY(m_oldProcess.waitForStarted());
    }
    void cleanup() {
        quitOldProcess();
        if (std::exchange(m_immutable, false))
            QProcess::execute(u"/usr/bin/chattr"_s, {u"-i"_s, path(u"apps"_s)});
        QFile::setPermissions(path(u"apps"_s), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    void updatesAndStartsTheNewVersion() {
        UpdateFixtures::ModelHarness harness(m_dir.path(), configuration());
        QSignalSpy termination(&harness.model, &AppModel::applicationTerminationRequested);
        const AppUpdateManifest manifest = publish("world-writable");
        auto installing = harness.model.installApplicationUpdate(manifest);
        BlockingWait::wait(harness.model.installApplicationUpdate(manifest)); // a second request returns at once
        BlockingWait::wait(std::move(installing));
        QCOMPARE(m_server.requests().count(u"GET /u.zip"_s), 1);
        QCOMPARE(harness.model.applicationUpdateStage(), u"Reiniciando Torvel Downloader…"_s);
        QCOMPARE(termination.count(), 1);
        QVERIFY(harness.model.isInstallingApplicationUpdate());

        // Nothing moves while the old process runs; what waits is this user's only.
        QTest::qWait(400);
        QCOMPARE(ApplicationInfo::fromBundle(installed()).shortVersion, u"1.0.0"_s);
        const QStringList work = QDir(path(u"tmp"_s)).entryList({u"TorvelDownloader-Update-*"_s}, QDir::Dirs);
        QCOMPARE(work.size(), 1);
        QCOMPARE(QFileInfo(path(u"tmp/"_s) + work.first()).permissions(), QFile::ReadOwner | QFile::WriteOwner |
                                                                              QFile::ExeOwner | QFile::ReadUser |
                                                                              QFile::WriteUser | QFile::ExeUser);
        quitOldProcess();
        QTRY_COMPARE_WITH_TIMEOUT(read(path(u"marker"_s)), installed() + u" 2.0.0"_s, 10000);
        BundleSeal::verify(installed(), BundleSeal::publicKeyOf(m_key)); // every file and mode as sealed
        QTRY_COMPARE(leftovers(), QStringList{u"Torvel Downloader.app"_s});
        QVERIFY(!QFile::exists(path(u"opened"_s)));
    }

    // The user keeps the window open when it quits for the update: the installer is called off,
    // its files go and the window is usable again.
    void keepingTheWindowOpenCallsTheUpdateOff() {
        UpdateFixtures::ModelHarness harness(m_dir.path(), configuration());
        BlockingWait::wait(harness.model.installApplicationUpdate(publish("none")));
        QCOMPARE(harness.model.applicationUpdateStage(), u"Reiniciando Torvel Downloader…"_s);
        harness.model.abandonApplicationRestart();
        QVERIFY(!harness.model.isInstallingApplicationUpdate());
        QVERIFY(harness.model.appUpdateAlert()->message.startsWith(u"La actualización se canceló porque"_s));
        QCOMPARE(leftovers(), QStringList{u"Torvel Downloader.app"_s});
        quitOldProcess();
        QTest::qWait(500);
        QCOMPARE(ApplicationInfo::fromBundle(installed()).shortVersion, u"1.0.0"_s);
        QVERIFY(!QFileInfo::exists(path(u"opened"_s)));
    }

    void refusesAndLeavesTheInstallationAlone_data() {
        QTest::addColumn<QString>("message");
        const QString size = u"El archivo descargado está incompleto o no tiene el tamaño esperado."_s;
        const QString invalid = u"El paquete descargado no contiene una versión válida de Torvel "
                                "Downloader."_s;
        const QString failed = u"No se pudo preparar la actualización. "_s;
        for (const char *fault : {"one byte more", "one byte less"})
            QTest::newRow(fault) << size;
        QTest::newRow("digest") << u"La verificación SHA-256 no coincide. La actualización no se "
                                   "instalará."_s;
        for (const char *fault : {"identifier", "1.2 for 1.2.0", "no program", "no release key", "other bundle name",
                                  "bundle is a link", "other processor", "script program"})
            QTest::newRow(fault) << invalid;
        QTest::newRow("glibc 99") << u"Esta actualización requiere glibc 99 o posterior."_s;
        QTest::newRow("added after sealing")
            << failed + u"El archivo share/extra.txt no figura en el sello del paquete."_s;
        QTest::newRow("changed after sealing")
            << failed + u"El archivo share/readme.txt no coincide con el sello del paquete."_s;
        QTest::newRow("another key") << failed + u"El sello del paquete no es válido."_s;
        for (const char *fault : {"link outside", "link chain", "bomb"})
            QTest::newRow(fault) << failed;
        QTest::newRow("read-only installation") << u"La app no puede reemplazarse desde su ubicación "
                                                   "actual. Instala la actualización con el paquete "
                                                   "descargable."_s;
    }
    void refusesAndLeavesTheInstallationAlone() {
        QFETCH(QString, message);
        const QByteArray fault = QTest::currentDataTag();
        AppUpdateService::Configuration settings = configuration();
        if (fault == "no release key")
            settings.publicKey.clear();
        if (fault == "read-only installation") {
            // Root writes anywhere: an immutable folder is what stops it.
            m_immutable = ::geteuid() == 0;
            if (m_immutable && QProcess::execute(u"/usr/bin/chattr"_s, {u"+i"_s, path(u"apps"_s)}) != 0)
                QSKIP("chattr +i is not available here");
            if (!m_immutable)
                QFile::setPermissions(path(u"apps"_s), QFile::ReadOwner | QFile::ExeOwner);
        }
        const QByteArray before = BundleSeal::listing(installed());
        const qsizetype downloads = m_server.requests().count(u"GET /u.zip"_s);
        UpdateFixtures::ModelHarness harness(m_dir.path(), settings);
        const AppUpdateManifest manifest = publish(fault);
        BlockingWait::wait(harness.model.installApplicationUpdate(manifest));

        const std::optional<AppUpdateAlert> alert = harness.model.appUpdateAlert();
        QVERIFY(alert && alert->kind == AppUpdateAlert::Kind::failure);
        QVERIFY2(alert->message.startsWith(message), qPrintable(alert->message));
        QCOMPARE(alert->dmgURL,
                 m_immutable || fault == "read-only installation" ? std::optional(manifest.dmgURL) : std::nullopt);
        QVERIFY(!harness.model.isInstallingApplicationUpdate());
        QCOMPARE(harness.model.applicationUpdateStage(), QString());
        QCOMPARE(BundleSeal::listing(installed()), before);
        QCOMPARE(leftovers(), QStringList{u"Torvel Downloader.app"_s});
        // Without the release key nothing is even downloaded.
        QCOMPARE(m_server.requests().count(u"GET /u.zip"_s) == downloads, fault == "no release key");
    }

    // The copy breaks off half way: the old bundle is put back and started again.
    void restoresTheOldVersionWhenTheCopyFails() {
        AppUpdateService::Configuration settings = configuration();
        settings.copyProgram =
            TestSupport::writeScript(path(u"copy"_s), u"mkdir -p \"$3/bin\"; cp \"$2/Info.json\" \"$3/\"; exit 1"_s);
        const QByteArray before = BundleSeal::listing(installed());
        const AppUpdateManifest manifest = publish("none");
        BlockingWait::wait(AppUpdateService(settings).prepareUpdate(manifest, [](const QString &) {}));
        quitOldProcess();
        QTRY_COMPARE_WITH_TIMEOUT(read(path(u"marker"_s)), installed() + u" 1.0.0"_s, 10000);
        QCOMPARE(BundleSeal::listing(installed()), before);
        QTRY_COMPARE(read(path(u"opened"_s)), manifest.dmgURL.toString());
        // The work folder stays for a look; the backup and the script are gone.
        QCOMPARE(leftovers().size(), 2);
        QVERIFY(leftovers().first().startsWith(u"TorvelDownloader-Update-"_s));
    }

    // The application quits while the update downloads: the partial download goes with it.
    // An application that does not quit in time: the installer gives up, removes its files and
    // offers the package to install by hand.
    void anInstallerThatGivesUpLeavesNothing() {
        AppUpdateService::Configuration settings = configuration();
        settings.installerWaitTenths = 3;
        BlockingWait::wait(AppUpdateService(settings).prepareUpdate(publish("none"), [](const QString &) {}));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(path(u"opened"_s)), 10000);
        QTRY_COMPARE(leftovers(), QStringList{u"Torvel Downloader.app"_s});
        QCOMPARE(ApplicationInfo::fromBundle(installed()).shortVersion, u"1.0.0"_s);
    }

    void quittingMidPreparationLeavesNothing() {
        const AppUpdateManifest manifest = publish("none");
        m_server.route(u"/u.zip"_s,
                       ScriptedHttpServer::Response::throttled(TestSupport::readFile(path(u"u.zip"_s)), 4096));
        const AppUpdateService service(configuration());
        auto preparing = service.prepareUpdate(manifest, [](const QString &) {});
        QTRY_COMPARE(QDir(path(u"tmp"_s)).entryList(QDir::Files).size(), 1);
        AppUpdateService::removeWorkFiles();
        QCOMPARE(leftovers(), QStringList{u"Torvel Downloader.app"_s});
        QVERIFY(!TestSupport::failureOf(std::move(preparing)).isEmpty());
        QCOMPARE(leftovers(), QStringList{u"Torvel Downloader.app"_s});
    }

    // The installer is killed half way through its copy: the installed bundle never changed, and
    // the next start removes the staged copy.
    void anInterruptedInstallerLeavesTheInstallationWhole() {
        AppUpdateService::Configuration settings = configuration();
        settings.copyProgram = TestSupport::writeScript(
            path(u"copy"_s), u"mkdir -p \"$3/bin\"; kill -9 $PPID; touch '%1'"_s.arg(path(u"copied"_s)));
        const QByteArray before = BundleSeal::listing(installed());
        BlockingWait::wait(AppUpdateService(settings).prepareUpdate(publish("none"), [](const QString &) {}));
        quitOldProcess();
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(path(u"copied"_s)), 10000);
        QTest::qWait(300);
        QCOMPARE(BundleSeal::listing(installed()), before);
        QVERIFY(!QFileInfo::exists(path(u"marker"_s)));
        QCOMPARE(QDir(path(u"apps"_s)).entryList({u".Torvel Downloader.new-*.app"_s}, QDir::Dirs | QDir::Hidden).size(),
                 1);
        BundleRecovery::recover(installed(), BundleSeal::publicKeyOf(m_key));
        QCOMPARE(QDir(path(u"apps"_s)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList{u"Torvel Downloader.app"_s});
        QCOMPARE(BundleSeal::listing(installed()), before);
    }

    // A backup left by an interruption is put back beside a broken bundle and removed beside a
    // sound one.
    void recoversFromALeftBackup() {
        const QByteArray key = BundleSeal::publicKeyOf(m_key);
        BundleSeal::seal(installed(), m_key);
        const QByteArray sound = BundleSeal::listing(installed());
        const QString backup = path(u"apps/.Torvel Downloader.backup-1.app"_s);
        UpdateFixtures::makeBundle(backup, u"0.9.0"_s, 4);
        BundleRecovery::recover(installed(), key);
        QCOMPARE(leftovers(), QStringList{u"Torvel Downloader.app"_s});
        QCOMPARE(BundleSeal::listing(installed()), sound);

        UpdateFixtures::makeBundle(backup, u"0.9.0"_s, 4);
        const QByteArray old = BundleSeal::listing(backup);
        QFile::remove(installed() + u"/share/readme.txt"_s);
        BundleRecovery::recover(installed(), key);
        QCOMPARE(leftovers(), QStringList{u"Torvel Downloader.app"_s});
        QCOMPARE(BundleSeal::listing(installed()), old);
    }

    // A seal lists only what one line describes: no control characters in names or link targets
    // (a line feed could forge another line), no other modes, no special files, no deeper tree.
    // Relative paths work.
    void sealsOnlyWhatOneLineDescribes() {
        for (const QByteArray fault :
             {"relative path", "line feed in a link target", "tab in a name", "escape in a name",
              "group-writable folder", "private file", "fifo", "33 levels"}) {
            QDir(path(u"shape"_s)).removeRecursively();
            const QString bundle = path(u"shape/Torvel Downloader.app"_s);
            UpdateFixtures::makeBundle(bundle, u"2.0.0"_s, 6);
            const QByteArray share = QFile::encodeName(bundle + u"/share/"_s);
            if (fault == "line feed in a link target")
                QCOMPARE(::symlink("readme.txt\nfile\t0755\t1\tx\tbin/evil", QByteArray(share + "link").constData()),
                         0);
            if (fault == "tab in a name")
                TestSupport::writeFile(bundle + u"/share/a\tb"_s, "x");
            if (fault == "escape in a name")
                TestSupport::writeFile(bundle + u"/share/a\x1b[2Jb"_s, "x");
            if (fault == "group-writable folder")
                QCOMPARE(::chmod(share.constData(), 0775), 0);
            if (fault == "private file")
                QCOMPARE(::chmod(QByteArray(share + "readme.txt").constData(), 0600), 0);
            if (fault == "fifo")
                QCOMPARE(::mkfifo(QByteArray(share + "fifo").constData(), 0644), 0);
            if (fault == "33 levels")
                TestSupport::writeFile(bundle + u"/share/"_s + u"d/"_s.repeated(32) + u"f"_s, "x");
            if (fault != "relative path") {
                QCOMPARE(TestSupport::failureOf([&] { BundleSeal::seal(bundle, m_key); }),
                         u"El paquete descargado no contiene una versión válida de Torvel Downloader."_s);
                continue;
            }
            const QString current = QDir::currentPath();
            QDir::setCurrent(path(u"shape"_s));
            const auto back = qScopeGuard([&current] { QDir::setCurrent(current); });
            BundleSeal::seal(u"Torvel Downloader.app"_s, m_key);
            BundleSeal::verify(u"Torvel Downloader.app"_s, BundleSeal::publicKeyOf(m_key));
            QCOMPARE(BundleSeal::listing(u"Torvel Downloader.app"_s).count('\n'), 5);
        }
    }

    // make-release's bundle is sealed for its own key only; install-user.sh installs it.
    void releaseScriptsMakeAndInstallASealedBundle() {
        const QByteArray publicKey = BundleSeal::publicKeyOf(m_key);
        // A program built with the key carries its public half; make-release refuses one without.
        // This one checks a seal as the real one does, with the bundle tool.
        const QString key64 = QString::fromLatin1(publicKey.toBase64());
        const QString binary = TestSupport::writeScript(
            path(u"program"_s),
            u"# %1\n[ \"$1 $2\" = 'self-update --verify' ] && exec \"$TORVEL_BUNDLE_TOOL\" verify \"$3\" %1"_s.arg(
                key64));
        const QString plain = TestSupport::writeScript(path(u"plain"_s), u"exit 0"_s);
        QStringList arguments = u"--key %1 --version 1.4.0 --build 14 --url https://h.example/dl/ "
                                "--out %2 --binary %3"_s.arg(m_key, path(u"out"_s), plain)
                                    .split(QLatin1Char(' '));
        const QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        QCOMPARE(run(u"make-release"_s, arguments, environment), 1);
        arguments.last() = binary;
        QCOMPARE(run(u"make-release"_s, arguments, environment), 0);
        // make-deb builds in only an Ed25519 key's public half: it stops before building anything.
        QCOMPARE(QProcess::execute(u"/usr/bin/openssl"_s, {u"genpkey"_s, u"-algorithm"_s, u"RSA"_s, u"-pkeyopt"_s,
                                                           u"rsa_keygen_bits:1024"_s, u"-out"_s, path(u"rsa.pem"_s)}),
                 0);
        TestSupport::writeFile(path(u"nokey.pem"_s), "no es una clave\n");
        for (const QString &key : {path(u"rsa.pem"_s), path(u"nokey.pem"_s)})
            QCOMPARE(run(u"make-deb"_s, {u"--key"_s, key, u"--out"_s, path(u"deb"_s)}, environment), 1);

        const QString name = u"TorvelDownloader-1.4.0-linux-"_s + UpdatePlatform::architecture();
        const AppUpdateManifest manifest = AppUpdateManifest::decode(TestSupport::readFile(path(u"out/update.json"_s)));
        const QString zip = path(u"out/"_s + name + u".zip"_s);
        AppUpdateManifest expected =
            UpdateFixtures::manifestFor(zip, QUrl(u"https://h.example/dl/"_s + name + u".zip"_s), u"1.4.0"_s, 14);
        expected.dmgURL = QUrl(u"https://h.example/dl/"_s + name + u".tar.gz"_s);
        expected.minimumSystemVersion = UpdatePlatform::systemVersion();
        QCOMPARE(manifest, expected);

        ArchiveExtractor::extract(zip, path(u"x"_s));
        const QString unpacked = path(u"x/"_s + prefix);
        BundleSeal::verify(unpacked, publicKey);
        QVERIFY_THROWS_EXCEPTION(AppUpdateError, BundleSeal::verify(unpacked, BundleSeal::publicKeyOf(m_otherKey)));
        const QJsonObject entries = ApplicationInfo::entriesOf(unpacked);
        QCOMPARE(entries.value(QLatin1String(AppUpdateService::architectureKey)).toString(),
                 UpdatePlatform::architecture());
        QCOMPARE(entries.value(QLatin1String(AppUpdateService::minimumGlibcKey)).toString(),
                 UpdatePlatform::systemVersion());

        // Stand-ins for the desktop's tools, so the desktop of whoever runs the tests is untouched.
        const QString calls = path(u"desktop-tools.log"_s);
        for (const char *tool : {"xdg-mime", "update-desktop-database"})
            TestSupport::writeScript(path(u"desktop-bin/"_s) + QString::fromLatin1(tool),
                                     u"printf '%s\\n' \"$(basename \"$0\") $*\" >> '%1'"_s.arg(calls));
        QProcessEnvironment home = environment;
        home.insert(u"HOME"_s, path(u"home"_s));
        home.remove(u"XDG_DATA_HOME"_s);
        home.insert(u"PATH"_s, path(u"desktop-bin"_s) + u":/usr/bin:/bin"_s);
        // A bundle whose seal does not hold is not installed.
        const QString tampered = path(u"tampered/Torvel Downloader.app"_s);
        QDir().mkpath(path(u"tampered"_s));
        QCOMPARE(QProcess::execute(u"/bin/cp"_s, {u"-a"_s, path(u"out/Torvel Downloader.app"_s), tampered}), 0);
        TestSupport::writeFile(tampered + u"/share/extra.txt"_s, "x");
        QCOMPARE(run(u"install-user.sh"_s, {tampered}, home), 1);
        QVERIFY(!QFileInfo::exists(path(u"home/.local/opt/Torvel Downloader.app"_s)));
        QCOMPARE(run(u"install-user.sh"_s, {path(u"out/"_s + name + u".tar.gz"_s)}, home), 0);
        const QString bundle = path(u"home/.local/opt/Torvel Downloader.app"_s);
        QCOMPARE(QFileInfo(path(u"home/.local/bin/torvel-downloader"_s)).symLinkTarget(),
                 bundle + u"/bin/torvel-downloader"_s);
        BundleSeal::verify(bundle, publicKey);

        // The desktop starts the bundle's program for tdl: links.
        const auto entryOf = [this](const QString &user) {
            return QString::fromUtf8(
                       TestSupport::readFile(path(user + u"/.local/share/applications/torvel-downloader.desktop"_s)))
                .split(u'\n');
        };
        for (const QString &line : QStringList{u"Exec=\""_s + bundle + u"/bin/torvel-downloader\" %u"_s,
                                               u"MimeType=x-scheme-handler/tdl;"_s, u"Icon=torvel-downloader"_s})
            QVERIFY2(entryOf(u"home"_s).contains(line), qPrintable(line));
        QVERIFY(QFileInfo::exists(path(u"home/.local/share/icons/hicolor/scalable/apps/torvel-downloader.svg"_s)));
        const QString applications = path(u"home/.local/share/applications"_s);
        QCOMPARE(QString::fromUtf8(TestSupport::readFile(calls)).split(u'\n', Qt::SkipEmptyParts),
                 QStringList({u"update-desktop-database "_s + applications,
                              u"xdg-mime default torvel-downloader.desktop x-scheme-handler/tdl"_s}));
        const QString validator = QStandardPaths::findExecutable(u"desktop-file-validate"_s);
        if (!validator.isEmpty())
            QCOMPARE(QProcess::execute(validator, {applications + u"/torvel-downloader.desktop"_s}), 0);

        // A bare program is copied, and the desktop starts the copy (a % of the path doubled).
        home.insert(u"HOME"_s, path(u"mi casa 100%"_s));
        QCOMPARE(run(u"install-user.sh"_s, {plain}, home), 0);
        const QString copy = path(u"mi casa 100%/.local/bin/torvel-downloader"_s);
        QVERIFY(QFileInfo(copy).isExecutable() && !QFileInfo(copy).isSymLink());
        QVERIFY(entryOf(u"mi casa 100%"_s)
                    .contains(u"Exec=\""_s + path(u"mi casa 100%%"_s) + u"/.local/bin/torvel-downloader\" %u"_s));
        // The installed program given as the program to install is refused and stays.
        QCOMPARE(run(u"install-user.sh"_s, {copy}, home), 1);
        QVERIFY(QFileInfo(copy).isExecutable() && TestSupport::readFile(copy) == TestSupport::readFile(plain));
        // Root does not fill another user's home with files of its own.
        QCOMPARE(::chown(QFile::encodeName(path(u"mi casa 100%"_s)).constData(), 65534, 65534), 0);
        QCOMPARE(run(u"install-user.sh"_s, {plain}, home), 1);
    }
};

QTEST_GUILESS_MAIN(TestAppUpdateInstall)
#include "tst_appupdateinstall.moc"
