#include "common/filedigest.h"
#include "fakedesktopservices.h"
#include "model/appmodel.h"
#include "scriptedhttpserver.h"
#include "testsupport.h"
#include "ui/about/appupdatedialog.h"
#include "ui/main/applicationupdatebanner.h"
#include "ui/main/mainwindow.h"
#include "update/bundleseal.h"
#include "updatefixtures.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QJsonDocument>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocumentFragment>

using namespace std::chrono_literals;
using Response = ScriptedHttpServer::Response;

class TestAppUpdateUi : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    ScriptedHttpServer m_server;
    AppUpdateManifest m_manifest;
    std::unique_ptr<QSettings> m_store;
    std::unique_ptr<AppSettings> m_settings;
    FakeDesktopServices m_desktop;
    std::unique_ptr<AppModel> m_model;

    QString path(const QString &relative) const { return m_dir.filePath(relative); }
    static void screenshot(QWidget *widget, const QString &name) {
        QVERIFY(widget->grab().save(TestSupport::artefactFolder(QStringLiteral("ui")) + QStringLiteral("/update-") +
                                    name + QStringLiteral(".png")));
    }
    static QStringList buttons(const QMessageBox &dialog) {
        QStringList names;
        for (const QAbstractButton *button : dialog.buttons())
            names.append(button->objectName());
        names.sort();
        return names;
    }
    static QAbstractButton *button(QWidget *dialog, const char *name) {
        return dialog->findChild<QAbstractButton *>(QString::fromLatin1(name));
    }

