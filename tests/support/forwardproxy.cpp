#include "forwardproxy.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QUrl>

#include <memory>

namespace {

void refuse(QTcpSocket *client, const QByteArray &status, const QByteArray &extraHeader = {}) {
    client->write("HTTP/1.1 " + status + "\r\n" + extraHeader + "Content-Length: 0\r\nConnection: close\r\n\r\n");
    client->disconnectFromHost();
}

} // namespace

ForwardProxy::ForwardProxy(QByteArray credentials, QObject *parent)
    : QObject(parent), m_credentials(std::move(credentials)) {
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *client = m_server.nextPendingConnection())
            serve(client);
    });
    m_server.listen(QHostAddress::LocalHost);
}

QString ForwardProxy::address() const {
    const QString user = m_credentials.isEmpty() ? QString() : QString::fromUtf8(m_credentials) + QLatin1Char('@');
    return QStringLiteral("http://") + user + QStringLiteral("127.0.0.1:") + QString::number(m_server.serverPort());
}

void ForwardProxy::serve(QTcpSocket *client) {
    connect(client, &QTcpSocket::disconnected, client, &QObject::deleteLater);
    auto buffer = std::make_shared<QByteArray>();
    connect(client, &QTcpSocket::readyRead, this, [this, client, buffer] {
        buffer->append(client->readAll());
        const qsizetype end = buffer->indexOf("\r\n\r\n");
        if (end < 0)
            return;
        disconnect(client, &QTcpSocket::readyRead, this, nullptr);
        const QList<QByteArray> lines = buffer->left(end).split('\n');
        const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
        const QUrl target(QString::fromUtf8(first.value(1)));
        if (target.scheme() != QLatin1String("http") || target.host() != QLatin1String("127.0.0.1"))
            return refuse(client, "403 Forbidden");
        QByteArray headers;
        QByteArray authorization;
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines.at(i).trimmed();
            const QByteArray name = line.left(line.indexOf(':')).trimmed().toLower();
            if (name == "proxy-authorization")
                authorization = line.mid(line.indexOf(':') + 1).trimmed();
            else if (!name.isEmpty() && name != "connection" && !name.startsWith("proxy-"))
                headers += line + "\r\n";
        }
        if (!m_credentials.isEmpty() && authorization != "Basic " + m_credentials.toBase64()) {
            ++m_refusals;
            return refuse(client, "407 Proxy Authentication Required",
                          "Proxy-Authenticate: Basic realm=\"prueba\"\r\n");
        }
        m_requests.append(QString::fromLatin1(first.value(0)) + QLatin1Char(' ') + target.toString());

        // Passed on in origin form, one request per connection, and the answer relayed as it comes.
        auto *upstream = new QTcpSocket(client);
        const QByteArray request = first.value(0) + ' ' + target.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority) +
                                   " HTTP/1.1\r\n" + headers + "Connection: close\r\n\r\n" + buffer->mid(end + 4);
        connect(upstream, &QTcpSocket::connected, upstream, [upstream, request] { upstream->write(request); });
        connect(upstream, &QTcpSocket::readyRead, client, [upstream, client] { client->write(upstream->readAll()); });
        connect(client, &QTcpSocket::readyRead, upstream, [upstream, client] { upstream->write(client->readAll()); });
        connect(upstream, &QTcpSocket::disconnected, client, [upstream, client] {
            client->write(upstream->readAll());
            client->disconnectFromHost();
        });
        connect(upstream, &QTcpSocket::errorOccurred, client, [client](QAbstractSocket::SocketError error) {
            if (error != QAbstractSocket::RemoteHostClosedError)
                client->disconnectFromHost();
        });
        upstream->connectToHost(QHostAddress::LocalHost, quint16(target.port(80)));
    });
}
