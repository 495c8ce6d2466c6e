#include "singleinstance.h"

#include "platform/platformpaths.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QByteArray acceptedReply = QByteArrayLiteral("ok\n");
const QByteArray refusedReply = QByteArrayLiteral("no\n");

int remainingMilliseconds(const QDeadlineTimer &deadline) {
    return deadline.isForever() ? -1 : static_cast<int>(qMax<qint64>(0, deadline.remainingTime()));
}

// Whether path is a folder (not a link to one) of this user that nobody else may enter.
bool isPrivateFolder(const QString &path) {
    struct stat status {};
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 && S_ISDIR(status.st_mode) &&
           status.st_uid == ::geteuid() && (status.st_mode & 077) == 0;
}

// Whether the process at the other end of a connected local socket runs as this user.
bool peerIsThisUser(const QLocalSocket &socket) {
    struct ucred credentials {};
    socklen_t size = sizeof credentials;
    return ::getsockopt(static_cast<int>(socket.socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &credentials, &size) ==
               0 &&
           size == sizeof credentials && credentials.uid == ::geteuid();
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

std::optional<QString> SingleInstance::privateFolder(QString *problem) {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir::isAbsolutePath(runtime) && isPrivateFolder(runtime))
        return runtime;
    const QString own = QDir::tempPath() + QStringLiteral("/torvel-downloader-") + QString::number(::geteuid());
    // An existing folder is taken only as it is: never changed, whoever made it.
    ::mkdir(QFile::encodeName(own).constData(), 0700);
    if (isPrivateFolder(own))
        return own;
    if (problem)
        *problem = QStringLiteral("No hay una carpeta privada para comunicarse con otras ventanas del programa: ") +
                   own +
                   QStringLiteral(" no es una carpeta de este usuario cerrada a los demás, y XDG_RUNTIME_DIR "
                                  "no indica ninguna.");
    return std::nullopt;
}

QString SingleInstance::defaultServerName() {
    const std::optional<QString> folder = privateFolder();
    return folder ? *folder + QLatin1Char('/') + torvelIncomingURL() + QLatin1Char('-') + QString::number(::geteuid())
                  : QString();
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
    if (m_serverName.isEmpty() || !socket.waitForConnected(remainingMilliseconds(deadline)) || !peerIsThisUser(socket))
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
    if (m_serverName.isEmpty())
        return false;
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
    if (!peerIsThisUser(*socket)) {
        drop(socket);
        return;
    }
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
