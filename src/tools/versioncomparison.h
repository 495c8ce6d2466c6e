#pragma once

#include <QList>
#include <QString>

// Versions compare by their numeric parts only: every non-digit separates, missing trailing
// parts count as zero ("7.1" equals "7.1.0", "7.1_1" is newer than "7.1").
namespace VersionComparison {

QList<qint64> numericParts(const QString &version);
bool isNewer(const QString &candidate, const QString &than);
// True when `version` is `minimum` or newer. A version without digits ("detectado") is taken as
// new enough, since nothing about it is known.
bool isAtLeast(const QString &version, const QString &minimum);

} // namespace VersionComparison
