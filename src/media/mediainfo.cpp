#include "mediainfo.h"

#include <QLocale>

#include <cmath>

QString torvelDuration(double seconds) {
    // Beyond about 292 billion years the count no longer fits; such a value is meaningless.
    if (!std::isfinite(seconds) || seconds < 0 || seconds >= 9.0e18)
        return QStringLiteral("—");
    const auto total = static_cast<qint64>(std::round(seconds)); // halves away from zero
    const qint64 hours = total / 3600;
    const qint64 minutes = (total % 3600) / 60;
    const qint64 rest = total % 60;
    if (total < 3600)
        return QStringLiteral("%1:%2").arg(minutes).arg(rest, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2:%3").arg(hours).arg(minutes, 2, 10, QLatin1Char('0')).arg(rest, 2, 10, QLatin1Char('0'));
}

QString formattedByteCount(qint64 bytes) { return QLocale().formattedDataSize(bytes, 1, QLocale::DataSizeSIFormat); }
