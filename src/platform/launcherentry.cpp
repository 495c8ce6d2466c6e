#include "launcherentry.h"

#include <QDBusMessage>

#include <algorithm>
#include <cmath>

LauncherEntry::LauncherEntry(const QString &desktopFileId, QDBusConnection bus)
    : m_applicationURI(QStringLiteral("application://") + desktopFileId), m_bus(std::move(bus)) {}

void LauncherEntry::setProgress(std::optional<double> fraction) {
    std::optional<int> thousandths;
    if (fraction)
        thousandths = int(std::lround(std::clamp(*fraction, 0.0, 1.0) * 1000));
    // Hiding what was never shown tells nobody anything.
    if (thousandths == m_shownThousandths || !m_bus.isConnected())
        return;
    m_shownThousandths = thousandths;
    QDBusMessage update =
        QDBusMessage::createSignal(QStringLiteral("/com/canonical/unity/launcherentry/torvel_downloader"),
                                   QStringLiteral("com.canonical.Unity.LauncherEntry"), QStringLiteral("Update"));
    const QVariantMap properties{{QStringLiteral("progress"), thousandths.value_or(0) / 1000.0},
                                 {QStringLiteral("progress-visible"), thousandths.has_value()}};
    update << m_applicationURI << properties;
    m_bus.send(update);
}