private Q_SLOTS:
    void initTestCase() {
        QApplication::setQuitOnLastWindowClosed(false);
        // A sealed 2.0.0 served beside its manifest. This test program runs from no bundle, so
        // its installation can never be replaced: the last step refuses and offers the package.
        const QString key = UpdateFixtures::makeKey(path(QStringLiteral("key.pem")));
        const QString bundle = path(QStringLiteral("release/Torvel Downloader.app"));
        UpdateFixtures::makeBundle(bundle, QStringLiteral("2.0.0"), 6);
        BundleSeal::seal(bundle, key);
        ArchiveFixtures::write(path(QStringLiteral("u.zip")),
                               UpdateFixtures::entriesOf(bundle, QStringLiteral("Torvel Downloader.app/")));
        QFile zip(path(QStringLiteral("u.zip")));
        QVERIFY(zip.open(QIODevice::ReadOnly));
        m_server.route(QStringLiteral("/u.zip"), Response::ok(zip.readAll()));
        m_manifest = UpdateFixtures::manifestFor(path(QStringLiteral("u.zip")), m_server.url(QStringLiteral("/u.zip")),
                                                 QStringLiteral("2.0.0"), 6);
        m_manifest.releaseNotes = QStringLiteral("Descargas <más> rápidas.\nMenos errores.");

        AppUpdateService::Configuration configuration;
        configuration.manifestURL = m_server.url(QStringLiteral("/update.json"));
        configuration.publicKey = BundleSeal::publicKeyOf(key);
        configuration.temporaryFolder = path(QStringLiteral("tmp"));
        configuration.manifestTimeout = 300ms;
        QDir().mkpath(configuration.temporaryFolder);
        m_store = std::make_unique<QSettings>(path(QStringLiteral("settings.ini")), QSettings::IniFormat);
        m_settings = std::make_unique<AppSettings>(m_store.get(), path(QStringLiteral("Descargas")), m_dir.path());
        m_model = std::make_unique<AppModel>(*m_settings, m_desktop,
                                             DependencyLocator(TestSupport::sandboxedTools(m_dir.path())),
                                             JobFolders(path(QStringLiteral("jobs"))), AppUpdateService(configuration));
        QTRY_VERIFY(!m_model->isCheckingApplicationUpdate());
    }

    void dialogs_data() {
        QTest::addColumn<AppUpdateAlert>("alert");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QStringList>("buttons");
        const QUrl package(QStringLiteral("https://updates.torvel.example/p.tar.gz"));
        QTest::newRow("available") << AppUpdateAlert::available(m_manifest)
                                   << QStringLiteral("Actualización disponible")
                                   << QStringLiteral("Torvel Downloader 2.0.0 está disponible. Descargas <más> "
                                                     "rápidas.\nMenos errores.")
                                   << QStringList{QStringLiteral("laterButton"), QStringLiteral("updateNowButton")};
        QTest::newRow("information") << AppUpdateAlert::information(QStringLiteral("Es la versión más reciente."))
                                     << QStringLiteral("Torvel Downloader")
                                     << QStringLiteral("Es la versión más reciente.")
                                     << QStringList{QStringLiteral("okButton")};
        QTest::newRow("package") << AppUpdateAlert::failure(QStringLiteral("No puede reemplazarse."), package)
                                 << QStringLiteral("No se pudo instalar automáticamente")
                                 << QStringLiteral("No puede reemplazarse.")
                                 << QStringList{QStringLiteral("closeButton"), QStringLiteral("downloadPackageButton")};
        QTest::newRow("failure") << AppUpdateAlert::failure(QStringLiteral("Falló."))
                                 << QStringLiteral("No se pudo actualizar") << QStringLiteral("Falló.")
                                 << QStringList{QStringLiteral("okButton")};
    }
    void dialogs() {
        QFETCH(AppUpdateAlert, alert);
        QFETCH(QString, title);
        QFETCH(QString, message);
        QFETCH(QStringList, buttons);
        AppUpdateDialog dialog(alert);
        QCOMPARE(dialog.windowTitle(), title);
        QCOMPARE(dialog.text(), title);
        QCOMPARE(QTextDocumentFragment::fromHtml(dialog.informativeText()).toPlainText(), message);
        QCOMPARE(TestAppUpdateUi::buttons(dialog), buttons);
        dialog.show();
        screenshot(&dialog, QString::fromLatin1(QTest::currentDataTag()));
    }

    void menuReadsCheckingWhileTheCheckRuns() {
        Response hang;
        hang.hang = true;
        m_server.route(QStringLiteral("/update.json"), hang);
        MainWindow window(*m_model, m_desktop);
        QAction *check = window.findChild<QAction *>(QStringLiteral("checkForUpdatesAction"));
        check->trigger();
        QCOMPARE(check->text(), QStringLiteral("Buscando actualizaciones…"));
        QVERIFY(!check->isEnabled());
        QTRY_VERIFY(window.appUpdateDialog());
        QCOMPARE(check->text(), QStringLiteral("Buscar actualizaciones…"));
        QVERIFY(check->isEnabled());
        QCOMPARE(window.appUpdateDialog()->windowTitle(), QStringLiteral("No se pudo actualizar"));
        button(window.appUpdateDialog(), "okButton")->click();
        QCOMPARE(m_model->appUpdateAlert(), std::nullopt);
    }

    // From the menu to the package: found, "Actualizar ahora" once, the banner through the
    // stages, the refusal of an installation that cannot be replaced, and the package handed
    // to the browser without another download.
    void updateNowRunsOnceAndOffersThePackage() {
        m_server.route(QStringLiteral("/update.json"),
                       Response::ok(QJsonDocument(m_manifest.encode()).toJson(), "application/json"));
        MainWindow window(*m_model, m_desktop);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto *banner = window.findChild<ApplicationUpdateBanner *>();
        QAction *check = window.findChild<QAction *>(QStringLiteral("checkForUpdatesAction"));
        QVERIFY(!banner->isVisible());
        check->trigger();
        QTRY_VERIFY(window.appUpdateDialog());
        QCOMPARE(window.appUpdateDialog()->windowTitle(), QStringLiteral("Actualización disponible"));

        QStringList seen;
        connect(m_model.get(), &AppModel::applicationUpdateChanged, this, [&] {
            seen.append(banner->isVisible() ? banner->stage() : QStringLiteral("-"));
            if (banner->isVisible() && !check->isEnabled() && seen.size() == 3)
                screenshot(&window, QStringLiteral("banner"));
        });
        const qsizetype downloads = m_server.requests().count(QStringLiteral("GET /u.zip"));
        QAbstractButton *updateNow = button(window.appUpdateDialog(), "updateNowButton");
        updateNow->click();
        QCOMPARE(m_model->appUpdateAlert(), std::nullopt);
        QTRY_VERIFY(window.appUpdateDialog() &&
                    window.appUpdateDialog()->windowTitle() == QStringLiteral("No se pudo instalar automáticamente"));
        QCOMPARE(seen, QStringList({QStringLiteral("Preparando la actualización…"),
                                    QStringLiteral("Descargando Torvel Downloader 2.0.0…"),
                                    QStringLiteral("Verificando la integridad del archivo…"),
                                    QStringLiteral("Comprobando el paquete de la aplicación…"),
                                    QStringLiteral("Preparando el reinicio…"), QStringLiteral("-")}));
        QCOMPARE(m_server.requests().count(QStringLiteral("GET /u.zip")), downloads + 1);
        screenshot(window.appUpdateDialog(), QStringLiteral("package-offered"));

        button(window.appUpdateDialog(), "downloadPackageButton")->click();
        QCOMPARE(m_desktop.openedURLs, QList<QUrl>{m_manifest.dmgURL});
        QCOMPARE(m_server.requests().count(QStringLiteral("GET /u.zip")), downloads + 1);
        QCOMPARE(m_model->appUpdateAlert(), std::nullopt);
        QVERIFY(QDir(path(QStringLiteral("tmp"))).isEmpty());
    }
};

QTEST_MAIN(TestAppUpdateUi)
#include "tst_appupdateui.moc"
