#include "queuethumbnails.h"

#include "ui/components/thumbnailfetch.h"

#include <QFutureWatcher>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QtConcurrent>

QueueThumbnails::QueueThumbnails(QSize size, qreal devicePixelRatio, QNetworkAccessManager *network, QObject *parent)
    : QObject(parent), m_size(size * devicePixelRatio), m_ratio(devicePixelRatio),
      m_network(network ? network : new QNetworkAccessManager(this)), m_cache(cachedPictures),
      m_failed(cachedPictures) {}

QImage QueueThumbnails::picture(const QString &address) {
    if (address.isEmpty())
        return {};
    if (const QImage *image = m_cache.object(address))
        return *image;
    if (m_failed.contains(address) || m_loading.contains(address))
        return {};
    m_pending.removeOne(address);
    m_pending.append(address);
    while (m_pending.size() > maximumPending)
        m_pending.removeFirst();
    startNext();
    return {};
}

void QueueThumbnails::startNext() {
    while (m_loading.size() < maximumLoads && !m_pending.isEmpty()) {
        // The latest asked for first: the rows on screen now.
        const QString address = m_pending.takeLast();
        const QUrl url = ThumbnailFetch::fetchableURL(address);
        if (!url.isValid()) {
            m_failed.insert(address, new bool(true));
            continue;
        }
        m_loading.insert(address);
        ++m_requests;
        QNetworkReply *reply = ThumbnailFetch::get(*m_network, url, m_proxy);
        connect(reply, &QNetworkReply::finished, this, [this, reply, address] {
            reply->deleteLater();
            const QByteArray bytes = ThumbnailFetch::body(reply);
            if (bytes.isEmpty()) {
                finished(address, {});
                return;
            }
            auto *watcher = new QFutureWatcher<QImage>(this);
            connect(watcher, &QFutureWatcher<QImage>::finished, this, [this, watcher, address] {
                watcher->deleteLater();
                finished(address, watcher->result());
            });
            watcher->setFuture(QtConcurrent::run(ThumbnailFetch::decodeCovering, bytes, m_size));
        });
    }
}

void QueueThumbnails::finished(const QString &address, const QImage &image) {
    m_loading.remove(address);
    if (image.isNull()) {
        m_failed.insert(address, new bool(true));
    } else {
        auto *kept = new QImage(image);
        kept->setDevicePixelRatio(m_ratio);
        m_cache.insert(address, kept);
        Q_EMIT loaded(address);
    }
    startNext();
}
