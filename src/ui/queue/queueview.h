#pragma once

#include "common/networkoptions.h"

#include <QWidget>

#include <optional>

class DesktopServices;
class DownloadQueue;
class QAction;
class QLabel;
class QListView;
class QNetworkAccessManager;
class QueueListModel;
class QueueThumbnails;

// The download queue in the main window: a header with the counts per state and the actions on
// the whole queue, the items (a list view whose painting delegate shows the thumbnail, title,
// state, progress with speed and time left, and the failure's explanation with "Reintentar"), and
// the actions on the selected item, as buttons and as the list's context menu. Every action goes
// to the DownloadQueue; its problems and the store's notice show above the list.
class QueueView : public QWidget {
    Q_OBJECT

public:
    static constexpr int rowHeight = 62;
    static constexpr QSize thumbnailSize{80, 45};

    // The queue and the desktop services must outlive the view. network: where the thumbnails are
    // fetched from; the view's own when none is given.
    QueueView(DownloadQueue &queue, DesktopServices &desktop, QNetworkAccessManager *network = nullptr,
              QWidget *parent = nullptr);
    ~QueueView() override;

    QueueListModel *model() const { return m_model; }
    QListView *list() const { return m_list; }
    QueueThumbnails *thumbnails() const { return m_thumbnails; }
    void setProxy(const NetworkOptions::Proxy &proxy);
    // Items, or a message about the queue: something to show.
    bool hasContent() const { return m_hasContent; }
    // The selected item's id.
    std::optional<qint64> selectedID() const;
    // "2 descargando · 5 en espera · 1 fallida", or that the queue is empty.
    QString countsText() const;
    // The message shown above the list; empty when none is.
    QString message() const;
    // Where a failed row's "Reintentar" is drawn, in the list's viewport.
    QRect retryButtonRect(int row) const;

Q_SIGNALS:
    void hasContentChanged(bool hasContent);

protected:
    void changeEvent(QEvent *event) override;

private:
    void refreshCounts();
    void refreshActions();
    void refreshContent();
    void showMessage(const QString &text);
    void showContextMenu(const QPoint &position);
    void act(void (DownloadQueue::*action)(qint64));
    void reveal();

    DownloadQueue &m_queue;
    DesktopServices &m_desktop;
    QueueListModel *m_model;
    QueueThumbnails *m_thumbnails;
    QListView *m_list;
    QLabel *m_counts;
    QWidget *m_messageBar;
    QLabel *m_message;
    QAction *m_pauseAll;
    QAction *m_resumeAll;
    QAction *m_retryFailed;
    QAction *m_removeCompleted;
    QAction *m_pause;
    QAction *m_resume;
    QAction *m_retry;
    QAction *m_cancel;
    QAction *m_remove;
    QAction *m_reveal;
    bool m_hasContent = false;
};
