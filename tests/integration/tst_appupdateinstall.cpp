#include "common/blockingwait.h"
#include "platform/updateplatform.h"
#include "testsupport.h"
#include "update/appupdateerror.h"
#include "update/bundleseal.h"
#include "updatefixtures.h"

#include <QDir>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

namespace {
const QString prefix = QStringLiteral("Torvel Downloader.app/");
QString read(const QString &file) {
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()).trimmed() : QString();
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
    QString installed() const { return path(QStringLiteral("apps/Torvel Downloader.app")); }
    AppUpdateService::Configuration configuration() const {
        AppUpdateService::Configuration configuration;
        configuration.manifestURL = m_server.url(QStringLiteral("/update.json"));
        configuration.publicKey = BundleSeal::publicKeyOf(m_key);
        configuration.installedBundle = installed();
        configuration.processID = m_oldProcess.processId();
        configuration.temporaryFolder = path(QStringLiteral("tmp"));
        configuration.unpackLimits.maxTotalBytes = 1024 * 1024;
        configuration.openProgram = TestSupport::writeScript(
            path(QStringLiteral("open")), QStringLiteral("echo \"$1\" > '%1'").arg(path(QStringLiteral("opened"))));
        return configuration;
    }
    // Version 2.0.0, build 6, sealed, zipped and served, spoilt as the fault says.
    AppUpdateManifest publish(const QByteArray &fault) {
        const QString bundle = path(QStringLiteral("release/Torvel Downloader.app"));
        QDir(bundle).removeRecursively();
        UpdateFixtures::makeBundle(bundle, QString::fromLatin1(fault == "1.2 for 1.2.0" ? "1.2" : "2.0.0"), 6,
                                   QString::fromLatin1(fault == "identifier" ? "app.other" : "app.torvel.downloader"));
        if (fault == "no program")
            QFile::remove(bundle + QStringLiteral("/bin/torvel-downloader"));
        BundleSeal::seal(bundle, fault == "another key" ? m_otherKey : m_key);
        if (fault == "added after sealing")
            TestSupport::writeFile(bundle + QStringLiteral("/share/extra.txt"), "x");
        if (fault == "changed after sealing")
            TestSupport::writeFile(bundle + QStringLiteral("/share/readme.txt"), "2.0.1");
        QList<ArchiveFixtures::Entry> entries =
            UpdateFixtures::entriesOf(bundle, fault == "other bundle name" ? QStringLiteral("Other.app/") : prefix);
        if (fault == "escaping entry")
            entries.append(ArchiveFixtures::file(prefix + QStringLiteral("../../evil"), "x"));
        if (fault == "link outside")
            entries.append(ArchiveFixtures::symlink(prefix + QStringLiteral("lib/passwd"), "/etc/passwd"));
        if (fault == "bomb")
            entries.append(ArchiveFixtures::file(prefix + QStringLiteral("lib/zeros"), QByteArray(2 << 20, '\0')));
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
        return QDir(path(QStringLiteral("tmp"))).entryList(flags) + QDir(path(QStringLiteral("apps"))).entryList(flags);
    }
    int run(const QString &script, const QStringList &arguments, const QProcessEnvironment &environment) {
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(qEnvironmentVariable("TORVEL_SOURCE_DIR") + QStringLiteral("/packaging/linux/") + script,
                      arguments);
        return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

private Q_SLOTS:
    void initTestCase() {
        m_key = UpdateFixtures::makeKey(path(QStringLiteral("key.pem")));
        m_otherKey = UpdateFixtures::makeKey(path(QStringLiteral("other.pem")));
        qputenv("TORVEL_TEST_MARKER", QFile::encodeName(path(QStringLiteral("marker"))));
    }
    void init() {
        QDir(path(QStringLiteral("apps"))).removeRecursively();
        QDir(path(QStringLiteral("tmp"))).removeRecursively();
        QDir().mkpath(path(QStringLiteral("tmp")));
        QFile::remove(path(QStringLiteral("marker")));
        QFile::remove(path(QStringLiteral("opened")));
        UpdateFixtures::makeBundle(installed(), QStringLiteral("1.0.0"), 5);
        m_oldProcess.start(QStringLiteral("/bin/sleep"), {QStringLiteral("60")});
        QVERIFY(m_oldProcess.waitForStarted());
    }
    void cleanup() {
        quitOldProcess();
        if (std::exchange(m_immutable, false))
            QProcess::execute(QStringLiteral("/usr/bin/chattr"), {QStringLiteral("-i"), path(QStringLiteral("apps"))});
        QFile::setPermissions(path(QStringLiteral("apps")), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    void updatesAndStartsTheNewVersion() {
        UpdateFixtures::ModelHarness harness(m_dir.path(), configuration());
        QSignalSpy termination(&harness.model, &AppModel::applicationTerminationRequested);
        const AppUpdateManifest manifest = publish("none");
        auto installing = harness.model.installApplicationUpdate(manifest);
        BlockingWait::wait(harness.model.installApplicationUpdate(manifest)); // a second request returns at once
        BlockingWait::wait(std::move(installing));
        QCOMPARE(m_server.requests().count(QStringLiteral("GET /u.zip")), 1);
        QCOMPARE(harness.model.applicationUpdateStage(), QStringLiteral("Reiniciando Torvel Downloader…"));
        QCOMPARE(termination.count(), 1);
        QVERIFY(harness.model.isInstallingApplicationUpdate());

        // Nothing moves while the old process runs.
        QTest::qWait(400);
        QCOMPARE(ApplicationInfo::fromBundle(installed()).shortVersion, QStringLiteral("1.0.0"));
        quitOldProcess();
        QTRY_COMPARE_WITH_TIMEOUT(read(path(QStringLiteral("marker"))), installed() + QStringLiteral(" 2.0.0"), 10000);
        BundleSeal::verify(installed(), BundleSeal::publicKeyOf(m_key)); // every file and mode as sealed
        QTRY_COMPARE(leftovers(), QStringList{QStringLiteral("Torvel Downloader.app")});
        QVERIFY(!QFile::exists(path(QStringLiteral("opened"))));
    }

    void refusesAndLeavesTheInstallationAlone_data() {
        QTest::addColumn<QString>("message");
        const QString size = QStringLiteral("El archivo descargado está incompleto o no tiene el tamaño esperado.");
        const QString invalid = QStringLiteral("El paquete descargado no contiene una versión válida de Torvel "
                                               "Downloader.");
        const QString failed = QStringLiteral("No se pudo preparar la actualización. ");
        for (const char *fault : {"one byte more", "one byte less"})
            QTest::newRow(fault) << size;
        QTest::newRow("digest") << QStringLiteral("La verificación SHA-256 no coincide. La actualización no se "
                                                  "instalará.");
        for (const char *fault : {"identifier", "1.2 for 1.2.0", "no program", "no release key", "other bundle name"})
            QTest::newRow(fault) << invalid;
        QTest::newRow("added after sealing")
            << failed + QStringLiteral("El archivo share/extra.txt no figura en el sello del paquete.");
        QTest::newRow("changed after sealing")
            << failed + QStringLiteral("El archivo share/readme.txt no coincide con el sello del paquete.");
        QTest::newRow("another key") << failed + QStringLiteral("El sello del paquete no es válido.");
        for (const char *fault : {"escaping entry", "link outside", "bomb"})
            QTest::newRow(fault) << failed;
        QTest::newRow("read-only installation") << QStringLiteral("La app no puede reemplazarse desde su ubicación "
                                                                  "actual. Instala la actualización con el paquete "
                                                                  "descargable.");
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
            if (m_immutable && QProcess::execute(QStringLiteral("/usr/bin/chattr"),
                                                 {QStringLiteral("+i"), path(QStringLiteral("apps"))}) != 0)
                QSKIP("chattr +i is not available here");
            if (!m_immutable)
                QFile::setPermissions(path(QStringLiteral("apps")), QFile::ReadOwner | QFile::ExeOwner);
        }
        const QByteArray before = BundleSeal::listing(installed());
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
        QCOMPARE(leftovers(), QStringList{QStringLiteral("Torvel Downloader.app")});
    }

    // The copy breaks off half way: the old bundle is put back and started again.
    void restoresTheOldVersionWhenTheCopyFails() {
        AppUpdateService::Configuration settings = configuration();
        settings.copyProgram = TestSupport::writeScript(
            path(QStringLiteral("copy")), QStringLiteral("mkdir -p \"$3/bin\"; cp \"$2/Info.json\" \"$3/\"; exit 1"));
        const QByteArray before = BundleSeal::listing(installed());
        const AppUpdateManifest manifest = publish("none");
        BlockingWait::wait(AppUpdateService(settings).prepareUpdate(manifest, [](const QString &) {}));
        quitOldProcess();
        QTRY_COMPARE_WITH_TIMEOUT(read(path(QStringLiteral("marker"))), installed() + QStringLiteral(" 1.0.0"), 10000);
        QCOMPARE(BundleSeal::listing(installed()), before);
        QTRY_COMPARE(read(path(QStringLiteral("opened"))), manifest.dmgURL.toString());
        // The work folder stays for a look; the backup and the script are gone.
        QCOMPARE(leftovers().size(), 2);
        QVERIFY(leftovers().first().startsWith(QStringLiteral("TorvelDownloader-Update-")));
    }

    // make-release's bundle is sealed for its own key only; install-user.sh installs it.
    void releaseScriptsMakeAndInstallASealedBundle() {
        const QByteArray publicKey = BundleSeal::publicKeyOf(m_key);
        // A program built with the key carries its public half; make-release refuses one without.
        const QString binary = TestSupport::writeScript(
            path(QStringLiteral("program")), QStringLiteral("# ") + QString::fromLatin1(publicKey.toBase64()));
        const QString plain = TestSupport::writeScript(path(QStringLiteral("plain")), QStringLiteral("exit 0"));
        QStringList arguments = QStringLiteral("--key %1 --version 1.4.0 --build 14 --url https://h.example/dl/ "
                                               "--out %2 --binary %3")
                                    .arg(m_key, path(QStringLiteral("out")), plain)
                                    .split(QLatin1Char(' '));
        const QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        QCOMPARE(run(QStringLiteral("make-release"), arguments, environment), 1);
        arguments.last() = binary;
        QCOMPARE(run(QStringLiteral("make-release"), arguments, environment), 0);

        const QString name = QStringLiteral("TorvelDownloader-1.4.0-linux-") + UpdatePlatform::architecture();
        QFile document(path(QStringLiteral("out/update.json")));
        QVERIFY(document.open(QIODevice::ReadOnly));
        const AppUpdateManifest manifest = AppUpdateManifest::decode(document.readAll());
        AppUpdateManifest expected = UpdateFixtures::manifestFor(
            path(QStringLiteral("out/") + name + QStringLiteral(".zip")),
            QUrl(QStringLiteral("https://h.example/dl/") + name + QStringLiteral(".zip")), QStringLiteral("1.4.0"), 14);
        expected.dmgURL = QUrl(QStringLiteral("https://h.example/dl/") + name + QStringLiteral(".tar.gz"));
        expected.minimumSystemVersion = UpdatePlatform::systemVersion();
        QCOMPARE(manifest, expected);

        ArchiveExtractor::extract(path(QStringLiteral("out/") + name + QStringLiteral(".zip")),
                                  path(QStringLiteral("x")));
        AppUpdateService::Configuration settings;
        settings.publicKey = publicKey;
        AppUpdateService(settings).validateApplication(path(QStringLiteral("x/") + prefix), manifest);
        settings.publicKey = BundleSeal::publicKeyOf(m_otherKey);
        QVERIFY_THROWS_EXCEPTION(AppUpdateError, AppUpdateService(settings).validateApplication(
                                                     path(QStringLiteral("x/") + prefix), manifest));

        QProcessEnvironment home = environment;
        home.insert(QStringLiteral("HOME"), path(QStringLiteral("home")));
        home.remove(QStringLiteral("XDG_DATA_HOME"));
        home.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin"));
        QCOMPARE(run(QStringLiteral("install-user.sh"),
                     {path(QStringLiteral("out/") + name + QStringLiteral(".tar.gz"))}, home),
                 0);
        const QString bundle = path(QStringLiteral("home/.local/opt/Torvel Downloader.app"));
        QCOMPARE(QFileInfo(path(QStringLiteral("home/.local/bin/torvel-downloader"))).symLinkTarget(),
                 bundle + QStringLiteral("/bin/torvel-downloader"));
        BundleSeal::verify(bundle, publicKey);
    }
};

QTEST_GUILESS_MAIN(TestAppUpdateInstall)
#include "tst_appupdateinstall.moc"
