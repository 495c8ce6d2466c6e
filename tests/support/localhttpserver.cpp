#include "localhttpserver.h"

#include <QFile>
#include <QFileInfo>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QMimeDatabase>

LocalHttpServer::LocalHttpServer(QString folder) : m_folder(std::move(folder)) {
    m_server.setMissingHandler([this](const QHttpServerRequest &request, QHttpServerResponder &&responder) {
        ++m_requests;
        const QString name = request.url().path().mid(1);
        auto *file = new QFile(m_folder + QLatin1Char('/') + name);
        if (name.contains(QLatin1String("..")) || !QFileInfo(file->fileName()).isFile() ||
            !file->open(QIODevice::ReadOnly)) {
            delete file;
            responder.write(QHttpServerResponder::StatusCode::NotFound);
            return;
        }
        const QByteArray mime = name.endsWith(QLatin1String(".mpd"))
                                    ? QByteArray("application/dash+xml")
                                    : QMimeDatabase().mimeTypeForFile(file->fileName()).name().toLatin1();
        responder.write(file, mime); // the responder owns and closes the file
    });
    m_port = m_server.listen(QHostAddress::LocalHost, 0);
    if (m_port == 0)
        qFatal("cannot listen on 127.0.0.1");
}

QUrl LocalHttpServer::url(const QString &fileName) const {
    return QUrl(QStringLiteral("http://127.0.0.1:%1/%2").arg(m_port).arg(fileName));
}
