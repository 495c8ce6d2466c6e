#pragma once

#include <QHttpServer>
#include <QString>
#include <QUrl>

#include <atomic>

// Serves the files of one folder on 127.0.0.1 at a free port.
class LocalHttpServer {
public:
    explicit LocalHttpServer(QString folder);

    QUrl url(const QString &fileName) const;
    int requestCount() const { return m_requests; }

private:
    QHttpServer m_server;
    QString m_folder;
    quint16 m_port = 0;
    int m_requests = 0;
};
