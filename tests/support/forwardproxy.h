#pragma once

#include <QByteArray>
#include <QObject>
#include <QStringList>
#include <QTcpServer>

// A forward HTTP proxy on 127.0.0.1 that passes requests on to servers on 127.0.0.1 only (any
// other target gets 403) and remembers every request it passed on. With credentials
// ("user:password") it asks for them first, as a proxy that needs a sign-in does (407).
class ForwardProxy : public QObject {
    Q_OBJECT

public:
    explicit ForwardProxy(QByteArray credentials = {}, QObject *parent = nullptr);

    // "http://127.0.0.1:PORT", with the credentials when given.
    QString address() const;
    // "GET http://127.0.0.1:PORT/path" for every request passed on, in order.
    QStringList requests() const { return m_requests; }
    // How many requests were refused for missing or wrong credentials.
    int refusals() const { return m_refusals; }

private:
    void serve(QTcpSocket *client);

    QTcpServer m_server;
    QByteArray m_credentials;
    QStringList m_requests;
    int m_refusals = 0;
};
