#include "scriptedhttpserver.h"

#include <QFile>
#include <QMimeDatabase>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

#include <memory>

ScriptedHttpServer::Response ScriptedHttpServer::Response::ok(QByteArray body, QByteArray contentType) {
    Response response;
    response.body = std::move(body);
    response.headers.append({"Content-Type", std::move(contentType)});
    return response;
}

ScriptedHttpServer::Response ScriptedHttpServer::Response::redirect(const QUrl &location, int status) {
    Response response;
    response.status = status;
    response.headers.append({"Location", location.toEncoded()});
    return response;
}

ScriptedHttpServer::Response ScriptedHttpServer::Response::notFound() {
    Response response;
    response.status = 404;
    response.body = "not found";
    return response;
}

ScriptedHttpServer::Response ScriptedHttpServer::Response::hanging() {
    Response response;
    response.hang = true;
    return response;
}

ScriptedHttpServer::Response ScriptedHttpServer::Response::throttled(QByteArray body, int bytesPerTick) {
    Response response = ok(std::move(body));
    response.bytesPerTick = bytesPerTick;
    return response;
}

ScriptedHttpServer::ScriptedHttpServer(QObject *parent) : QObject(parent) {
    if (!m_server.listen(QHostAddress::LocalHost, 0))
        qFatal("cannot listen on 127.0.0.1");
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection())
            serve(socket);
    });
}

void ScriptedHttpServer::route(const QString &path, Handler handler) {
    m_routes.insert(path, std::move(handler));
}

void ScriptedHttpServer::route(const QString &path, const Response &response) {
    route(path, [response](const Request &) { return response; });
}

QUrl ScriptedHttpServer::url(const QString &path) const {
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path));
}

ScriptedHttpServer::Response ScriptedHttpServer::fromFolder(const QString &path) const {
    QFile file(m_folder + path);
    if (m_folder.isEmpty() || path.contains(QLatin1String("..")) || !file.open(QIODevice::ReadOnly))
        return Response::notFound();
    const QString type = path.endsWith(QLatin1String(".mpd")) ? QStringLiteral("application/dash+xml")
                                                              : QMimeDatabase().mimeTypeForFile(path).name();
    return Response::ok(file.readAll(), type.toLatin1());
}

void ScriptedHttpServer::serve(QTcpSocket *socket) {
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    auto buffer = std::make_shared<QByteArray>();
    connect(socket, &QTcpSocket::readyRead, this, [this, socket, buffer] {
        buffer->append(socket->readAll());
        const qsizetype end = buffer->indexOf("\r\n\r\n");
        if (end < 0)
            return;
        const QList<QByteArray> lines = buffer->left(end).split('\n');
        const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
        Request request;
        request.method = first.value(0);
        request.path = QString::fromUtf8(first.value(1));
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const qsizetype colon = lines.at(i).indexOf(':');
            if (colon > 0)
                request.headers.insert(lines.at(i).left(colon).trimmed().toLower(),
                                       lines.at(i).mid(colon + 1).trimmed());
        }
        disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
        m_requests.append(QString::fromLatin1(request.method) + QLatin1Char(' ') + request.path);
        answer(socket, request);
    });
}

void ScriptedHttpServer::answer(QTcpSocket *socket, const Request &request) {
    const QString path = request.path.section(QLatin1Char('?'), 0, 0);
    const auto route = m_routes.constFind(path);
    const Response response = route == m_routes.cend() ? fromFolder(path) : (*route)(request);
    if (response.hang)
        return; // the socket stays open until the client gives up

    QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + " Status\r\n";
    for (const auto &[name, value] : response.headers)
        head += name + ": " + value + "\r\n";
    const qint64 length = response.declaredLength >= 0 ? response.declaredLength : response.body.size();
    if (!response.endless)
        head += "Content-Length: " + QByteArray::number(length) + "\r\n";
    head += "Connection: close\r\n\r\n";
    socket->write(head);
    if (response.bytesPerTick <= 0 || request.method == "HEAD") {
        if (request.method != "HEAD")
            socket->write(response.body);
        if (!response.endless)
            socket->disconnectFromHost();
        return;
    }
    // A throttled body: a slice every 50 ms until it is all out or the client has gone.
    auto *timer = new QTimer(socket);
    auto sent = std::make_shared<qsizetype>(0);
    const QByteArray body = response.body;
    const int slice = response.bytesPerTick;
    QPointer<QTcpSocket> guarded(socket);
    connect(timer, &QTimer::timeout, socket, [guarded, timer, sent, body, slice] {
        if (!guarded || guarded->state() != QAbstractSocket::ConnectedState)
            return;
        guarded->write(body.mid(*sent, slice));
        *sent += slice;
        if (*sent >= body.size()) {
            timer->stop();
            guarded->disconnectFromHost();
        }
    });
    timer->start(50);
}
