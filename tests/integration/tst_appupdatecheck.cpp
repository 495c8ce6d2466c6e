#include "common/blockingwait.h"
#include "testsupport.h"
#include "updatefixtures.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

using Response = ScriptedHttpServer::Response;
using namespace std::chrono_literals;

namespace {
const QString invalidManifest = u"La información de la actualización no es válida."_s;
const QString invalidServer = u"El servidor de actualizaciones no respondió correctamente."_s;
const QString untrusted = u"La actualización no procede de un servidor autorizado de Torvel."_s;
} // namespace

class TestAppUpdateCheck : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    ScriptedHttpServer m_server;

    QJsonObject manifest(qint64 build = 6) const {
        const QString text = uR"({"version": "2.0.0", "build": %1, "minimumSystemVersion": "2.17", "size": 10,)"
                             uR"("zipURL": "%2/u.zip", "dmgURL": "%2/u.tar.gz", "sha256": "%3", "releaseNotes": ""})"_s;
        return QJsonDocument::fromJson(text.arg(build).arg(m_server.url().toString(), QString(64, u'a')).toUtf8())
            .object();
    }
    static Response json(const QJsonObject &object) {
        return Response::ok(QJsonDocument(object).toJson(), "application/json");
    }
    AppUpdateService::Configuration configuration() const {
        AppUpdateService::Configuration configuration;
        configuration.manifestURL = m_server.url(u"/update.json"_s);
        configuration.systemVersion = u"2.36"_s;
        configuration.manifestTimeout = 300ms;
        configuration.manifestDeadline = 1500ms;
        configuration.maxManifestBytes = 4096;
        configuration.installedBundle = m_dir.filePath(u"Torvel Downloader.app"_s);
        return configuration;
    }
private Q_SLOTS:
    void cleanup() { QVERIFY(TestSupport::waitUntilChildless()); }
    void initTestCase() { UpdateFixtures::makeBundle(m_dir.filePath(u"Torvel Downloader.app"_s), u"1.0.0"_s, 5); }

    void check_data() {
        QTest::addColumn<Response>("response");
        QTest::addColumn<QString>("expected");
        QTest::newRow("newer") << json(manifest()) << u"2.0.0"_s;
        QTest::newRow("same build") << json(manifest(5)) << u"none"_s;
        QJsonObject loud = manifest();
        loud.insert(u"zipURL"_s, u"HTTP://127.0.0.1/U.ZIP"_s);
        loud.insert(u"extra"_s, QJsonArray{1});
        QTest::newRow("capitals and an extra key") << json(loud) << u"2.0.0"_s;
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
        changed("build as text", "build", u"6"_s, invalidManifest);
        changed("fractional size", "size", 1.5, invalidManifest);
        changed("version as number", "version", 2, invalidManifest);
        changed("63-character digest", "sha256", QString(63, QLatin1Char('a')), invalidManifest);
        changed("65-character digest", "sha256", QString(65, QLatin1Char('a')), invalidManifest);
        changed("size 0", "size", 0, invalidManifest);
        changed("build 0", "build", 0, invalidManifest);
        changed("empty version", "version", QString(), invalidManifest);
        changed("unparsable URL", "dmgURL", u"http://[::1"_s, invalidManifest);
        changed("https elsewhere", "zipURL", u"https://127.0.0.1/u.zip"_s, untrusted);
        changed("look-alike host", "dmgURL", u"http://127.0.0.1.evil.test/u"_s, untrusted);
        // Refused even when not newer.
        changed("minimum 99", "minimumSystemVersion", u"99"_s, u"Esta actualización requiere glibc 99 o posterior."_s,
                5);
        // Whole numbers are written as such: not as a fraction or an exponent.
        for (const char *build : {"6.0", "6e0"}) {
            const QByteArray value = QByteArray("\"build\": ") + build;
            QTest::addRow("build %s", build)
                << Response::ok(QJsonDocument(manifest()).toJson().replace("\"build\": 6", value), "application/json")
                << invalidManifest;
        }
        QTest::newRow("array") << Response::ok("[]", "application/json") << invalidManifest;
        QTest::newRow("HTML") << Response::ok("<html>hola</html>", "text/html") << invalidManifest;
        for (const int status : {304, 404, 500}) {
            Response response = json(manifest());
            response.status = status;
            QTest::addRow("status %d", status) << response << invalidServer;
        }
        QTest::newRow("redirect to another host")
            << Response::redirect(QUrl(u"http://localhost:%1/update.json"_s.arg(m_server.url().port()))) << untrusted;
        m_server.route(u"/moved.json"_s, json(manifest()));
        QTest::newRow("redirect on the origin") << Response::redirect(m_server.url(u"/moved.json"_s)) << u"2.0.0"_s;
        QTest::newRow("hangs") << Response::hanging() << u"Se agotó el tiempo de espera de la conexión."_s;
        Response huge = json(manifest());
        huge.declaredLength = qint64(5) << 30;
        QTest::newRow("announces 5 GB") << huge << invalidServer;
        QTest::newRow("trickles") << Response::throttled(QByteArray(3000, ' '), 1)
                                  << u"El servidor de actualizaciones tardó demasiado en responder."_s;
    }
    // "none", the newer version found, or the error's text.
    void check() {
        QFETCH(Response, response);
        QFETCH(QString, expected);
        m_server.route(u"/update.json"_s, response);
        QString outcome;
        const QString failure = TestSupport::failureOf([&] {
            const auto update = BlockingWait::wait(AppUpdateService(configuration()).latestUpdate(5));
            outcome = update ? update->version : u"none"_s;
        });
        QCOMPARE(failure.isEmpty() ? outcome : failure, expected);
    }

    void originAndMinimumSystem() {
        AppUpdateService::Configuration configuration;
        configuration.manifestURL = QUrl(u"https://updates.torvel.example/downloads/update.json"_s);
        const AppUpdateService service(configuration);
        for (const char *url : {"https://updates.torvel.example/a.zip", "HTTPS://UPDATES.Torvel.Example/A.zip",
                                "https://updates.torvel.example:8443/a?b"})
            QVERIFY2(service.isAuthorised(QUrl(QString::fromLatin1(url))), url);
        for (const char *url : {"http://updates.torvel.example/a.zip", "https://updates.torvel.example.evil.test/a",
                                "https://evilupdates.torvel.example/a", "https://cdn.updates.torvel.example/a",
                                "https:///a.zip", "a.zip"})
            QVERIFY2(!service.isAuthorised(QUrl(QString::fromLatin1(url))), url);
        const auto supports = [](const char *minimum) {
            return AppUpdateService::systemSupports(QString::fromLatin1(minimum), u"2.36"_s);
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
                                         << u"information-Torvel Downloader 1.0.0 es la versión más reciente."_s;
        QTest::newRow("failing, automatic") << Response::notFound() << false << QString();
        QTest::newRow("failing, manual") << Response::notFound() << true << u"failure-"_s + invalidServer;
        QTest::newRow("newer, automatic") << json(manifest()) << false << u"available-6"_s;
    }
    void modelCheck() {
        QFETCH(Response, response);
        QFETCH(bool, manual);
        QFETCH(QString, alert);
        QByteArray accept;
        const qsizetype before = m_server.requests().size();
        m_server.route(u"/update.json"_s, [&](const ScriptedHttpServer::Request &request) {
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
