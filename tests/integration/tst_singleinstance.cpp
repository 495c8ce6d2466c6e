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

#include <cstring>
#include <optional>
#include <string_view>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

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

// The user id that stands for another user of this machine.
constexpr uid_t otherUser = 65534;

// A child process running as otherUser, with a pipe it reports on. role: 's' listens on path and
// reports what a client sent; 'c' connects to path, sends a link and reports the answer.
struct OtherUser {
    pid_t pid = -1;
    int report = -1;

    OtherUser(char role, const QByteArray &path) {
        const QByteArray link = incomingLink + '\n'; // nothing is allocated after the fork
        int pipe[2];
        if (::pipe(pipe) != 0)
            return;
        pid = ::fork();
        if (pid != 0) {
            ::close(pipe[1]);
            report = pipe[0];
            return;
        }
        ::close(pipe[0]);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        if (::setgid(otherUser) != 0 || ::setuid(otherUser) != 0 || fd < 0)
            ::_exit(1);
        char buffer[512];
        ssize_t got = 0;
        if (role == 's') {
            if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
                ::chmod(path.constData(), 0777) != 0 || ::listen(fd, 4) != 0)
                ::_exit(1);
            (void)!::write(pipe[1], "R", 1); // ready
            const int client = ::accept(fd, nullptr, nullptr);
            (void)!::write(client, "ok\n", 3);
            pollfd wait{client, POLLIN, 0};
            if (::poll(&wait, 1, 1500) > 0)
                got = ::read(client, buffer, sizeof buffer);
        } else {
            if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
                ::write(fd, link.constData(), size_t(link.size())) != link.size())
                ::_exit(1);
            pollfd wait{fd, POLLIN, 0};
            if (::poll(&wait, 1, 3000) > 0)
                got = ::read(fd, buffer, sizeof buffer);
        }
        (void)!::write(pipe[1], buffer, size_t(qMax<ssize_t>(got, 0)));
        ::_exit(0);
    }
    // What the child reported, once it has ended.
    QByteArray finish() {
        QByteArray all;
        char buffer[512];
        for (ssize_t got; (got = ::read(report, buffer, sizeof buffer)) > 0;)
            all.append(buffer, got);
        ::close(report);
        int status = 0;
        ::waitpid(pid, &status, 0);
        return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? all : QByteArray("failed");
    }
};

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

    // The folder for the server: the runtime folder only when it is private, else the program's
    // own folder in the temporary folder, created private; never anything another user holds.
    void theServerLivesOnlyInAPrivateFolder() {
        // The runtime folder ("": unset; "open": mode 0777; "private": mode 0700), the program's
        // folder ("": absent; "foreign": another user's; "link"), and the one used ("runtime", "own"
        // or "": none).
        const auto check = [](std::string_view runtime, std::string_view own, std::string_view expected) {
            const QTemporaryDir root;
            const QString temporary = root.filePath(QStringLiteral("tmp")), xdg = root.filePath(QStringLiteral("run"));
            const QString ownFolder = temporary + QStringLiteral("/torvel-downloader-") + QString::number(::geteuid());
            QVERIFY(QDir().mkpath(temporary) && QDir().mkpath(xdg) && ::chmod(qPrintable(temporary), 01777) == 0);
            QVERIFY(::chmod(qPrintable(xdg), runtime == "open" ? 0777 : 0700) == 0);
            if (own == "foreign")
                QVERIFY(QDir().mkdir(ownFolder) && ::chmod(qPrintable(ownFolder), 0700) == 0 &&
                        ::chown(qPrintable(ownFolder), otherUser, otherUser) == 0);
            if (own == "link")
                QVERIFY(QDir().mkdir(root.filePath(QStringLiteral("elsewhere")),
                                     QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner) &&
                        QFile::link(root.filePath(QStringLiteral("elsewhere")), ownFolder));
            const QByteArray savedTemporary = qgetenv("TMPDIR"), savedRuntime = qgetenv("XDG_RUNTIME_DIR");
            qputenv("TMPDIR", temporary.toLocal8Bit());
            runtime.empty() ? qunsetenv("XDG_RUNTIME_DIR") : qputenv("XDG_RUNTIME_DIR", xdg.toLocal8Bit());
            QString problem;
            const std::optional<QString> folder = SingleInstance::privateFolder(&problem);
            const QString name = SingleInstance::defaultServerName();
            qputenv("TMPDIR", savedTemporary);
            qputenv("XDG_RUNTIME_DIR", savedRuntime);

            const QString wanted = expected == "runtime" ? xdg : expected == "own" ? ownFolder : QString();
            QCOMPARE(folder.value_or(QString()), wanted);
            if (!folder) {
                QVERIFY2(problem.contains(ownFolder), qPrintable(problem));
                QCOMPARE(name, QString());
                QVERIFY(!SingleInstance(name).listen());
                return;
            }
            QCOMPARE(name,
                     wanted + QLatin1Char('/') + torvelIncomingURL() + QLatin1Char('-') + QString::number(::geteuid()));
            QCOMPARE(QFileInfo(wanted).permissions() & 0x0077, QFileDevice::Permissions());
        };
        check("private", "foreign", "runtime"); // private runtime folder
        check("", "", "own");                   // none, own folder made
        check("open", "", "own");               // open runtime folder
        check("", "foreign", "");               // own folder of another user
        check("open", "link", "");              // own folder is a link
    }

    // Where another user can reach the name (a shared folder), neither end talks to it.
    void anotherUserNeitherReceivesNorSends() {
        const QTemporaryDir shared;
        QVERIFY(::chmod(qPrintable(shared.path()), 01777) == 0);
        const QString foreignName = shared.filePath(QStringLiteral("foreign"));
        OtherUser listener('s', QFile::encodeName(foreignName));
        char ready = 0;
        QVERIFY(::read(listener.report, &ready, 1) == 1 && ready == 'R');
        QVERIFY(!SingleInstance(foreignName).forwardToRunningInstance(QUrl::fromEncoded(incomingLink), 3000));
        QCOMPARE(listener.finish(), QByteArray());

        SingleInstance running(shared.filePath(QStringLiteral("ours")));
        QVERIFY(running.listen());
        QVERIFY(::chmod(qPrintable(running.serverName()), 0777) == 0);
        QSignalSpy received(&IncomingLinks::instance(), &IncomingLinks::urlReceived);
        OtherUser client('c', QFile::encodeName(running.serverName()));
        QFuture<QByteArray> finished = QtConcurrent::run([&client] { return client.finish(); });
        while (!finished.isFinished())
            QTest::qWait(10);
        QCOMPARE(finished.result(), QByteArray());
        QCOMPARE(received.count(), 0);
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
