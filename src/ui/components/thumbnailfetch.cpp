#include "thumbnailfetch.h"

#include <QBuffer>
#include <QImageReader>
#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QNetworkReply>

namespace ThumbnailFetch {

QUrl fetchableURL(const QString &text) {
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (url.isValid() && !url.host().isEmpty() && (scheme == QLatin1String("http") || scheme == QLatin1String("https")))
        return url;
    return {};
}

QNetworkReply *get(QNetworkAccessManager &network, const QUrl &url, const NetworkOptions::Proxy &proxy) {
    if (proxy.kind == NetworkOptions::Proxy::Kind::system)
        network.setProxy(QNetworkProxyFactory::systemProxyForQuery(QNetworkProxyQuery(url)).value(0));
    else
        network.setProxy(proxy.qtProxy());
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(5);
    // The picture is fetched without any cookie: none is sent, and none a server sets is kept.
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    request.setTransferTimeout(stallTimeout);
    QNetworkReply *reply = network.get(request);
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [reply] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > maximumBytes)
            reply->abort();
    });
    // What has arrived so far, not the progress signal: that one is throttled and may report a
    // burst only once the transfer ends.
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [reply] {
        if (reply->bytesAvailable() > maximumBytes)
            reply->abort();
    });
    return reply;
}

QByteArray body(QNetworkReply *reply) {
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply->error() != QNetworkReply::NoError || (status != 0 && (status < 200 || status >= 300)))
        return {};
    QByteArray bytes = reply->read(maximumBytes + 1);
    if (bytes.size() > maximumBytes)
        return {};
    return bytes;
}

QImage decodeCovering(const QByteArray &data, const QSize &target) {
    QBuffer buffer;
    buffer.setData(data);
    QImageReader reader(&buffer);
    reader.setAutoTransform(true);
    const QImage image = reader.read();
    if (image.isNull() || target.isEmpty())
        return {};
    const QImage scaled = image.scaled(target, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
    QRect crop(QPoint(), target);
    crop.moveCenter(scaled.rect().center());
    return scaled.copy(crop);
}

} // namespace ThumbnailFetch
