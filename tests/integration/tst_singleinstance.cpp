#include "platform/singleinstance.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QFuture>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>
#include <QtConcurrent>

// The test binary doubles as another instance: started with TORVEL_LISTEN it serves under
// TORVEL_SERVER until it is killed.
namespace {

const QByteArray incomingLink = "tdl://analyze?url=https%3A%2F%2Fejemplo.test%2Fv%C3%ADdeo%3Fa%3D1%26b%3D2";

// Another instance asks from a worker thread while this one keeps serving; with a link it
// forwards the link, without one it asks for the window.
bool ask(const QString &server, bool withLink = true) {
    QFuture<bool> asked = QtConcurrent::run([server, withLink] {
        const SingleInstance other(server);
        return withLink ? other.forwardToRunningInstance(QUrl::fromEncoded(incomingLink), 5000)
                        : other.activateRunningInstance(5000);
    });
    while (!asked.isFinished())
        QTest::qWait(10);
    return asked.result();
}

} // namespace

class TestSingleInstance : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString server(const char *name) const { return m_dir.filePath(QString::fromLatin1(name)); }

private Q_SLOTS:
    // A second process forwarding its link is the application test's part; here another instance
    // in this process does it.
    void linksAndActivationsReachTheInstanceThatHoldsTheName() {
        SingleInstance running(server("live"));
        QVERIFY(running.listen());
        QSignalSpy received(&IncomingLinks::instance(), &IncomingLinks::urlReceived);
        QSignalSpy activations(&running, &SingleInstance::activationRequested);
        // The name stays with the instance that answers on it.
        QVERIFY(!SingleInstance(running.serverName()).listen());
        QVERIFY(ask(running.serverName()));
        QCOMPARE(received.count(), 1);
        QCOMPARE(received.first().first().toUrl().toEncoded(), incomingLink);
        const qsizetype activated = activations.count();
        QVERIFY(ask(running.serverName(), false));
        QCOMPARE(activations.count(), activated + 1);
        QCOMPARE(received.count(), 1);
    }

    void withoutARunningInstanceForwardingFailsAtOnce() {
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!SingleInstance(server("nobody")).forwardToRunningInstance(QUrl::fromEncoded(incomingLink), 10000));
        QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
    }

    void aSocketLeftByAKilledInstanceIsReplaced() {
        const QString name = server("stale");
        QProcess crashed;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("TORVEL_SERVER"), name);
        environment.insert(QStringLiteral("TORVEL_LISTEN"), QStringLiteral("1"));
        crashed.setProcessEnvironment(environment);
        crashed.start(QCoreApplication::applicationFilePath());
        QByteArray output;
        QTRY_VERIFY_WITH_TIMEOUT((output += crashed.readAllStandardOutput()).contains("listening"), 10000);
        crashed.kill();
        QVERIFY(crashed.waitForFinished(10000));
        QVERIFY(QFileInfo::exists(name));
        QVERIFY(!SingleInstance(name).forwardToRunningInstance(QUrl::fromEncoded(incomingLink), 2000));

        SingleInstance running(name);
        QVERIFY(running.listen());
        QSignalSpy received(&IncomingLinks::instance(), &IncomingLinks::urlReceived);
        QVERIFY(ask(name));
        QCOMPARE(received.count(), 1);
    }

    void badClientsAreDroppedAndOthersStillServed() {
        SingleInstance running(server("guarded"));
        running.setClientTimeout(2000);
        QVERIFY(running.listen());
        QSignalSpy received(&IncomingLinks::instance(), &IncomingLinks::urlReceived);
        QLocalSocket silent, flood, nonsense;
        for (QLocalSocket *client : {&silent, &flood, &nonsense}) {
            client->connectToServer(running.serverName());
            QVERIFY(client->waitForConnected(2000));
        }
        flood.write(QByteArray(SingleInstance::maximumRequestSize * 3, 'x'));
        QTRY_COMPARE_WITH_TIMEOUT(flood.state(), QLocalSocket::UnconnectedState, 1000);
        nonsense.write("esto no es un enlace\n");
        QTRY_VERIFY(nonsense.canReadLine());
        QCOMPARE(nonsense.readLine(), QByteArray("no\n"));

        // The silent client is still connected, yet a good one is served meanwhile.
        QVERIFY(ask(running.serverName()));
        QCOMPARE(silent.state(), QLocalSocket::ConnectedState);
        QTRY_COMPARE_WITH_TIMEOUT(silent.state(), QLocalSocket::UnconnectedState, 5000);
        QCOMPARE(received.count(), 1);
        QCOMPARE(received.first().first().toUrl().toEncoded(), incomingLink);
    }
};

int main(int argc, char *argv[]) {
    QCoreApplication application(argc, argv);
    const QString server = qEnvironmentVariable("TORVEL_SERVER");
    if (qEnvironmentVariableIsSet("TORVEL_LISTEN")) {
        SingleInstance instance(server);
        if (!instance.listen())
            return 1;
        QTextStream(stdout) << "listening" << Qt::endl;
        return QCoreApplication::exec();
    }
    TestSingleInstance test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_singleinstance.moc"
