#include "networkoptions.h"

#include <QRegularExpression>
#include <QUrl>

namespace {

const QString noneSetting = QStringLiteral("none");
const QString systemSetting = QStringLiteral("system");

} // namespace

namespace NetworkOptions {

Proxy Proxy::fromSetting(const QString &stored) {
    const QString text = stored.trimmed();
    if (text == noneSetting)
        return {Kind::none, {}};
    if (!text.isEmpty() && text != systemSetting && proxyAddressProblem(text).isEmpty())
        return {Kind::address, text};
    return {};
}

QString Proxy::setting() const {
    switch (kind) {
    case Kind::none:
        return noneSetting;
    case Kind::address:
        return address;
    case Kind::system:
        break;
    }
    return systemSetting;
}

std::optional<QString> Proxy::ytDLPValue() const {
    switch (kind) {
    case Kind::none:
        return QString();
    case Kind::address:
        return address;
    case Kind::system:
        break;
    }
    return std::nullopt;
}

QNetworkProxy Proxy::qtProxy() const {
    if (kind == Kind::none)
        return QNetworkProxy(QNetworkProxy::NoProxy);
    if (kind == Kind::system)
        return QNetworkProxy(QNetworkProxy::DefaultProxy);
    const QUrl url(address);
    const bool socks = url.scheme() == QLatin1String("socks5");
    QNetworkProxy proxy(socks ? QNetworkProxy::Socks5Proxy : QNetworkProxy::HttpProxy, url.host(),
                        quint16(url.port(socks ? 1080 : 80)), url.userName(), url.password());
    return proxy;
}

QString proxyAddressProblem(const QString &text) {
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return QStringLiteral("Escribe la dirección del proxy.");
    const QUrl url(trimmed, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!trimmed.contains(QLatin1String("://")) ||
        (scheme != QLatin1String("http") && scheme != QLatin1String("https") && scheme != QLatin1String("socks5")))
        return QStringLiteral("La dirección debe comenzar con http://, https:// o socks5://.");
    const QString authority = trimmed.section(QLatin1String("://"), 1).section(QLatin1Char('/'), 0, 0);
    const QString hostAndPort = authority.section(QLatin1Char('@'), -1);
    if (hostAndPort.contains(QLatin1Char(':')) && !hostAndPort.endsWith(QLatin1Char(']'))) {
        bool isNumber = false;
        const int port = hostAndPort.section(QLatin1Char(':'), -1).toInt(&isNumber);
        if (!isNumber || port < 1 || port > 65535)
            return QStringLiteral("El puerto debe ser un número entre 1 y 65535.");
    }
    if (!url.isValid() || url.host().isEmpty())
        return QStringLiteral("Falta el servidor del proxy o no es válido.");
    if ((!url.path().isEmpty() && url.path() != QLatin1String("/")) || url.hasQuery() || url.hasFragment())
        return QStringLiteral("La dirección de un proxy no lleva ruta ni parámetros: solo servidor y puerto.");
    return {};
}

std::optional<QString> parseRate(const QString &text, QString *problem) {
    static const QRegularExpression form(QStringLiteral("^(\\d+(?:[.,]\\d+)?)\\s*([kmg]?)(?:i?b)?(?:/s)?$"),
                                         QRegularExpression::CaseInsensitiveOption);
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    const QRegularExpressionMatch match = form.match(trimmed);
    QString number = match.captured(1);
    number.replace(QLatin1Char(','), QLatin1Char('.'));
    const double value = number.toDouble();
    QString reason;
    if (!match.hasMatch())
        reason = QStringLiteral("Escribe la velocidad como un número seguido de K o M, por ejemplo 500K o 2M.");
    else if (value <= 0)
        reason = QStringLiteral("La velocidad debe ser mayor que cero.");
    if (!reason.isEmpty()) {
        if (problem)
            *problem = reason;
        return std::nullopt;
    }
    return QString::number(value, 'g', 12) + match.captured(2).toUpper();
}

QString maskedAddress(const QString &address) {
    QUrl url(address.trimmed());
    if (!url.isValid() || (url.userName().isEmpty() && url.password().isEmpty()))
        return address;
    url.setUserInfo(QStringLiteral("***"));
    return url.toString();
}

} // namespace NetworkOptions
