#pragma once

#include <QString>

// "1 video", "3 videos": a count followed by the word that agrees with it.
inline QString countedText(qint64 count, const QString &singular, const QString &plural) {
    return QString::number(count) + QLatin1Char(' ') + (count == 1 ? singular : plural);
}
