#pragma once

#include <QByteArray>
#include <QProcessEnvironment>
#include <QUrl>

// The outside hosts tool management talks to: scheme, host and port only; the paths are fixed
// by the code that uses them. Beside them, the public key that must have signed yt-dlp's
// checksum list on the first. The defaults are the production hosts and yt-dlp's release key.
struct ToolHosts {
    QUrl gitHub{QStringLiteral("https://github.com")};            // release downloads
    QUrl gitHubAPI{QStringLiteral("https://api.github.com")};     // latest-release documents
    QUrl homebrewAPI{QStringLiteral("https://formulae.brew.sh")}; // formula documents
    QUrl ffmpegBuilds{QStringLiteral("https://ffmpeg.martin-riedl.de")};
    QByteArray ytDLPSigningKey = ytDLPReleaseKey(); // armored OpenPGP public key

    // The defaults with TORVEL_GITHUB_URL, TORVEL_GITHUB_API_URL, TORVEL_HOMEBREW_API_URL and
    // TORVEL_FFMPEG_URL applied where set. Throws ServiceAddressError (Spanish, naming the
    // variable) for a value that is not https, or http on a loopback address, or that has a path.
    // TORVEL_YTDLP_SIGNING_KEY, the path of an armored public key, replaces yt-dlp's key, and is
    // accepted only together with a TORVEL_GITHUB_URL on a loopback address: a key of one's own
    // vouches only for a stand-in host on this machine.
    static ToolHosts fromEnvironment(const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment());

    // origin + path, for the fixed paths ("/repos/yt-dlp/yt-dlp/releases/latest").
    static QUrl address(const QUrl &origin, const QString &path);

    // The key yt-dlp signs its releases' "SHA2-256SUMS" with, built into the application.
    static QByteArray ytDLPReleaseKey();

    bool operator==(const ToolHosts &) const = default;
};
