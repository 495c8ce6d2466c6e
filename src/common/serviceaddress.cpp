#include "serviceaddress.h"

#include <QHostAddress>

namespace ServiceAddress {

bool isLoopbackHost(const QString &host) {
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

bool isAcceptable(const QUrl &url) {
    if (!url.isValid() || url.host().isEmpty() || !url.userInfo().isEmpty())
        return false;
    const QString scheme = url.scheme().toLower();
    return scheme == QStringLiteral("https") || (scheme == QStringLiteral("http") && isLoopbackHost(url.host()));
}

std::optional<QUrl> override(const QProcessEnvironment &environment, const QString &variable, Shape shape) {
    const QString text = environment.value(variable).trimmed();
    if (text.isEmpty())
        return std::nullopt;
    const QUrl url(text, QUrl::StrictMode);
    const bool originOnly =
        (url.path().isEmpty() || url.path() == QStringLiteral("/")) && !url.hasQuery() && !url.hasFragment();
    if (!isAcceptable(url) || (shape == Shape::origin && !originOnly))
        throw ServiceAddressError(
            QStringLiteral("La variable ") + variable + QStringLiteral(" no es válida: «") + text +
            (shape == Shape::origin ? QStringLiteral("». Debe indicar solo esquema, servidor y puerto, ")
                                    : QStringLiteral("». Debe ser una dirección ")) +
            QStringLiteral("con https, o con http en una dirección local (127.0.0.1 o ::1)."));
    if (shape == Shape::origin)
        return QUrl(url.toString(QUrl::RemovePath | QUrl::StripTrailingSlash));
    return url;
}

} // namespace ServiceAddress
