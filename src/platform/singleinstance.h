#pragma once

#include <QObject>
#include <QString>
#include <QUrl>

#include <optional>

class QLocalServer;
class QLocalSocket;

// The bundle identifier followed by ".incoming-url": names the incoming-link notification and,
// with the user id, the server through which a second start hands its link to the first.
QString torvelIncomingURL();

// The incoming-link notification: links opened from other applications (the tdl: scheme) are
// posted here, whichever road they came by; the application model subscribes.
class IncomingLinks : public QObject {
    Q_OBJECT

public:
    static IncomingLinks &instance();

    // Emits urlReceived on the calling thread; a subscriber that wants to act only after the
    // current event connects with Qt::QueuedConnection.
    void post(const QUrl &url);

Q_SIGNALS:
    void urlReceived(const QUrl &url);

private:
    IncomingLinks() = default;
};

// One running instance per user. A later start calls forwardToRunningInstance and exits when it
// succeeds; otherwise it calls listen and becomes the instance that receives the links.
//
// Both ends check that the other end runs as the same user (SO_PEERCRED): a client never
// writes to a server of another user, and a server drops a client of another user unread.
//
// The exchange: the client sends the URL in its encoded form and a line feed (at most
// maximumRequestSize bytes); the server answers "ok\n" and posts the URL on IncomingLinks, or
// answers "no\n" to something that is not an absolute URL. An empty line asks for the window.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    static constexpr qint64 maximumRequestSize = 64 * 1024;

    // The folder that holds the server, one only this user may enter: XDG_RUNTIME_DIR when it is
    // a real folder of this user closed to everybody else, else "torvel-downloader-" + the user id
    // in the temporary folder, created with mode 0700 and checked the same way (owner, mode, not
    // a link). Never the shared temporary folder itself. Absent when neither qualifies; problem
    // then says why, in Spanish.
    static std::optional<QString> privateFolder(QString *problem = nullptr);
    // torvelIncomingURL() + "-" + the user id in privateFolder(); empty when there is none, and
    // then nothing is sent or served.
    static QString defaultServerName();

    explicit SingleInstance(QString serverName = defaultServerName(), QObject *parent = nullptr);
    ~SingleInstance() override;

    QString serverName() const { return m_serverName; }

    // Blocks for at most timeoutMs (-1: no limit), so it can run before the event loop starts. True once the
    // running instance has acknowledged the URL; false when no instance listens, it does not
    // answer in time or it refuses the URL.
    bool forwardToRunningInstance(const QUrl &url, int timeoutMs = 3000) const;
    // Asks the running instance to bring its window forward (a start without a link). True
    // once it has acknowledged.
    bool activateRunningInstance(int timeoutMs = 3000) const;

    // Starts serving under serverName. False when another instance answers under that name. A
    // socket file that nobody answers on (left by an instance that crashed) is replaced.
    bool listen();
    bool isListening() const;

    // How long a client may take to send its request before it is dropped (default 5 s).
    void setClientTimeout(int milliseconds) { m_clientTimeout = milliseconds; }

Q_SIGNALS:
    // A later start without a link asked for the window.
    void activationRequested();

private:
    bool send(const QByteArray &request, int timeoutMs) const;
    void acceptConnections();
    void serve(QLocalSocket *socket);

    QString m_serverName;
    QLocalServer *m_server;
    int m_clientTimeout = 5000;
};
