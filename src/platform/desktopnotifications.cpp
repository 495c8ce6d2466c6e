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
    // The body carries outside text (file names, a server's reason phrase): a service that reads
    // it as markup gets it escaped, so it shows as written and can never become a link.
    const QDBusMessage query =
        QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("GetCapabilities"));
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(query), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, summary, body, actions](QDBusPendingCallWatcher *finished) {
                finished->deleteLater();
                const QDBusPendingReply<QStringList> capabilities = *finished;
                // Without an answer there is no service to show anything.
                if (capabilities.isError())
                    return;
                notify(summary, capabilities.value().contains(QLatin1String("body-markup")) ? escapeMarkup(body) : body,
                       actions);
            });
}

QString DesktopNotifications::escapeMarkup(const QString &text) {
    QString escaped = text;
    escaped.replace(QLatin1Char('&'), QLatin1String("&amp;"));
    escaped.replace(QLatin1Char('<'), QLatin1String("&lt;"));
    escaped.replace(QLatin1Char('>'), QLatin1String("&gt;"));
    return escaped;
}

void DesktopNotifications::notify(const QString &summary, const QString &body, const QList<Action> &actions) {
    QStringList keysAndLabels;
    for (const Action &action : actions)
        keysAndLabels << action.key << action.label;
    const QVariantMap hints{{QStringLiteral("desktop-entry"), m_desktopEntry}};
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("Notify"));
    call << QStringLiteral("Torvel Downloader") << uint(0) << m_desktopEntry << summary << body << keysAndLabels
         << hints << qint32(-1);
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
