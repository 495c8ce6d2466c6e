#pragma once

#include "common/networkoptions.h"

#include <QByteArray>
#include <QImage>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;

// Fetching a media's picture from the analysed site, shared by every view that shows one.
namespace ThumbnailFetch {

// A thumbnail is a few hundred kilobytes; anything far beyond that is not one.
inline constexpr qint64 maximumBytes = 10 * 1000 * 1000;
inline constexpr int stallTimeout = 15'000; // ms without data

// The address when it is an http or https address with a host; an invalid one otherwise.
QUrl fetchableURL(const QString &text);
// Starts the fetch through the proxy (the system's: the environment's variables, as yt-dlp reads
// them), without any cookie, following safe redirects, ending when it stalls or grows beyond
// maximumBytes.
QNetworkReply *get(QNetworkAccessManager &network, const QUrl &url, const NetworkOptions::Proxy &proxy);
// The finished reply's body; empty when it failed or is no thumbnail.
QByteArray body(QNetworkReply *reply);
// Decodes and scales to cover `target` (device pixels), cut to that size, so painting never scales
// a large picture on the interface thread. Safe on any thread.
QImage decodeCovering(const QByteArray &data, const QSize &target);

} // namespace ThumbnailFetch
