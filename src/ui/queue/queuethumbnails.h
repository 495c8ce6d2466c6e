#pragma once

#include "common/networkoptions.h"

#include <QCache>
#include <QImage>
#include <QObject>
#include <QSet>
#include <QSize>
#include <QStringList>

class QNetworkAccessManager;

// The small pictures of the queue's rows, fetched only when a row is painted (the rows on
// screen), a few at a time, decoded and scaled in the background and kept in a bounded cache.
// A picture that cannot be had is not asked for again while it is remembered.
class QueueThumbnails : public QObject {
    Q_OBJECT

public:
    static constexpr int maximumLoads = 4;    // at once
    static constexpr int maximumPending = 32; // asked for while loads run; the oldest are dropped
    static constexpr int cachedPictures = 200;

    // network: where the pictures are fetched from; the loader's own when none is given.
    QueueThumbnails(QSize size, qreal devicePixelRatio, QNetworkAccessManager *network = nullptr,
                    QObject *parent = nullptr);

    void setProxy(const NetworkOptions::Proxy &proxy) { m_proxy = proxy; }
    // The picture when it is loaded; else a null image, and its load is asked for.
    QImage picture(const QString &address);
    int cachedCount() const { return m_cache.count(); }
    int requestCount() const { return m_requests; }

Q_SIGNALS:
    void loaded(const QString &address);

private:
    void startNext();
    void finished(const QString &address, const QImage &image);

    QSize m_size; // device pixels
    qreal m_ratio;
    QNetworkAccessManager *m_network;
    NetworkOptions::Proxy m_proxy;
    QCache<QString, QImage> m_cache;
    QCache<QString, bool> m_failed;
    QSet<QString> m_loading;
    QStringList m_pending;
    int m_requests = 0;
};
