#include "screenshot.h"
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

using namespace Qt::StringLiterals;

class TestAppUpdateUi : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    ScriptedHttpServer m_server;
    AppUpdateManifest m_manifest;
    std::unique_ptr<UpdateFixtures::ModelHarness> m_app;

    QString path(const QString &relative) const { return m_dir.filePath(relative); }
    static void screenshot(QWidget *widget, const QString &name) {
        QVERIFY(TestSupport::saveScreenshot(widget, u"update-"_s + name));
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
        const QString key = UpdateFixtures::makeKey(path(u"key.pem"_s));
        const QString bundle = path(u"release/Torvel Downloader.app"_s);
        UpdateFixtures::makeBundle(bundle, u"2.0.0"_s, 6);
        BundleSeal::seal(bundle, key);
        m_manifest = UpdateFixtures::serve(m_server, m_dir.path(),
                                           UpdateFixtures::entriesOf(bundle, u"Torvel Downloader.app/"_s));
        m_manifest.releaseNotes = u"Descargas <más> rápidas.\nMenos errores."_s;

        AppUpdateService::Configuration configuration;
        configuration.manifestURL = m_server.url(u"/update.json"_s);
        configuration.publicKey = BundleSeal::publicKeyOf(key);
        configuration.temporaryFolder = path(u"tmp"_s);
        QDir().mkpath(configuration.temporaryFolder);
        m_app = std::make_unique<UpdateFixtures::ModelHarness>(m_dir.path(), configuration);
    }
    void cleanupTestCase() {
        m_app.reset();
        QVERIFY(TestSupport::waitUntilChildless());
    }

    void plainDialogs() {
        const QList<std::pair<AppUpdateAlert, const char *>> alerts{
            {AppUpdateAlert::information(u"Al día."_s), "Torvel Downloader"},
            {AppUpdateAlert::failure(u"Falló <b>."_s), "No se pudo actualizar"}};
        for (const auto &[alert, title] : alerts) {
            AppUpdateDialog dialog(alert);
            QCOMPARE(dialog.windowTitle(), QString::fromUtf8(title));
            QCOMPARE(QTextDocumentFragment::fromHtml(dialog.informativeText()).toPlainText(), alert.message);
            QCOMPARE(buttons(dialog), QStringList{u"okButton"_s});
        }
    }

    // From the menu to the package: found, "Actualizar ahora" once, the banner through the
    // stages, the refusal of an installation that cannot be replaced, and the package handed
    // to the browser without another download.
    void updateNowRunsOnceAndOffersThePackage() {
        m_server.route(u"/update.json"_s,
                       Response::ok(QJsonDocument(m_manifest.encode()).toJson(), "application/json"));
        MainWindow window(m_app->model, m_app->desktop);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto *banner = window.findChild<ApplicationUpdateBanner *>();
        QAction *check = window.findChild<QAction *>(u"checkForUpdatesAction"_s);
        QVERIFY(!banner->isVisible());
        check->trigger();
        QCOMPARE(check->text(), u"Buscando actualizaciones…"_s);
        QVERIFY(!check->isEnabled());
        QTRY_VERIFY(window.appUpdateDialog());
        QCOMPARE(check->text(), u"Buscar actualizaciones…"_s);
        AppUpdateDialog *available = window.appUpdateDialog();
        QCOMPARE(available->windowTitle(), u"Actualización disponible"_s);
        QCOMPARE(QTextDocumentFragment::fromHtml(available->informativeText()).toPlainText(),
                 u"Torvel Downloader 2.0.0 está disponible. Descargas <más> rápidas.\nMenos errores."_s);
        QCOMPARE(buttons(*available), QStringList({u"laterButton"_s, u"updateNowButton"_s}));
        screenshot(available, u"available"_s);

        QStringList seen;
        connect(&m_app->model, &AppModel::applicationUpdateChanged, this, [&] {
            seen.append(banner->isVisible() ? banner->stage() : u"-"_s);
            if (banner->isVisible() && !check->isEnabled() && seen.size() == 3)
                screenshot(&window, u"banner"_s);
        });
        const qsizetype downloads = m_server.requests().count(u"GET /u.zip"_s);
        button(available, "updateNowButton")->click();
        QCOMPARE(m_app->model.appUpdateAlert(), std::nullopt);
        QTRY_VERIFY(window.appUpdateDialog() &&
                    window.appUpdateDialog()->windowTitle() == u"No se pudo instalar automáticamente"_s);
        QCOMPARE(seen,
                 QStringList({u"Preparando la actualización…"_s, u"Descargando Torvel Downloader 2.0.0…"_s,
                              u"Verificando la integridad del archivo…"_s,
                              u"Comprobando el paquete de la aplicación…"_s, u"Preparando el reinicio…"_s, u"-"_s}));
        QCOMPARE(m_server.requests().count(u"GET /u.zip"_s), downloads + 1);
        QCOMPARE(buttons(*window.appUpdateDialog()), QStringList({u"closeButton"_s, u"downloadPackageButton"_s}));
        screenshot(window.appUpdateDialog(), u"package-offered"_s);

        button(window.appUpdateDialog(), "downloadPackageButton")->click();
        QCOMPARE(m_app->desktop.openedURLs, QList<QUrl>{m_manifest.dmgURL});
        QCOMPARE(m_server.requests().count(u"GET /u.zip"_s), downloads + 1);
        QCOMPARE(m_app->model.appUpdateAlert(), std::nullopt);
        QVERIFY(QDir(path(u"tmp"_s)).isEmpty());
    }
};

QTEST_MAIN(TestAppUpdateUi)
#include "tst_appupdateui.moc"
