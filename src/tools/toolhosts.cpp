#include "toolhosts.h"

#include "common/serviceaddress.h"
#include "signatureverifier.h"

#include <QFile>

namespace {

const QString signingKeyVariable = QStringLiteral("TORVEL_YTDLP_SIGNING_KEY");

QByteArray signingKeyOverride(const QProcessEnvironment &environment, const ToolHosts &hosts) {
    const QString path = environment.value(signingKeyVariable);
    if (!ServiceAddress::isLoopbackHost(hosts.gitHub.host()))
        throw ServiceAddressError(QStringLiteral("La variable ") + signingKeyVariable +
                                  QStringLiteral(" solo se admite junto con TORVEL_GITHUB_URL en una dirección local "
                                                 "(127.0.0.1 o ::1)."));
    QFile file(path);
    const QByteArray key = file.open(QIODevice::ReadOnly) ? file.read(1 << 20) : QByteArray();
    if (!SignatureVerifier::dearmor(key))
        throw ServiceAddressError(QStringLiteral("La variable ") + signingKeyVariable +
                                  QStringLiteral(" no es válida: «") + path +
                                  QStringLiteral("» no contiene una clave pública OpenPGP en formato ASCII."));
    return key;
}

} // namespace

ToolHosts ToolHosts::fromEnvironment(const QProcessEnvironment &environment) {
    ToolHosts hosts;
    const std::pair<QUrl *, QString> overrides[] = {
        {&hosts.gitHub, QStringLiteral("TORVEL_GITHUB_URL")},
        {&hosts.gitHubAPI, QStringLiteral("TORVEL_GITHUB_API_URL")},
        {&hosts.homebrewAPI, QStringLiteral("TORVEL_HOMEBREW_API_URL")},
        {&hosts.ffmpegBuilds, QStringLiteral("TORVEL_FFMPEG_URL")},
    };
    for (const auto &[host, variable] : overrides) {
        if (const std::optional<QUrl> value = ServiceAddress::override(environment, variable))
            *host = *value;
    }
    if (!environment.value(signingKeyVariable).isEmpty())
        hosts.ytDLPSigningKey = signingKeyOverride(environment, hosts);
    return hosts;
}

QUrl ToolHosts::address(const QUrl &origin, const QString &path) {
    QString base = origin.toString(QUrl::FullyEncoded);
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    return QUrl(base + path, QUrl::StrictMode);
}

QByteArray ToolHosts::ytDLPReleaseKey() {
    static const QByteArray key = [] {
        QFile file(QStringLiteral(":/keys/yt-dlp-public.key"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();
    return key;
}
