#pragma once

#include <QDBusConnection>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>

// Desktop notifications through the freedesktop.org notification service
// (org.freedesktop.Notifications) on a D-Bus connection. A notification is a courtesy: without
// the service, or when it refuses, nothing is shown and nothing is reported.
class DesktopNotifications : public QObject {
    Q_OBJECT

public:
    // A button of the notification. The key "default" is the notification itself: clicking it.
    struct Action {
        QString key;
        QString label;
        std::function<void()> run;
    };

    // desktopEntry: the desktop file's id without ".desktop", which names the application and
    // its icon to the service.
    explicit DesktopNotifications(QString desktopEntry, QDBusConnection bus = QDBusConnection::sessionBus(),
                                  QObject *parent = nullptr);

    // Returns at once; the service answers later. The body is plain text: it is escaped for a
    // service that announces "body-markup" (asked each time, before the notification).
    void show(const QString &summary, const QString &body, const QList<Action> &actions);

    // "&", "<" and ">" as the markup's entities.
    static QString escapeMarkup(const QString &text);

private Q_SLOTS:
    void onActionInvoked(uint id, const QString &key);
    void onNotificationClosed(uint id, uint reason);

private:
    void notify(const QString &summary, const QString &body, const QList<Action> &actions);

    QString m_desktopEntry;
    QDBusConnection m_bus;
    // The actions of the notifications still on screen, by the service's id.
    QHash<uint, QList<Action>> m_actions;
    QList<uint> m_shownOrder;
};
