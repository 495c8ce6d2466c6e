#pragma once

#include "common/networkoptions.h"
#include "ui/components/thumbnailfetch.h"

#include <QFutureWatcher>
#include <QImage>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <optional>

class ActivityIndicator;
class QNetworkAccessManager;
class QNetworkReply;

// The media's picture, 178 × 100 with rounded corners. The address is fetched and decoded in the
// background; meanwhile a small activity indicator shows, and a placeholder icon stands in when
// there is no usable address or the picture cannot be had. A new address drops the old load.
class ThumbnailView : public QWidget {
    Q_OBJECT

public:
    enum class State { placeholder, loading, loaded };
    Q_ENUM(State)

    static constexpr int frameWidth = 178;
    static constexpr int frameHeight = 100;
    static constexpr qint64 maximumBytes = ThumbnailFetch::maximumBytes;
    static constexpr int overallTimeout = 30'000;

    explicit ThumbnailView(QWidget *parent = nullptr);
    ~ThumbnailView() override;

    const std::optional<QString> &urlString() const { return m_urlString; }
    // Starts over when the address differs from the current one.
    void setUrlString(const std::optional<QString> &urlString);
    State state() const { return m_state; }
    const QImage &image() const { return m_image; }
    // The proxy of the next fetches: the picture comes from the analysed site, reached the way
    // yt-dlp reaches it.
    void setProxy(const NetworkOptions::Proxy &proxy) { m_proxy = proxy; }

    QSize sizeHint() const override { return {frameWidth, frameHeight}; }

Q_SIGNALS:
    void stateChanged();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void start(const QUrl &url);
    void stop();
    void finished(QNetworkReply *reply);
    void decoded(quint64 generation, const QImage &image);
    void setState(State state);

    std::optional<QString> m_urlString;
    State m_state = State::placeholder;
    QImage m_image;
    quint64 m_generation = 0;
    QNetworkAccessManager *m_network = nullptr;
    NetworkOptions::Proxy m_proxy;
    QPointer<QNetworkReply> m_reply;
    QTimer m_deadline;
    ActivityIndicator *m_indicator;
};
