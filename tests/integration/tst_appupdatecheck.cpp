#include "common/blockingwait.h"
#include "testsupport.h"
#include "updatefixtures.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
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
private Q_SLOTS:
    void cleanup() { QVERIFY(TestSupport::waitUntilChildless()); }
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
        const auto changed = [this](const char *name, const char *key, const QJsonValue &value, const QString &expected,
                                    qint64 build = 6) {
            QJsonObject object = manifest(build);
            object.insert(QLatin1String(key), value);
            QTest::newRow(name) << json(object) << expected;
        };
        changed("null URL", "zipURL", QJsonValue::Null, invalidManifest);
        changed("build as text", "build", QStringLiteral("6"), invalidManifest);
        changed("fractional size", "size", 1.5, invalidManifest);
        changed("version as number", "version", 2, invalidManifest);
        changed("63-character digest", "sha256", QString(63, QLatin1Char('a')), invalidManifest);
        changed("65-character digest", "sha256", QString(65, QLatin1Char('a')), invalidManifest);
        changed("size 0", "size", 0, invalidManifest);
        changed("build 0", "build", 0, invalidManifest);
        changed("empty version", "version", QString(), invalidManifest);
        changed("unparsable URL", "dmgURL", QStringLiteral("http://[::1"), invalidManifest);
        changed("https elsewhere", "zipURL", QStringLiteral("https://127.0.0.1/u.zip"), untrusted);
        changed("look-alike host", "dmgURL", QStringLiteral("http://127.0.0.1.evil.test/u"), untrusted);
        // Refused even when not newer.
        changed("minimum 99", "minimumSystemVersion", QStringLiteral("99"),
                QStringLiteral("Esta actualización requiere glibc 99 o posterior."), 5);
        changed("minimum abc", "minimumSystemVersion", QStringLiteral("abc"),
                QStringLiteral("Esta actualización requiere glibc abc o posterior."), 5);
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
    // "none", the newer version found, or the error's text.
    void check() {
        QFETCH(Response, response);
        QFETCH(QString, expected);
        m_server.route(QStringLiteral("/update.json"), response);
        QString outcome;
        try {
            const auto update = BlockingWait::wait(AppUpdateService(configuration()).latestUpdate(5));
            outcome = update ? update->version : QStringLiteral("none");
        } catch (const TorvelError &error) {
            outcome = error.errorDescription();
        }
        QCOMPARE(outcome, expected);
    }

    void originAndMinimumSystem() {
        AppUpdateService::Configuration configuration;
        configuration.manifestURL = QUrl(QStringLiteral("https://updates.torvel.example/downloads/update.json"));
        const AppUpdateService service(configuration);
        for (const char *url : {"https://updates.torvel.example/a.zip", "HTTPS://UPDATES.Torvel.Example/A.zip",
                                "https://updates.torvel.example:8443/a?b"})
            QVERIFY2(service.isAuthorised(QUrl(QString::fromLatin1(url))), url);
        for (const char *url : {"http://updates.torvel.example/a.zip", "https://updates.torvel.example.evil.test/a",
                                "https://evilupdates.torvel.example/a", "https://cdn.updates.torvel.example/a",
                                "https:///a.zip", "a.zip"})
            QVERIFY2(!service.isAuthorised(QUrl(QString::fromLatin1(url))), url);
        const auto supports = [](const char *minimum) {
            return AppUpdateService::systemSupports(QString::fromLatin1(minimum), QStringLiteral("2.36"));
        };
        for (const char *minimum : {"2.17", "2.36", "2.x.30", "+2.-1"})
            QVERIFY2(supports(minimum), minimum);
        for (const char *minimum : {"99", "abc", "2.36.1", "2..40"})
            QVERIFY2(!supports(minimum), minimum);
    }

    // The automatic check at start-up answers only a newer build; a manual one always answers.
    void modelCheck_data() {
        QTest::addColumn<Response>("response");
        QTest::addColumn<bool>("manual");
        QTest::addColumn<QString>("alert");
        QTest::newRow("current, automatic") << json(manifest(5)) << false << QString();
        QTest::newRow("current, manual") << json(manifest(5)) << true
                                         << QStringLiteral(
                                                "information-Torvel Downloader 1.0.0 es la versión más reciente.");
        QTest::newRow("failing, automatic") << Response::notFound() << false << QString();
        QTest::newRow("failing, manual") << Response::notFound() << true << QStringLiteral("failure-") + invalidServer;
        QTest::newRow("newer, automatic") << json(manifest()) << false << QStringLiteral("available-6");
    }
    void modelCheck() {
        QFETCH(Response, response);
        QFETCH(bool, manual);
        QFETCH(QString, alert);
        QByteArray accept;
        const qsizetype before = m_server.requests().size();
        m_server.route(QStringLiteral("/update.json"), [&](const ScriptedHttpServer::Request &request) {
            accept = request.headers.value("accept") + ' ' + request.headers.value("cache-control");
            return response;
        });
        UpdateFixtures::ModelHarness harness(m_dir.path(), configuration());
        QCOMPARE(accept, QByteArray("application/json no-cache"));
        if (manual) {
            // A second request while the first runs does nothing.
            auto first = harness.model.checkForApplicationUpdate(true);
            BlockingWait::wait(harness.model.checkForApplicationUpdate(true));
            BlockingWait::wait(std::move(first));
        }
        QCOMPARE(m_server.requests().size() - before, manual ? 2 : 1);
        QCOMPARE(harness.model.appUpdateAlert() ? harness.model.appUpdateAlert()->id() : QString(), alert);
        QVERIFY(!harness.model.isCheckingApplicationUpdate());
    }
};

QTEST_GUILESS_MAIN(TestAppUpdateCheck)
#include "tst_appupdatecheck.moc"
