#include "singleinstance.h"

#include "platform/platformpaths.h"

#include <QDeadlineTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QTimer>

#include <unistd.h>

namespace {

const QByteArray acceptedReply = QByteArrayLiteral("ok\n");
const QByteArray refusedReply = QByteArrayLiteral("no\n");

int remainingMilliseconds(const QDeadlineTimer &deadline) {
    return deadline.isForever() ? -1 : static_cast<int>(qMax<qint64>(0, deadline.remainingTime()));
}

void drop(QLocalSocket *socket) {
    socket->abort();
    socket->deleteLater();
}

} // namespace

QString torvelIncomingURL() {
    return QString::fromLatin1(PlatformPaths::bundleIdentifier) + QStringLiteral(".incoming-url");
}

IncomingLinks &IncomingLinks::instance() {
    static IncomingLinks links;
    return links;
}

void IncomingLinks::post(const QUrl &url) {
    Q_EMIT urlReceived(url);
}

QString SingleInstance::defaultServerName() {
    const QString name = torvelIncomingURL() + QLatin1Char('-') + QString::number(::getuid());
    const QString runtimeFolder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return runtimeFolder.isEmpty() ? name : runtimeFolder + QLatin1Char('/') + name;
}

SingleInstance::SingleInstance(QString serverName, QObject *parent)
    : QObject(parent), m_serverName(std::move(serverName)), m_server(new QLocalServer(this)) {
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::acceptConnections);
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::forwardToRunningInstance(const QUrl &url, int timeoutMs) const {
    if (!url.isValid() || url.isEmpty())
        return false;
    return send(url.toEncoded() + '\n', timeoutMs);
}

bool SingleInstance::activateRunningInstance(int timeoutMs) const {
    return send(QByteArrayLiteral("\n"), timeoutMs);
}

bool SingleInstance::send(const QByteArray &request, int timeoutMs) const {
    if (request.size() > maximumRequestSize)
        return false;
    const QDeadlineTimer deadline(timeoutMs);
    QLocalSocket socket;
    socket.connectToServer(m_serverName);
    if (!socket.waitForConnected(remainingMilliseconds(deadline)))
        return false;
    socket.write(request);
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(remainingMilliseconds(deadline)))
            return false;
    }
    while (!socket.canReadLine()) {
        if (socket.bytesAvailable() >= acceptedReply.size() ||
            !socket.waitForReadyRead(remainingMilliseconds(deadline)))
            return false;
    }
    return socket.readLine(acceptedReply.size() + 1) == acceptedReply;
}

bool SingleInstance::listen() {
    if (m_server->isListening())
        return true;
    // No access options: with them QLocalServer binds elsewhere and renames the socket into
    // place, which would silently take the name from a running instance. The socket gets the
    // permissions of the umask and the folder it lies in.
    m_server->setSocketOptions(QLocalServer::NoOptions);
    if (m_server->listen(m_serverName))
        return true;
    if (m_server->serverError() != QAbstractSocket::AddressInUseError)
        return false;

    QLocalSocket probe;
    probe.connectToServer(m_serverName);
    if (probe.waitForConnected(m_clientTimeout)) {
        probe.abort();
        return false;
    }
    // Only a refused connection proves that nobody listens; a busy instance may just be slow.
    if (probe.error() != QLocalSocket::ConnectionRefusedError && probe.error() != QLocalSocket::ServerNotFoundError)
        return false;
    QLocalServer::removeServer(m_serverName);
    return m_server->listen(m_serverName);
}

bool SingleInstance::isListening() const {
    return m_server->isListening();
}

void SingleInstance::acceptConnections() {
    while (QLocalSocket *socket = m_server->nextPendingConnection())
        serve(socket);
}

void SingleInstance::serve(QLocalSocket *socket) {
    // A full buffer without a line feed means the request is too long.
    socket->setReadBufferSize(maximumRequestSize + 1);
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    QTimer::singleShot(m_clientTimeout, socket, [socket] { drop(socket); });

    const auto readRequest = [this, socket] {
        if (!socket->canReadLine()) {
            if (socket->bytesAvailable() > maximumRequestSize)
                drop(socket);
            return;
        }
        disconnect(socket, &QLocalSocket::readyRead, this, nullptr);
        const QByteArray line = socket->readLine(maximumRequestSize + 1).chopped(1);
        if (line.isEmpty()) {
            socket->write(acceptedReply);
            socket->flush();
            socket->disconnectFromServer();
            Q_EMIT activationRequested();
            return;
        }
        const QUrl url = QUrl::fromEncoded(line, QUrl::StrictMode);
        const bool accepted = url.isValid() && !url.scheme().isEmpty();
        socket->write(accepted ? acceptedReply : refusedReply);
        socket->flush();
        socket->disconnectFromServer();
        if (accepted)
            IncomingLinks::instance().post(url);
    };
    connect(socket, &QLocalSocket::readyRead, this, readRequest);
    if (socket->bytesAvailable() > 0)
        readRequest();
}
