#include "weburl.h"

namespace WebURL {

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
    const QUrl url(normalizedURLText(text), QUrl::StrictMode);
    if (!url.isValid())
        return std::nullopt;
    const QString scheme = url.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        return std::nullopt;
    if (url.host().isEmpty())
        return std::nullopt;
    return url;
}

} // namespace WebURL
