#include "toolhosts.h"

#include "common/serviceaddress.h"

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
    return hosts;
}

QUrl ToolHosts::address(const QUrl &origin, const QString &path) {
    QString base = origin.toString(QUrl::FullyEncoded);
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    return QUrl(base + path, QUrl::StrictMode);
}
