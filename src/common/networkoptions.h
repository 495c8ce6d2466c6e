#pragma once

#include <QNetworkProxy>
#include <QString>

#include <optional>

// How downloads and tool checks reach the network: the proxy and the speed limit, as the user
// types them and as yt-dlp, curl and Qt take them.
namespace NetworkOptions {

// The proxy setting: none (a direct connection, whatever the environment says), the system's
// (the http_proxy, https_proxy and all_proxy variables, as yt-dlp and curl read them), or an
// address.
struct Proxy {
    enum class Kind { none, system, address };
    Kind kind = Kind::system;
    QString address; // only for Kind::address: http://, https:// or socks5://, possibly with a user

    // As stored: "none", "system" or the address. Anything else, a malformed address among it,
    // is the system's.
    static Proxy fromSetting(const QString &stored);
    QString setting() const;
    // What yt-dlp's --proxy takes: an empty text for a direct connection, the address, or none
    // to let yt-dlp read the environment.
    std::optional<QString> ytDLPValue() const;
    // For Qt's own requests.
    QNetworkProxy qtProxy() const;
    bool operator==(const Proxy &) const = default;
};

// Why a typed proxy address cannot be used, or an empty text when it can.
QString proxyAddressProblem(const QString &text);

// A speed limit as typed ("500K", "2M", "1.5m", "800" bytes a second): yt-dlp's form of it
// ("500K", "2M", "1.5M", "800"), or none with the reason in problem. An empty text is no limit,
// which is not a value either (problem stays empty).
std::optional<QString> parseRate(const QString &text, QString *problem = nullptr);

// The address with its user and password hidden, for anything shown or logged.
QString maskedAddress(const QString &address);

} // namespace NetworkOptions
