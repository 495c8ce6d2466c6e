#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QStringList>
#include <QTcpServer>
#include <QUrl>

#include <functional>

// An HTTP/1.1 server on 127.0.0.1 whose answers the test writes route by route: any status,
// headers, redirects, a lying Content-Length, a throttled or endless body, or no answer at all.
// Every connection is closed after its answer, unless its body is endless.
class ScriptedHttpServer : public QObject {
    Q_OBJECT

public:
    struct Request {
        QByteArray method;
        QString path;                         // with the query, as sent
        QMap<QByteArray, QByteArray> headers; // names in lower case
    };

    struct Response {
        int status = 200;
        QList<QPair<QByteArray, QByteArray>> headers;
        QByteArray body;
        qint64 declaredLength = -1; // the Content-Length sent; -1 means the body's size
        bool endless = false;       // no Content-Length, and the connection stays open after the body
        int bytesPerTick = 0;       // 0 sends the body at once; otherwise this many bytes every 50 ms
        bool hang = false;          // read the request and never answer

        static Response ok(QByteArray body, QByteArray contentType = "application/octet-stream");
        static Response redirect(const QUrl &location, int status = 302);
        static Response notFound();
        static Response hanging();
        static Response throttled(QByteArray body, int bytesPerTick);
    };

    using Handler = std::function<Response(const Request &)>;

    explicit ScriptedHttpServer(QObject *parent = nullptr);

    // An exact path (without the query). A later route for the same path replaces the earlier.
    void route(const QString &path, Handler handler);
    void route(const QString &path, const Response &response);
    // Paths without a route answer with the file of that name in folder, as it is at the request.
    void serveFolder(const QString &folder) { m_folder = folder; }

    QUrl url(const QString &path = QString()) const; // "http://127.0.0.1:PORT" + path
    QUrl origin() const { return url(); }
    // "GET /path" for every request received, in order.
    QStringList requests() const { return m_requests; }

private:
    void serve(QTcpSocket *socket);
    void answer(QTcpSocket *socket, const Request &request);
    Response fromFolder(const QString &path) const;

    QTcpServer m_server;
    QMap<QString, Handler> m_routes;
    QStringList m_requests;
    QString m_folder;
};
