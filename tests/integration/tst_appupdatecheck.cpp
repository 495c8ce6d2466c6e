#include "common/blockingwait.h"
#include "fakedesktopservices.h"
#include "model/appmodel.h"
#include "scriptedhttpserver.h"
#include "testsupport.h"
#include "updatefixtures.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using Response = ScriptedHttpServer::Response;
using namespace std::chrono_literals;

namespace {
const QString invalidManifest = QStringLiteral("La información de la actualización no es válida.");
const QString invalidServer = QStringLiteral("El servidor de actualizaciones no respondió correctamente.");
const QString untrusted = QStringLiteral("La actualización no procede de un servidor autorizado de Torvel.");
} // namespace

class TestAppUpdateCheck : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    ScriptedHttpServer m_server;

    QJsonObject manifest(qint64 build = 6) const {
        return {{QStringLiteral("version"), QStringLiteral("2.0.0")},
                {QStringLiteral("build"), build},
                {QStringLiteral("minimumSystemVersion"), QStringLiteral("2.17")},
                {QStringLiteral("zipURL"), m_server.url(QStringLiteral("/u.zip")).toString()},
                {QStringLiteral("dmgURL"), m_server.url(QStringLiteral("/u.tar.gz")).toString()},
                {QStringLiteral("sha256"), QString(64, QLatin1Char('a'))},
                {QStringLiteral("size"), 10},
                {QStringLiteral("releaseNotes"), QString()}};
    }
    static Response json(const QJsonObject &object) {
        return Response::ok(QJsonDocument(object).toJson(), "application/json");
    }
    AppUpdateService::Configuration configuration() const {
        AppUpdateService::Configuration configuration;
        configuration.manifestURL = m_server.url(QStringLiteral("/update.json"));
        configuration.systemVersion = QStringLiteral("2.36");
        configuration.manifestTimeout = 300ms;
        configuration.manifestDeadline = 1500ms;
        configuration.maxManifestBytes = 4096;
        configuration.installedBundle = m_dir.filePath(QStringLiteral("Torvel Downloader.app"));
        return configuration;
    }
    // "none", the newer version found, or the error's text.
    QString check(const Response &response) {
        m_server.route(QStringLiteral("/update.json"), response);
        try {
            const auto update = BlockingWait::wait(AppUpdateService(configuration()).latestUpdate(5));
            return update ? update->version : QStringLiteral("none");
        } catch (const TorvelError &error) {
            return error.errorDescription();
        }
    }
    std::unique_ptr<AppModel> makeModel(AppSettings &settings, FakeDesktopServices &desktop) {
        return std::make_unique<AppModel>(
            settings, desktop, DependencyLocator(TestSupport::sandboxedTools(m_dir.path())),
            JobFolders(m_dir.filePath(QStringLiteral("jobs"))), AppUpdateService(configuration()));
    }

