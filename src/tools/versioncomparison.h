#pragma once

#include <QList>
#include <QString>

// Versions compare by their numeric parts only: every character but an ASCII digit separates,
// missing trailing parts count as zero ("7.1" equals "7.1.0", "7.1_1" is newer than "7.1"). Parts
// compare as whole numbers of any length.
namespace VersionComparison {

// The runs of ASCII digits, leading zeros removed ("0" for a run of zeros).
QStringList numericParts(const QString &version);
bool isNewer(const QString &candidate, const QString &than);
// True when `version` is `minimum` or newer. A version without digits ("detectado") is taken as
// new enough, since nothing about it is known; one whose only digits are not ASCII is not.
bool isAtLeast(const QString &version, const QString &minimum);
// Whether a published version or release tag looks like one: at most 100 characters, ASCII
// letters, digits and ". _ + -" only, beginning with a letter or digit and holding a digit
// ("2025.10.22", "v2.5.0", "8.0_1"). Catalogs are read from the network; nothing else is shown
// or put into an address.
bool isPlainVersion(const QString &text);

} // namespace VersionComparison
