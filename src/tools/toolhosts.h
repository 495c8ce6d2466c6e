#pragma once

#include <QProcessEnvironment>
#include <QUrl>

// The outside hosts tool management talks to: scheme, host and port only; the paths are fixed
// by the code that uses them. The defaults are the production hosts.
struct ToolHosts {
    QUrl gitHub{QStringLiteral("https://github.com")};            // release downloads
    QUrl gitHubAPI{QStringLiteral("https://api.github.com")};     // latest-release documents
    QUrl homebrewAPI{QStringLiteral("https://formulae.brew.sh")}; // formula documents
    QUrl ffmpegBuilds{QStringLiteral("https://ffmpeg.martin-riedl.de")};

    // The defaults with TORVEL_GITHUB_URL, TORVEL_GITHUB_API_URL, TORVEL_HOMEBREW_API_URL and
    // TORVEL_FFMPEG_URL applied where set. Throws ServiceAddressError (Spanish, naming the
    // variable) for a value that is not https, or http on a loopback address, or that has a path.
    static ToolHosts fromEnvironment(const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment());

    // origin + path, for the fixed paths ("/repos/yt-dlp/yt-dlp/releases/latest").
    static QUrl address(const QUrl &origin, const QString &path);

    bool operator==(const ToolHosts &) const = default;
};