private Q_SLOTS:
    void initTestCase() {
        UpdateFixtures::makeBundle(m_dir.filePath(QStringLiteral("Torvel Downloader.app")), QStringLiteral("1.0.0"), 5);
    }

    void check_data() {
        QTest::addColumn<Response>("response");
        QTest::addColumn<QString>("expected");
        QTest::newRow("newer") << json(manifest()) << QStringLiteral("2.0.0");
        QTest::newRow("same build") << json(manifest(5)) << QStringLiteral("none");
        QJsonObject loud = manifest();
        loud.insert(QStringLiteral("zipURL"), QStringLiteral("HTTP://127.0.0.1/U.ZIP"));
        loud.insert(QStringLiteral("extra"), QJsonArray{1});
        QTest::newRow("capitals and an extra key") << json(loud) << QStringLiteral("2.0.0");
        for (const QString &key : manifest().keys()) {
            QJsonObject missing = manifest();
            missing.remove(key);
            QTest::addRow("without %s", qPrintable(key)) << json(missing) << invalidManifest;
        }
        const QList<std::pair<const char *, std::pair<QString, QJsonValue>>> changes{
            {"null URL", {QStringLiteral("zipURL"), QJsonValue::Null}},
            {"build as text", {QStringLiteral("build"), QStringLiteral("6")}},
            {"fractional size", {QStringLiteral("size"), 1.5}},
            {"version as number", {QStringLiteral("version"), 2}},
            {"63-character digest", {QStringLiteral("sha256"), QString(63, QLatin1Char('a'))}},
            {"65-character digest", {QStringLiteral("sha256"), QString(65, QLatin1Char('a'))}},
            {"size 0", {QStringLiteral("size"), 0}},
            {"build 0", {QStringLiteral("build"), 0}},
            {"empty version", {QStringLiteral("version"), QString()}},
            {"unparsable URL", {QStringLiteral("dmgURL"), QStringLiteral("http://[::1")}},
            {"plain http elsewhere", {QStringLiteral("zipURL"), QStringLiteral("https://127.0.0.1/u.zip")}},
            {"look-alike host", {QStringLiteral("dmgURL"), QStringLiteral("http://127.0.0.1.evil.test/u")}},
            {"minimum 99", {QStringLiteral("minimumSystemVersion"), QStringLiteral("99")}},
            {"minimum abc", {QStringLiteral("minimumSystemVersion"), QStringLiteral("abc")}},
        };
        const QStringList expected{invalidManifest,
                                   invalidManifest,
                                   invalidManifest,
                                   invalidManifest,
                                   invalidManifest,
                                   invalidManifest,
                                   invalidManifest,
                                   invalidManifest,
                                   invalidManifest,
                                   invalidManifest,
                                   untrusted,
                                   untrusted,
                                   QStringLiteral("Esta actualización requiere glibc 99 o posterior."),
                                   QStringLiteral("Esta actualización requiere glibc abc o posterior.")};
        for (qsizetype i = 0; i < changes.size(); ++i) {
            QJsonObject changed = manifest(changes[i].first[0] == 'm' ? 5 : 6);
            changed.insert(changes[i].second.first, changes[i].second.second);
            QTest::newRow(changes[i].first) << json(changed) << expected[i];
        }
        QTest::newRow("array") << Response::ok("[]", "application/json") << invalidManifest;
        QTest::newRow("HTML") << Response::ok("<html>hola</html>", "text/html") << invalidManifest;
        for (const int status : {304, 404, 500}) {
            Response response = json(manifest());
            response.status = status;
            QTest::addRow("status %d", status) << response << invalidServer;
        }
        QTest::newRow("redirect to another host")
            << Response::redirect(QUrl(QStringLiteral("http://localhost:%1/update.json").arg(m_server.url().port())))
            << untrusted;
        m_server.route(QStringLiteral("/moved.json"), json(manifest()));
        QTest::newRow("redirect on the origin")
            << Response::redirect(m_server.url(QStringLiteral("/moved.json"))) << QStringLiteral("2.0.0");
        Response hang;
        hang.hang = true;
        QTest::newRow("hangs") << hang << QStringLiteral("Se agotó el tiempo de espera de la conexión.");
        Response huge = json(manifest());
        huge.declaredLength = qint64(5) << 30;
        QTest::newRow("announces 5 GB") << huge << invalidServer;
        Response trickle = Response::ok(QByteArray(3000, ' '));
        trickle.bytesPerTick = 1;
        QTest::newRow("trickles") << trickle
                                  << QStringLiteral("El servidor de actualizaciones tardó demasiado en responder.");
    }
    void check() {
        QFETCH(Response, response);
        QFETCH(QString, expected);
        QCOMPARE(check(response), expected);
    }

    void origin_data() {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("authorised");
        QTest::newRow("exact") << QStringLiteral("https://updates.torvel.example/a.zip") << true;
        QTest::newRow("capitals") << QStringLiteral("HTTPS://UPDATES.Torvel.Example/A.zip") << true;
        QTest::newRow("other port and query") << QStringLiteral("https://updates.torvel.example:8443/a?b") << true;
        QTest::newRow("http") << QStringLiteral("http://updates.torvel.example/a.zip") << false;
        QTest::newRow("look-alike") << QStringLiteral("https://updates.torvel.example.evil.test/a") << false;
        QTest::newRow("suffix") << QStringLiteral("https://evilupdates.torvel.example/a") << false;
        QTest::newRow("subdomain") << QStringLiteral("https://cdn.updates.torvel.example/a") << false;
        QTest::newRow("no host") << QStringLiteral("https:///a.zip") << false;
        QTest::newRow("relative") << QStringLiteral("a.zip") << false;
    }
    void origin() {
        QFETCH(QString, url);
        QFETCH(bool, authorised);
        AppUpdateService::Configuration configuration;
        configuration.manifestURL = QUrl(QStringLiteral("https://updates.torvel.example/downloads/update.json"));
        QCOMPARE(AppUpdateService(configuration).isAuthorised(QUrl(url)), authorised);
    }

    void minimumSystem_data() {
        QTest::addColumn<QString>("minimum");
        QTest::addColumn<bool>("supported");
        QTest::newRow("99") << QStringLiteral("99") << false;
        QTest::newRow("abc") << QStringLiteral("abc") << false;
        QTest::newRow("2.17") << QStringLiteral("2.17") << true;
        QTest::newRow("same") << QStringLiteral("2.36") << true;
        QTest::newRow("patch above") << QStringLiteral("2.36.1") << false;
        QTest::newRow("empty pieces") << QStringLiteral("2..40") << false;
        QTest::newRow("pieces dropped") << QStringLiteral("2.x.30") << true;
        QTest::newRow("sign") << QStringLiteral("+2.-1") << true;
    }
    void minimumSystem() {
        QFETCH(QString, minimum);
        QFETCH(bool, supported);
        QCOMPARE(AppUpdateService::systemSupports(minimum, QStringLiteral("2.36")), supported);
    }

    // The automatic check answers only a newer build; a manual one always answers.
    void modelCheck() {
        QSettings store(m_dir.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
        AppSettings settings(&store, m_dir.filePath(QStringLiteral("Descargas")), m_dir.path());
        FakeDesktopServices desktop;
        QByteArray accept, cache;
        const QByteArray current = QJsonDocument(manifest(5)).toJson();
        m_server.route(QStringLiteral("/update.json"), [&](const ScriptedHttpServer::Request &request) {
            accept = request.headers.value("accept");
            cache = request.headers.value("cache-control");
            return Response::ok(current, "application/json");
        });
        auto model = makeModel(settings, desktop);
        QTRY_VERIFY(!model->isCheckingApplicationUpdate());
        QCOMPARE(model->appUpdateAlert(), std::nullopt);
        QCOMPARE(accept, QByteArray("application/json"));
        QCOMPARE(cache, QByteArray("no-cache"));
        BlockingWait::wait(model->checkForApplicationUpdate(true));
        QCOMPARE(model->appUpdateAlert()->id(),
                 QStringLiteral("information-Torvel Downloader 1.0.0 es la versión más reciente."));

        Response failing = json(manifest());
        failing.status = 500;
        m_server.route(QStringLiteral("/update.json"), failing);
        model = makeModel(settings, desktop);
        QTRY_VERIFY(!model->isCheckingApplicationUpdate());
        QCOMPARE(model->appUpdateAlert(), std::nullopt);
        BlockingWait::wait(model->checkForApplicationUpdate(true));
        QCOMPARE(model->appUpdateAlert(), AppUpdateAlert::failure(invalidServer));

        m_server.route(QStringLiteral("/update.json"), json(manifest()));
        model = makeModel(settings, desktop);
        QTRY_VERIFY(!model->isCheckingApplicationUpdate());
        QCOMPARE(model->appUpdateAlert()->id(), QStringLiteral("available-6"));

        // While a check runs, another one does nothing.
        Response slow = json(manifest(5));
        slow.bytesPerTick = 20;
        m_server.route(QStringLiteral("/update.json"), slow);
        model->dismissAppUpdateAlert();
        const qsizetype requests = m_server.requests().size();
        auto first = model->checkForApplicationUpdate(true);
        QVERIFY(model->isCheckingApplicationUpdate());
        BlockingWait::wait(model->checkForApplicationUpdate(true));
        BlockingWait::wait(std::move(first));
        QCOMPARE(m_server.requests().size(), requests + 1);
        QCOMPARE(model->appUpdateAlert()->kind, AppUpdateAlert::Kind::information);
    }
};

QTEST_GUILESS_MAIN(TestAppUpdateCheck)
#include "tst_appupdatecheck.moc"
