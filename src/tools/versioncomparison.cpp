#include "versioncomparison.h"

#include <algorithm>

namespace VersionComparison {

namespace {

bool isAsciiDigit(QChar c) {
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// Two runs of digits without leading zeros: the longer is the larger, equal lengths compare
// character by character.
int compareParts(const QString &a, const QString &b) {
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    return a.compare(b);
}

} // namespace

QStringList numericParts(const QString &version) {
    QStringList parts;
    qsizetype i = 0;
    while (i < version.size()) {
        if (!isAsciiDigit(version.at(i))) {
            ++i;
            continue;
        }
        while (i + 1 < version.size() && version.at(i) == QLatin1Char('0') && isAsciiDigit(version.at(i + 1)))
            ++i;
        const qsizetype start = i;
        while (i < version.size() && isAsciiDigit(version.at(i)))
            ++i;
        parts.append(version.mid(start, i - start));
    }
    return parts;
}

bool isNewer(const QString &candidate, const QString &than) {
    const QStringList a = numericParts(candidate);
    const QStringList b = numericParts(than);
    const qsizetype count = std::max(a.size(), b.size());
    const QString zero = QStringLiteral("0");
    for (qsizetype i = 0; i < count; ++i) {
        const int order = compareParts(i < a.size() ? a.at(i) : zero, i < b.size() ? b.at(i) : zero);
        if (order != 0)
            return order > 0;
    }
    return false;
}

bool isAtLeast(const QString &version, const QString &minimum) {
    if (numericParts(version).isEmpty())
        return std::none_of(version.cbegin(), version.cend(), [](QChar c) { return c.isDigit(); });
    return !isNewer(minimum, version);
}

bool isPlainVersion(const QString &text) {
    if (text.isEmpty() || text.size() > 100)
        return false;
    bool hasDigit = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        const bool alphanumeric = isAsciiDigit(c) || (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
                                  (c >= QLatin1Char('A') && c <= QLatin1Char('Z'));
        hasDigit = hasDigit || isAsciiDigit(c);
        if (!alphanumeric && (i == 0 || !QStringView(u"._+-").contains(c)))
            return false;
    }
    return hasDigit;
}

} // namespace VersionComparison
