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
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocumentFragment>

using Response = ScriptedHttpServer::Response;

class TestAppUpdateUi : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    ScriptedHttpServer m_server;
    AppUpdateManifest m_manifest;
    std::unique_ptr<UpdateFixtures::ModelHarness> m_app;

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
        m_manifest = UpdateFixtures::serve(m_server, m_dir.path(),
                                           UpdateFixtures::entriesOf(bundle, QStringLiteral("Torvel Downloader.app/")));
        m_manifest.releaseNotes = QStringLiteral("Descargas <más> rápidas.\nMenos errores.");

        AppUpdateService::Configuration configuration;
        configuration.manifestURL = m_server.url(QStringLiteral("/update.json"));
        configuration.publicKey = BundleSeal::publicKeyOf(key);
        configuration.temporaryFolder = path(QStringLiteral("tmp"));
        QDir().mkpath(configuration.temporaryFolder);
        m_app = std::make_unique<UpdateFixtures::ModelHarness>(m_dir.path(), configuration);
    }
    void cleanupTestCase() {
        m_app.reset();
        QVERIFY(TestSupport::waitUntilChildless());
    }

    void plainDialogs() {
        const QList<std::pair<AppUpdateAlert, const char *>> alerts{
            {AppUpdateAlert::information(QStringLiteral("Al día.")), "Torvel Downloader"},
            {AppUpdateAlert::failure(QStringLiteral("Falló <b>.")), "No se pudo actualizar"}};
        for (const auto &[alert, title] : alerts) {
            AppUpdateDialog dialog(alert);
            QCOMPARE(dialog.windowTitle(), QString::fromUtf8(title));
            QCOMPARE(QTextDocumentFragment::fromHtml(dialog.informativeText()).toPlainText(), alert.message);
            QCOMPARE(buttons(dialog), QStringList{QStringLiteral("okButton")});
        }
    }

    // From the menu to the package: found, "Actualizar ahora" once, the banner through the
    // stages, the refusal of an installation that cannot be replaced, and the package handed
    // to the browser without another download.
    void updateNowRunsOnceAndOffersThePackage() {
        m_server.route(QStringLiteral("/update.json"),
                       Response::ok(QJsonDocument(m_manifest.encode()).toJson(), "application/json"));
        MainWindow window(m_app->model, m_app->desktop);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto *banner = window.findChild<ApplicationUpdateBanner *>();
        QAction *check = window.findChild<QAction *>(QStringLiteral("checkForUpdatesAction"));
        QVERIFY(!banner->isVisible());
        check->trigger();
        QCOMPARE(check->text(), QStringLiteral("Buscando actualizaciones…"));
        QVERIFY(!check->isEnabled());
        QTRY_VERIFY(window.appUpdateDialog());
        QCOMPARE(check->text(), QStringLiteral("Buscar actualizaciones…"));
        AppUpdateDialog *available = window.appUpdateDialog();
        QCOMPARE(available->windowTitle(), QStringLiteral("Actualización disponible"));
        QCOMPARE(QTextDocumentFragment::fromHtml(available->informativeText()).toPlainText(),
                 QStringLiteral("Torvel Downloader 2.0.0 está disponible. Descargas <más> rápidas.\nMenos errores."));
        QCOMPARE(buttons(*available), QStringList({QStringLiteral("laterButton"), QStringLiteral("updateNowButton")}));
        screenshot(available, QStringLiteral("available"));

        QStringList seen;
        connect(&m_app->model, &AppModel::applicationUpdateChanged, this, [&] {
            seen.append(banner->isVisible() ? banner->stage() : QStringLiteral("-"));
            if (banner->isVisible() && !check->isEnabled() && seen.size() == 3)
                screenshot(&window, QStringLiteral("banner"));
        });
        const qsizetype downloads = m_server.requests().count(QStringLiteral("GET /u.zip"));
        button(available, "updateNowButton")->click();
        QCOMPARE(m_app->model.appUpdateAlert(), std::nullopt);
        QTRY_VERIFY(window.appUpdateDialog() &&
                    window.appUpdateDialog()->windowTitle() == QStringLiteral("No se pudo instalar automáticamente"));
        QCOMPARE(seen, QStringList({QStringLiteral("Preparando la actualización…"),
                                    QStringLiteral("Descargando Torvel Downloader 2.0.0…"),
                                    QStringLiteral("Verificando la integridad del archivo…"),
                                    QStringLiteral("Comprobando el paquete de la aplicación…"),
                                    QStringLiteral("Preparando el reinicio…"), QStringLiteral("-")}));
        QCOMPARE(m_server.requests().count(QStringLiteral("GET /u.zip")), downloads + 1);
        QCOMPARE(buttons(*window.appUpdateDialog()),
                 QStringList({QStringLiteral("closeButton"), QStringLiteral("downloadPackageButton")}));
        screenshot(window.appUpdateDialog(), QStringLiteral("package-offered"));

        button(window.appUpdateDialog(), "downloadPackageButton")->click();
        QCOMPARE(m_app->desktop.openedURLs, QList<QUrl>{m_manifest.dmgURL});
        QCOMPARE(m_server.requests().count(QStringLiteral("GET /u.zip")), downloads + 1);
        QCOMPARE(m_app->model.appUpdateAlert(), std::nullopt);
        QVERIFY(QDir(path(QStringLiteral("tmp"))).isEmpty());
    }
};

QTEST_MAIN(TestAppUpdateUi)
#include "tst_appupdateui.moc"
