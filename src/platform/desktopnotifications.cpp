#include "desktopnotifications.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QPointer>

namespace {

const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString path = QStringLiteral("/org/freedesktop/Notifications");
const QString interface = QStringLiteral("org.freedesktop.Notifications");

// Services that never report a notification closed would otherwise keep its actions forever.
constexpr qsizetype rememberedNotifications = 32;

} // namespace

DesktopNotifications::DesktopNotifications(QString desktopEntry, QDBusConnection bus, QObject *parent)
    : QObject(parent), m_desktopEntry(std::move(desktopEntry)), m_bus(std::move(bus)) {
    if (!m_bus.isConnected())
        return;
    m_bus.connect(service, path, interface, QStringLiteral("ActionInvoked"), this,
                  SLOT(onActionInvoked(uint, QString)));
    m_bus.connect(service, path, interface, QStringLiteral("NotificationClosed"), this,
                  SLOT(onNotificationClosed(uint, uint)));
}

void DesktopNotifications::show(const QString &summary, const QString &body, const QList<Action> &actions) {
    if (!m_bus.isConnected())
        return;
    QStringList keysAndLabels;
    for (const Action &action : actions)
        keysAndLabels << action.key << action.label;
    const QVariantMap hints{{QStringLiteral("desktop-entry"), m_desktopEntry}};
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("Notify"));
    call << QStringLiteral("Torvel Downloader") << uint(0) << m_desktopEntry << summary << body << keysAndLabels
         << hints << qint32(-1);
    // Without a service the call fails at once; that is the quiet end of it.
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, actions](QDBusPendingCallWatcher *finished) {
        finished->deleteLater();
        const QDBusPendingReply<uint> reply = *finished;
        if (reply.isError() || actions.isEmpty())
            return;
        const uint id = reply.value();
        if (!m_actions.contains(id))
            m_shownOrder.append(id);
        m_actions.insert(id, actions);
        while (m_shownOrder.size() > rememberedNotifications)
            m_actions.remove(m_shownOrder.takeFirst());
    });
}

void DesktopNotifications::onActionInvoked(uint id, const QString &key) {
    const QList<Action> actions = m_actions.value(id);
    for (const Action &action : actions) {
        if (action.key == key && action.run) {
            action.run();
            return;
        }
    }
}

void DesktopNotifications::onNotificationClosed(uint id, uint /*reason*/) {
    // Some services report the closing before the action that closed it: the actions stay
    // until the next event-loop turn.
    QMetaObject::invokeMethod(
        this,
        [this, id] {
            m_actions.remove(id);
            m_shownOrder.removeOne(id);
        },
        Qt::QueuedConnection);
}
