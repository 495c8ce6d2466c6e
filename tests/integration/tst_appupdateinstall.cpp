#include "common/blockingwait.h"
#include "fakedesktopservices.h"
#include "model/appmodel.h"
#include "scriptedhttpserver.h"
#include "testsupport.h"
#include "update/bundleseal.h"
#include "updatefixtures.h"

#include <QDir>
#include <QProcess>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using ArchiveFixtures::Entry;

namespace {
enum class Fault {
    none,
    sizeMore,
    sizeLess,
    digest,
    identifier,
    shortVersion,
    added,
    changed,
    otherKey,
    escaping,
    linkOutside,
    bomb,
    noProgram,
    noKey,
    otherName,
    readOnly
};
const QString prefix = QStringLiteral("Torvel Downloader.app/");
} // namespace

// Real installs: a bundle sealed by the test, served locally, unpacked, proved and swapped in by
// the installer script over an installation in a temporary folder.
class TestAppUpdateInstall : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    ScriptedHttpServer m_server;
    QString m_key, m_otherKey;
    QProcess m_oldProcess; // stands in for the running application
    std::unique_ptr<QSettings> m_store;
    std::unique_ptr<AppSettings> m_settings;
    FakeDesktopServices m_desktop;
    bool m_immutable = false;

    QString path(const QString &relative) const { return m_dir->filePath(relative); }
    QString installed() const { return path(QStringLiteral("apps/Torvel Downloader.app")); }
    static QString read(const QString &file) {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()).trimmed() : QString();
    }
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
    std::unique_ptr<AppModel> model(const AppUpdateService::Configuration &configuration) {
        return std::make_unique<AppModel>(*m_settings, m_desktop,
                                          DependencyLocator(TestSupport::sandboxedTools(m_dir->path())),
                                          JobFolders(path(QStringLiteral("jobs"))), AppUpdateService(configuration));
    }
    // Version 2.0.0, build 6, sealed, zipped and served.
    AppUpdateManifest publish(Fault fault) {
        const QString bundle = path(QStringLiteral("release/Torvel Downloader.app"));
        QDir(path(QStringLiteral("release"))).removeRecursively();
        UpdateFixtures::makeBundle(
            bundle, QString::fromLatin1(fault == Fault::shortVersion ? "1.2" : "2.0.0"), 6,
            QString::fromLatin1(fault == Fault::identifier ? "app.other" : "app.torvel.downloader"));
        if (fault == Fault::noProgram)
            QFile::remove(bundle + QStringLiteral("/bin/torvel-downloader"));
        BundleSeal::seal(bundle, fault == Fault::otherKey ? m_otherKey : m_key);
        if (fault == Fault::added)
            TestSupport::writeFile(bundle + QStringLiteral("/share/extra.txt"), "x");
        if (fault == Fault::changed)
            TestSupport::writeFile(bundle + QStringLiteral("/share/readme.txt"), "2.0.1");
        QList<Entry> entries =
            UpdateFixtures::entriesOf(bundle, fault == Fault::otherName ? QStringLiteral("Other.app/") : prefix);
        if (fault == Fault::escaping)
            entries.append(ArchiveFixtures::file(prefix + QStringLiteral("../../evil"), "x"));
        if (fault == Fault::linkOutside)
            entries.append(ArchiveFixtures::symlink(prefix + QStringLiteral("lib/passwd"), "/etc/passwd"));
        if (fault == Fault::bomb)
            entries.append(ArchiveFixtures::file(prefix + QStringLiteral("lib/zeros"), QByteArray(2 << 20, '\0')));
        const QString zip = path(QStringLiteral("u.zip"));
        ArchiveFixtures::write(zip, entries);
        QFile file(zip);
        file.open(QIODevice::ReadOnly);
        m_server.route(QStringLiteral("/u.zip"), ScriptedHttpServer::Response::ok(file.readAll()));
        AppUpdateManifest manifest =
            UpdateFixtures::manifestFor(zip, m_server.url(QStringLiteral("/u.zip")), QStringLiteral("2.0.0"), 6);
        manifest.size += fault == Fault::sizeMore ? 1 : fault == Fault::sizeLess ? -1 : 0;
        if (fault == Fault::digest)
            manifest.sha256 = QString(64, QLatin1Char('0'));
        if (fault == Fault::none)
            manifest.sha256 = manifest.sha256.toUpper();
        return manifest;
    }
    void quitOldProcess() {
        m_oldProcess.kill();
        m_oldProcess.waitForFinished();
    }
    QStringList leftovers() const {
        return QDir(path(QStringLiteral("tmp"))).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden) +
               QDir(path(QStringLiteral("apps"))).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    }

