#include "weburl.h"

#include <QRegularExpression>

namespace WebURL {

namespace {

bool beginsWithWWW(const QString &text) {
    return text.startsWith(QLatin1String("www."), Qt::CaseInsensitive);
}

bool beginsLikeAnAddress(const QString &text) {
    return text.startsWith(QLatin1String("http://"), Qt::CaseInsensitive) ||
           text.startsWith(QLatin1String("https://"), Qt::CaseInsensitive) || beginsWithWWW(text);
}

// The address in one line, as it will be shown; empty when the line holds none.
QString addressInLine(const QString &line) {
    const QString cleaned = normalizedURLText(line);
    QString candidate = cleaned;
    if (!beginsLikeAnAddress(cleaned)) {
        static const QRegularExpression inside(QStringLiteral("(?:https?://|www\\.)\\S+"),
                                               QRegularExpression::CaseInsensitiveOption);
        const QRegularExpressionMatch match = inside.match(cleaned);
        if (!match.hasMatch())
            return {};
        // Punctuation that closes the sentence or the brackets around the address is not part of it.
        candidate = match.captured();
        static const QRegularExpression closing(QStringLiteral("[.,;:!?»\"')\\]>]+$"));
        candidate.remove(closing);
        candidate = normalizedURLText(candidate);
    }
    if (beginsWithWWW(candidate))
        candidate.prepend(QStringLiteral("https://"));
    return validatedWebURL(candidate) ? candidate : QString();
}

} // namespace

QString normalizedURLText(const QString &text) {
    QString result = text.trimmed();
    if (result.startsWith(QLatin1Char('[')) && result.endsWith(QLatin1Char(')'))) {
        const qsizetype start = result.indexOf(QLatin1String("]("));
        if (start >= 0)
            result = result.mid(start + 2, result.size() - start - 3);
    }
    if (result.size() >= 3 && result.startsWith(QLatin1Char('<')) && result.endsWith(QLatin1Char('>')))
        result = result.mid(1, result.size() - 2);
    result.replace(QLatin1String("\\&"), QLatin1String("&"));
    result.replace(QLatin1String("\\_"), QLatin1String("_"));
    return result.trimmed();
}

std::optional<QUrl> validatedWebURL(const QString &text) {
    // A space is encoded; one in the host still makes no valid address.
    QString cleaned = normalizedURLText(text);
    cleaned.replace(QLatin1Char(' '), QLatin1String("%20"));
    const QUrl url(cleaned, QUrl::StrictMode);
    if (!url.isValid())
        return std::nullopt;
    const QString scheme = url.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        return std::nullopt;
    if (url.host().isEmpty())
        return std::nullopt;
    return url;
}

QStringList addressesIn(const QString &text) {
    QStringList addresses;
    static const QRegularExpression lineBreaks(QStringLiteral("[\\r\\n]+"));
    // Several addresses on one line, separated by spaces.
    static const QRegularExpression spaceBeforeAddress(QStringLiteral("\\s+(?=https?://|www\\.)"),
                                                       QRegularExpression::CaseInsensitiveOption);
    for (const QString &line : text.split(lineBreaks, Qt::SkipEmptyParts)) {
        const QString cleaned = normalizedURLText(line);
        const QStringList parts =
            beginsLikeAnAddress(cleaned) ? cleaned.split(spaceBeforeAddress, Qt::SkipEmptyParts) : QStringList{line};
        for (const QString &part : parts) {
            const QString address = addressInLine(part);
            if (!address.isEmpty())
                addresses.append(address);
        }
    }
    return addresses;
}

std::optional<QUrl> firstWebURL(const QString &text) {
    const QStringList addresses = addressesIn(text);
    return addresses.isEmpty() ? std::nullopt : validatedWebURL(addresses.first());
}

} // namespace WebURL
