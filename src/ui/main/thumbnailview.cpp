#include "thumbnailview.h"

#include "ui/components/activityindicator.h"
#include "ui/components/icons.h"
#include "ui/components/thumbnailfetch.h"
#include "ui/components/torveltheme.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPainter>
#include <QPainterPath>
#include <QtConcurrent>

namespace {

constexpr qreal cornerRadius = 10;

} // namespace

ThumbnailView::ThumbnailView(QWidget *parent) : QWidget(parent), m_indicator(new ActivityIndicator(18, this)) {
    setObjectName(QStringLiteral("thumbnailView"));
    setFixedSize(frameWidth, frameHeight);
    setAccessibleName(QStringLiteral("Miniatura"));
    m_indicator->move((frameWidth - m_indicator->sizeHint().width()) / 2,
                      (frameHeight - m_indicator->sizeHint().height()) / 2);
    m_indicator->resize(m_indicator->sizeHint());
    m_indicator->hide();
    m_deadline.setSingleShot(true);
    m_deadline.setInterval(overallTimeout);
    connect(&m_deadline, &QTimer::timeout, this, [this] {
        if (m_reply)
            m_reply->abort();
    });
}

ThumbnailView::~ThumbnailView() {
    stop();
}

void ThumbnailView::setUrlString(const std::optional<QString> &urlString) {
    if (urlString == m_urlString)
        return;
    m_urlString = urlString;
    stop();
    m_image = {};
    const QUrl url = urlString ? ThumbnailFetch::fetchableURL(*urlString) : QUrl();
    if (url.isValid())
        start(url);
    else
        setState(State::placeholder);
}

void ThumbnailView::start(const QUrl &url) {
    if (!m_network)
        m_network = new QNetworkAccessManager(this);
    const quint64 generation = ++m_generation;
    QNetworkReply *reply = ThumbnailFetch::get(*m_network, url, m_proxy);
    m_reply = reply;
    m_deadline.start();
    connect(reply, &QNetworkReply::finished, this, [this, reply, generation] {
        reply->deleteLater();
        if (generation == m_generation)
            finished(reply);
    });
    setState(State::loading);
}

void ThumbnailView::stop() {
    ++m_generation;
    m_deadline.stop();
    if (m_reply) {
        QNetworkReply *reply = m_reply;
        m_reply = nullptr;
        reply->abort();
    }
}

void ThumbnailView::finished(QNetworkReply *reply) {
    m_deadline.stop();
    m_reply = nullptr;
    const QByteArray bytes = ThumbnailFetch::body(reply);
    if (bytes.isEmpty()) {
        setState(State::placeholder);
        return;
    }
    const qreal ratio = devicePixelRatioF();
    const QSize target(qRound(frameWidth * ratio), qRound(frameHeight * ratio));
    const quint64 generation = m_generation;
    auto *watcher = new QFutureWatcher<QImage>(this);
    connect(watcher, &QFutureWatcher<QImage>::finished, this, [this, watcher, generation, ratio] {
        QImage image = watcher->result();
        watcher->deleteLater();
        image.setDevicePixelRatio(ratio);
        decoded(generation, image);
    });
    watcher->setFuture(QtConcurrent::run(ThumbnailFetch::decodeCovering, bytes, target));
}

void ThumbnailView::decoded(quint64 generation, const QImage &image) {
    if (generation != m_generation)
        return;
    m_image = image;
    setState(image.isNull() ? State::placeholder : State::loaded);
}

void ThumbnailView::setState(State state) {
    m_indicator->setVisible(state == State::loading);
    if (state == m_state) {
        update();
        return;
    }
    m_state = state;
    update();
    Q_EMIT stateChanged();
}

void ThumbnailView::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    QPainterPath frame;
    frame.addRoundedRect(QRectF(rect()), cornerRadius, cornerRadius);
    painter.setClipPath(frame);

    if (m_state == State::loaded) {
        painter.drawImage(QRectF(rect()), m_image);
        return;
    }
    painter.fillRect(rect(), TorvelTheme::primary(palette(), 0.06));
    if (m_state == State::placeholder) {
        QRectF icon(0, 0, 38, 38);
        icon.moveCenter(QRectF(rect()).center());
        Icons::paint(&painter, icon, QStringLiteral("play.rectangle.fill"), TorvelTheme::primary(palette(), 0.3));
    }
}