private Q_SLOTS:
    void initTestCase() {
        m_dir = std::make_unique<QTemporaryDir>();
        m_key = UpdateFixtures::makeKey(path(QStringLiteral("key.pem")));
        m_otherKey = UpdateFixtures::makeKey(path(QStringLiteral("other.pem")));
        qputenv("TORVEL_TEST_MARKER", QFile::encodeName(path(QStringLiteral("marker"))));
    }
    void init() {
        for (const QString &folder : {QStringLiteral("apps"), QStringLiteral("tmp")})
            QDir(path(folder)).removeRecursively();
        QFile::remove(path(QStringLiteral("marker")));
        QFile::remove(path(QStringLiteral("opened")));
        QDir().mkpath(path(QStringLiteral("tmp")));
        UpdateFixtures::makeBundle(installed(), QStringLiteral("1.0.0"), 5);
        m_oldProcess.start(QStringLiteral("/bin/sleep"), {QStringLiteral("60")});
        QVERIFY(m_oldProcess.waitForStarted());
        m_store = std::make_unique<QSettings>(path(QStringLiteral("settings.ini")), QSettings::IniFormat);
        m_settings = std::make_unique<AppSettings>(m_store.get(), path(QStringLiteral("Descargas")), m_dir->path());
    }
    void cleanup() {
        quitOldProcess();
        if (m_immutable)
            QProcess::execute(QStringLiteral("/usr/bin/chattr"), {QStringLiteral("-i"), path(QStringLiteral("apps"))});
        QFile::setPermissions(path(QStringLiteral("apps")), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        m_immutable = false;
    }

    void updatesAndStartsTheNewVersion() {
        auto app = model(configuration());
        QTRY_VERIFY(!app->isCheckingApplicationUpdate());
        QStringList stages;
        connect(app.get(), &AppModel::applicationUpdateChanged, this,
                [&] { stages.append(app->applicationUpdateStage()); });
        QSignalSpy termination(app.get(), &AppModel::applicationTerminationRequested);
        const AppUpdateManifest manifest = publish(Fault::none);
        auto installing = app->installApplicationUpdate(manifest);
        BlockingWait::wait(app->installApplicationUpdate(manifest)); // a second request returns at once
        BlockingWait::wait(std::move(installing));
        QCOMPARE(m_server.requests().count(QStringLiteral("GET /u.zip")), 1);
        QCOMPARE(stages, QStringList({QStringLiteral("Preparando la actualización…"),
                                      QStringLiteral("Descargando Torvel Downloader 2.0.0…"),
                                      QStringLiteral("Verificando la integridad del archivo…"),
                                      QStringLiteral("Comprobando el paquete de la aplicación…"),
                                      QStringLiteral("Preparando el reinicio…"),
                                      QStringLiteral("Reiniciando Torvel Downloader…")}));
        QCOMPARE(termination.count(), 1);
        QVERIFY(app->isInstallingApplicationUpdate());

        // Nothing moves while the old process runs.
        QTest::qWait(400);
        QCOMPARE(ApplicationInfo::fromBundle(installed()).shortVersion, QStringLiteral("1.0.0"));
        quitOldProcess();
        QTRY_COMPARE_WITH_TIMEOUT(read(path(QStringLiteral("marker"))), installed() + QStringLiteral(" 2.0.0"), 10000);
        QCOMPARE(ApplicationInfo::fromBundle(installed()).shortVersion, QStringLiteral("2.0.0"));
        QVERIFY(QFileInfo(installed() + QStringLiteral("/bin/torvel-downloader")).isExecutable());
        QCOMPARE(QFileInfo(installed() + QStringLiteral("/share/readme.txt")).permissions() & 0x7777, 0x6644);
        BundleSeal::verify(installed(), BundleSeal::publicKeyOf(m_key));
        QTRY_COMPARE(leftovers(), QStringList{QStringLiteral("Torvel Downloader.app")});
        QVERIFY(!QFile::exists(path(QStringLiteral("opened"))));
    }

    void refusesAndLeavesTheInstallationAlone_data() {
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<QString>("message");
        const QString size = QStringLiteral("El archivo descargado está incompleto o no tiene el tamaño esperado.");
        const QString invalid =
            QStringLiteral("El paquete descargado no contiene una versión válida de Torvel Downloader.");
        const QString failed = QStringLiteral("No se pudo preparar la actualización. ");
        QTest::newRow("one byte more") << Fault::sizeMore << size;
        QTest::newRow("one byte less") << Fault::sizeLess << size;
        QTest::newRow("digest") << Fault::digest
                                << QStringLiteral(
                                       "La verificación SHA-256 no coincide. La actualización no se instalará.");
        QTest::newRow("identifier") << Fault::identifier << invalid;
        QTest::newRow("1.2 for 1.2.0") << Fault::shortVersion << invalid;
        QTest::newRow("added after sealing")
            << Fault::added << failed + QStringLiteral("El archivo share/extra.txt no figura en el sello del paquete.");
        QTest::newRow("changed after sealing")
            << Fault::changed
            << failed + QStringLiteral("El archivo share/readme.txt no coincide con el sello del paquete.");
        QTest::newRow("another key") << Fault::otherKey
                                     << failed + QStringLiteral("El sello del paquete no es válido.");
        QTest::newRow("escaping entry") << Fault::escaping << failed;
        QTest::newRow("link outside") << Fault::linkOutside << failed;
        QTest::newRow("bomb") << Fault::bomb << failed;
        QTest::newRow("no program") << Fault::noProgram << invalid;
        QTest::newRow("no release key") << Fault::noKey << invalid;
        QTest::newRow("other bundle name") << Fault::otherName << invalid;
        QTest::newRow("read-only installation")
            << Fault::readOnly
            << QStringLiteral("La app no puede reemplazarse desde su ubicación actual. Instala la actualización con el "
                              "paquete descargable.");
    }
    void refusesAndLeavesTheInstallationAlone() {
        QFETCH(Fault, fault);
        QFETCH(QString, message);
        AppUpdateService::Configuration settings = configuration();
        if (fault == Fault::noKey)
            settings.publicKey.clear();
        if (fault == Fault::readOnly) {
            // Root writes anywhere: an immutable folder is what stops it.
            m_immutable = ::geteuid() == 0;
            if (m_immutable && QProcess::execute(QStringLiteral("/usr/bin/chattr"),
                                                 {QStringLiteral("+i"), path(QStringLiteral("apps"))}) != 0)
                QSKIP("chattr +i is not available here");
            if (!m_immutable)
                QFile::setPermissions(path(QStringLiteral("apps")), QFile::ReadOwner | QFile::ExeOwner);
        }
        const QByteArray before = BundleSeal::listing(installed());
        auto app = model(settings);
        const AppUpdateManifest manifest = publish(fault);
        BlockingWait::wait(app->installApplicationUpdate(manifest));

        const std::optional<AppUpdateAlert> alert = app->appUpdateAlert();
        QVERIFY(alert && alert->kind == AppUpdateAlert::Kind::failure);
        QVERIFY2(alert->message.startsWith(message), qPrintable(alert->message));
        QCOMPARE(alert->dmgURL, fault == Fault::readOnly ? std::optional<QUrl>(manifest.dmgURL) : std::nullopt);
        QVERIFY(!app->isInstallingApplicationUpdate());
        QCOMPARE(app->applicationUpdateStage(), QString());
        QCOMPARE(BundleSeal::listing(installed()), before);
        QCOMPARE(leftovers(), QStringList{QStringLiteral("Torvel Downloader.app")});
    }

    // The copy breaks off half way: the old bundle is put back and started again.
    void restoresTheOldVersionWhenTheCopyFails() {
        AppUpdateService::Configuration settings = configuration();
        settings.copyProgram = TestSupport::writeScript(
            path(QStringLiteral("copy")), QStringLiteral("mkdir -p \"$3/bin\"; cp \"$2/Info.json\" \"$3/\"; exit 1"));
        const QByteArray before = BundleSeal::listing(installed());
        const AppUpdateManifest manifest = publish(Fault::none);
        BlockingWait::wait(AppUpdateService(settings).prepareUpdate(manifest, [](const QString &) {}));
        quitOldProcess();
        QTRY_COMPARE_WITH_TIMEOUT(read(path(QStringLiteral("marker"))), installed() + QStringLiteral(" 1.0.0"), 10000);
        QCOMPARE(BundleSeal::listing(installed()), before);
        QTRY_COMPARE(read(path(QStringLiteral("opened"))), manifest.dmgURL.toString());
        // The work folder stays for a look; the backup and the script are gone.
        QCOMPARE(leftovers().size(), 2);
        QVERIFY(leftovers().first().startsWith(QStringLiteral("TorvelDownloader-Update-")));
    }
};

QTEST_GUILESS_MAIN(TestAppUpdateInstall)
#include "tst_appupdateinstall.moc"
