#include "versioncomparison.h"

namespace VersionComparison {

QList<qint64> numericParts(const QString &version) {
    QList<qint64> parts;
    QString piece;
    auto finishPiece = [&] {
        if (piece.isEmpty())
            return;
        bool ok = false;
        const qint64 value = piece.toLongLong(&ok);
        if (ok)
            parts.append(value);
        piece.clear();
    };
    for (const QChar character : version) {
        if (character.isNumber())
            piece.append(character);
        else
            finishPiece();
    }
    finishPiece();
    return parts;
}

bool isNewer(const QString &candidate, const QString &than) {
    const QList<qint64> a = numericParts(candidate);
    const QList<qint64> b = numericParts(than);
    const qsizetype count = std::max(a.size(), b.size());
    for (qsizetype i = 0; i < count; ++i) {
        const qint64 x = i < a.size() ? a.at(i) : 0;
        const qint64 y = i < b.size() ? b.at(i) : 0;
        if (x != y)
            return x > y;
    }
    return false;
}

bool isAtLeast(const QString &version, const QString &minimum) {
    if (numericParts(version).isEmpty())
        return true;
    return !isNewer(minimum, version);
}

} // namespace VersionComparison
