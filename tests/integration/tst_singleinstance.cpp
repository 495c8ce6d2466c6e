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

using namespace Qt::StringLiterals;

// The test binary doubles as another instance: started with TORVEL_LISTEN it serves under
// TORVEL_SERVER until it is killed.
namespace {

const QByteArray incomingLink = "tdl://analyze?url=https%3A%2F%2Fejemplo.test%2Fv%C3%ADdeo%3Fa%3D1%26b%3D2";

QFuture<bool> forwardInBackground(const QString &server, const QUrl &url) {
    return QtConcurrent::run([server, url] { return SingleInstance(server).forwardToRunningInstance(url, 5000); });
}

QProcessEnvironment childEnvironment(const QString &server) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"TORVEL_SERVER"_s, server);
    return environment;
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
    void aLinkReachesTheInstanceThatHoldsTheName() {
        SingleInstance running(server("live"));
        QVERIFY(running.listen());
        QSignalSpy received(&IncomingLinks::instance(), &IncomingLinks::urlReceived);
        // The name stays with the instance that answers on it.
        SingleInstance later(running.serverName());
        QVERIFY(!later.listen());
        QFuture<bool> forwarded = forwardInBackground(running.serverName(), QUrl::fromEncoded(incomingLink));
        QTRY_VERIFY(forwarded.isFinished());
        QVERIFY(forwarded.result());
        QCOMPARE(received.count(), 1);
        QCOMPARE(received.first().first().toUrl().toEncoded(), incomingLink);
    }

    void aStartWithoutALinkOnlyAsksForTheWindow() {
        SingleInstance running(server("activate"));
        QVERIFY(running.listen());
        QSignalSpy activations(&running, &SingleInstance::activationRequested);
        QSignalSpy received(&IncomingLinks::instance(), &IncomingLinks::urlReceived);
        const QString name = running.serverName();
        QFuture<bool> asked = QtConcurrent::run([name] { return SingleInstance(name).activateRunningInstance(5000); });
        QTRY_VERIFY(asked.isFinished());
        QVERIFY(asked.result());
        QCOMPARE(activations.count(), 1);
        QCOMPARE(received.count(), 0);
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
        QProcessEnvironment environment = childEnvironment(name);
        environment.insert(u"TORVEL_LISTEN"_s, u"1"_s);
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
        QFuture<bool> forwarded = forwardInBackground(name, QUrl::fromEncoded(incomingLink));
        QTRY_VERIFY(forwarded.isFinished());
        QVERIFY(forwarded.result());
        QCOMPARE(received.count(), 1);
    }

    void badClientsAreDroppedAndOthersStillServed() {
        SingleInstance running(server("guarded"));
        running.setClientTimeout(2000);
        QVERIFY(running.listen());
        QSignalSpy received(&IncomingLinks::instance(), &IncomingLinks::urlReceived);

        QLocalSocket silent;
        silent.connectToServer(running.serverName());
        QVERIFY(silent.waitForConnected(2000));

        QLocalSocket flood;
        flood.connectToServer(running.serverName());
        QVERIFY(flood.waitForConnected(2000));
        flood.write(QByteArray(SingleInstance::maximumRequestSize * 3, 'x'));
        QTRY_COMPARE_WITH_TIMEOUT(flood.state(), QLocalSocket::UnconnectedState, 1000);

        QLocalSocket nonsense;
        nonsense.connectToServer(running.serverName());
        QVERIFY(nonsense.waitForConnected(2000));
        nonsense.write("esto no es un enlace\n");
        QTRY_VERIFY(nonsense.canReadLine());
        QCOMPARE(nonsense.readLine(), QByteArray("no\n"));

        // The silent client is still connected, yet a good one is served meanwhile.
        QFuture<bool> forwarded = forwardInBackground(running.serverName(), QUrl::fromEncoded(incomingLink));
        QTRY_VERIFY(forwarded.isFinished());
        QVERIFY(forwarded.result());
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
