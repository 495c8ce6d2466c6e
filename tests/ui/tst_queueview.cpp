#include "fakedesktopservices.h"
#include "screenshot.h"
#include "scriptedhttpserver.h"
#include "testsupport.h"

#include "model/appmodel.h"
#include "model/appsettings.h"
#include "model/downloadqueue.h"
#include "queue/queuelistmodel.h"
#include "ui/main/contentview.h"
#include "ui/main/mainwindow.h"
#include "ui/queue/queuethumbnails.h"
#include "ui/queue/queueview.h"

#include <QAction>
#include <QBuffer>
#include <QImage>
#include <QLabel>
#include <QListView>
#include <QMenuBar>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

QByteArray pngPicture() {
    QImage image(320, 180, QImage::Format_RGB32);
    image.fill(QColor(0x3a, 0x7b, 0xd5));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

DownloadProgress progress(double fraction, const QString &speed, const QString &eta) {
    DownloadProgress result = DownloadProgress::initial();
    result.fraction = fraction;
    result.phaseText = u"Descargando video"_s;
    result.speedText = speed;
    result.etaText = eta;
    return result;
}

} // namespace

class QueueViewTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QSettings> m_settingsStore;
    std::unique_ptr<AppSettings> m_settings;
    std::unique_ptr<DownloadQueue> m_queue;
    std::unique_ptr<FakeDesktopServices> m_desktop;
    std::unique_ptr<ScriptedHttpServer> m_server;
    std::unique_ptr<QueueView> m_view;

    QueueStore &store() { return m_queue->store(); }
    QueueListModel &model() { return *m_view->model(); }
    QString thumbnail(int n) const { return m_server->url(u"/thumb.png"_s).toString() + u"?n=%1"_s.arg(n); }

    // An item carried through the store's own steps to `state`.
    qint64 add(QueueState state, const QString &title, int attempts = 1) {
        QueueItem item;
        item.url = u"https://video.example/watch?v=%1"_s.arg(store().items().size());
        item.title = title;
        item.thumbnail = title.isEmpty() ? QString() : thumbnail(0);
        item.destination = m_dir->filePath(u"Descargas"_s);
        item.state = state == QueueState::paused || state == QueueState::cancelled ? state : QueueState::waiting;
        const qint64 id = store().add(item);
        const auto claim = [&] { return store().claim(id, ::getpid(), std::chrono::hours(1)).has_value(); };
        switch (state) {
        case QueueState::running:
            claim();
            break;
        case QueueState::completed:
            claim();
            store().complete(id, item.destination + u"/"_s + title + u".mp4"_s, 1000);
            break;
        case QueueState::failed:
            for (int i = 1; i < attempts; ++i) {
                claim();
                store().retryLater(id, u"Se agotó el tiempo de conexión."_s, std::chrono::milliseconds(0));
            }
            claim();
            store().fail(id, u"ERROR: [generic] Unable to download webpage: HTTP Error 404: Not Found. La dirección "
                             u"ya no existe o el video fue retirado por quien lo publicó."_s);
            break;
        default:
            break;
        }
        return id;
    }

    void startView(QSize size = {900, 420}) {
        m_view = std::make_unique<QueueView>(*m_queue, *m_desktop);
        m_view->resize(size);
        m_view->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
    }

    int rowOf(qint64 id) { return model().rowOf(id); }
    void select(qint64 id) { m_view->list()->setCurrentIndex(model().index(rowOf(id))); }
    QueueState stateOf(qint64 id) { return store().item(id)->state; }
    QAction *action(const char *name) { return m_view->findChild<QAction *>(QString::fromLatin1(name)); }

private Q_SLOTS:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        m_settingsStore = std::make_unique<QSettings>(m_dir->filePath(u"settings.ini"_s), QSettings::IniFormat);
        m_settings = std::make_unique<AppSettings>(m_settingsStore.get(), m_dir->filePath(u"Descargas"_s),
                                                   m_dir->filePath(u"home"_s));
        m_queue = std::make_unique<DownloadQueue>(*m_settings, m_dir->filePath(u"Queue.sqlite"_s),
                                                  JobFolders(m_dir->filePath(u"jobs"_s)));
        m_desktop = std::make_unique<FakeDesktopServices>();
        m_server = std::make_unique<ScriptedHttpServer>();
        m_server->route(u"/thumb.png"_s, ScriptedHttpServer::Response::ok(pngPicture(), "image/png"));
    }

    void cleanup() {
        m_view.reset();
        m_queue.reset();
    }

    // Every state on screen at once, the live progress of a running item, and the actions each
    // state allows reaching the store.
    void mixedStates() {
        const qint64 running = add(QueueState::running, u"Concierto completo en directo desde el estadio"_s);
        const qint64 waiting = add(QueueState::waiting, QString());
        const qint64 paused = add(QueueState::paused, u"Receta de tortilla de patatas"_s);
        const qint64 completed = add(QueueState::completed, u"Documental sobre el Ártico"_s);
        const qint64 failed = add(QueueState::failed, u"Video retirado"_s, 3);
        const qint64 cancelled = add(QueueState::cancelled, u"Tráiler cancelado"_s);
        startView();
        if (QTest::currentTestFailed())
            return;
        Q_EMIT m_queue->runner().itemProgress(running, progress(0.42, u"2,4 MiB/s"_s, u"00:35"_s));

        QCOMPARE(m_view->countsText(),
                 u"1 descargando · 1 en espera · 1 en pausa · 1 fallida · 1 completada · 1 cancelada"_s);
        const QModelIndex waitingRow = model().index(rowOf(waiting));
        QCOMPARE(waitingRow.data(QueueListModel::titleRole).toString(), u"https://video.example/watch?v=1"_s);
        QCOMPARE(waitingRow.data(QueueListModel::stateLabelRole).toString(), u"En espera"_s);
        const QModelIndex runningRow = model().index(rowOf(running));
        QCOMPARE(runningRow.data(QueueListModel::progressRole).toDouble(), 0.42);
        QCOMPARE(runningRow.data(QueueListModel::speedRole).toString(), u"2,4 MiB/s"_s);
        QCOMPARE(runningRow.data(QueueListModel::timeLeftRole).toString(), u"00:35"_s);
        QCOMPARE(model().index(rowOf(failed)).data(QueueListModel::attemptsRole).toInt(), 3);
        // Claimed, before its first progress.
        const qint64 starting = add(QueueState::running, u"Empezando"_s);
        QTRY_COMPARE(model().index(rowOf(starting)).data(QueueListModel::phaseRole).toString(), u"Preparando…"_s);
        store().remove(starting);
        QTRY_VERIFY(m_view->thumbnails()->cachedCount() == 1);
        QVERIFY(TestSupport::saveScreenshot(m_view.get(), u"queueview-mixed"_s));

        // Each state's actions, enabled by state, reach the store.
        const struct {
            qint64 id;
            const char *enabled; // of pause, resume, retry, cancel, remove, reveal
            const char *action;
            QueueState after;
        } cases[] = {
            {waiting, "pause cancel remove", "pauseItemAction", QueueState::paused},
            {paused, "resume cancel remove", "resumeItemAction", QueueState::waiting},
            {running, "pause cancel remove", "cancelItemAction", QueueState::cancelled},
            {cancelled, "retry remove", "retryItemAction", QueueState::waiting},
            {completed, "remove reveal", "revealItemAction", QueueState::completed},
        };
        for (const auto &one : cases) {
            select(one.id);
            QStringList enabled;
            for (const char *name : {"pause", "resume", "retry", "cancel", "remove", "reveal"})
                if (action(QByteArray(name).append("ItemAction").constData())->isEnabled())
                    enabled.append(QString::fromLatin1(name));
            QCOMPARE(enabled.join(u' '), QString::fromLatin1(one.enabled));
            action(one.action)->trigger();
            QCOMPARE(stateOf(one.id), one.after);
        }
        QCOMPARE(m_desktop->revealedFiles, {store().item(completed)->path});

        // The failed item's own "Reintentar", drawn in its row.
        QTest::mouseClick(m_view->list()->viewport(), Qt::LeftButton, {},
                          m_view->retryButtonRect(rowOf(failed)).center());
        QCOMPARE(stateOf(failed), QueueState::waiting);
        QCOMPARE(store().item(failed)->attempts, 0);

        select(completed);
        action("removeItemAction")->trigger();
        QVERIFY(!store().item(completed));
        QTRY_COMPARE(model().rowCount(), 5);
    }

    // The whole-queue actions and their enabled states.
    void wholeQueueActions() {
        const qint64 failedA = add(QueueState::failed, u"A"_s);
        const qint64 failedB = add(QueueState::failed, u"B"_s);
        const qint64 waiting = add(QueueState::waiting, u"C"_s);
        const qint64 completed = add(QueueState::completed, u"D"_s);
        startView();
        if (QTest::currentTestFailed())
            return;
        QVERIFY(!action("resumeAllAction")->isEnabled());
        action("retryFailedAction")->trigger();
        for (const qint64 id : {failedA, failedB, waiting})
            QCOMPARE(stateOf(id), QueueState::waiting);
        QTRY_VERIFY(!action("retryFailedAction")->isEnabled());
        action("pauseAllAction")->trigger();
        for (const qint64 id : {failedA, failedB, waiting})
            QCOMPARE(stateOf(id), QueueState::paused);
        QTRY_VERIFY(action("resumeAllAction")->isEnabled());
        QVERIFY(!action("pauseAllAction")->isEnabled());
        action("removeCompletedAction")->trigger();
        QVERIFY(!store().item(completed));
        QTRY_COMPARE(m_view->countsText(), u"3 en pausa"_s);
    }

    // One item's change changes its row only; additions and removals keep the selection.
    void followsTheStoreIncrementally() {
        QList<qint64> ids;
        for (int i = 0; i < 5; ++i)
            ids.append(add(QueueState::waiting, u"Video %1"_s.arg(i)));
        startView();
        if (QTest::currentTestFailed())
            return;
        QSignalSpy changed(&model(), &QAbstractItemModel::dataChanged);
        QSignalSpy inserted(&model(), &QAbstractItemModel::rowsInserted);
        QSignalSpy removed(&model(), &QAbstractItemModel::rowsRemoved);
        QSignalSpy reset(&model(), &QAbstractItemModel::modelReset);
        QSignalSpy counts(&model(), &QueueListModel::countsChanged);
        const auto changedRows = [&] {
            QList<int> rows;
            for (const QList<QVariant> &signal : std::as_const(changed)) {
                const auto top = signal.at(0).value<QModelIndex>(), bottom = signal.at(1).value<QModelIndex>();
                for (int row = top.row(); row <= bottom.row(); ++row)
                    rows.append(row);
            }
            changed.clear();
            return rows;
        };

        m_queue->pause(ids.at(3)); // the store says "many changed"; only one did
        QTRY_VERIFY(!changed.isEmpty());
        QCOMPARE(changedRows(), QList<int>{3});
        QCOMPARE(counts.size(), 1);
        store().saveProgress(ids.at(1), 0.5, u"Descargando"_s);
        QCOMPARE(changedRows(), QList<int>{1});
        Q_EMIT m_queue->runner().itemProgress(ids.at(2), progress(0.1, u"1 MiB/s"_s, u"01:00"_s));
        QCOMPARE(changedRows(), QList<int>{2});

        select(ids.at(4));
        m_queue->remove(ids.at(1));
        QTRY_COMPARE(removed.size(), 1);
        QCOMPARE(m_view->selectedID(), ids.at(4));
        QCOMPARE(rowOf(ids.at(4)), 3);
        // Several additions in one go arrive as one insertion.
        for (int i = 0; i < 3; ++i)
            add(QueueState::waiting, u"Nuevo %1"_s.arg(i));
        QTRY_COMPARE(model().rowCount(), 7);
        QCOMPARE(inserted.size(), 1);
        QCOMPARE(reset.size(), 0);
        QCOMPARE(m_view->selectedID(), ids.at(4));

        // What another process added shows when the window is active again.
        QWidget elsewhere;
        elsewhere.show();
        elsewhere.activateWindow();
        QTRY_VERIFY(!m_view->isActiveWindow());
        QueueItem other;
        other.url = u"https://video.example/otro"_s;
        QueueStore(m_queue->store().file()).add(other);
        m_view->activateWindow();
        QTRY_COMPARE(model().rowCount(), 8);
        QCOMPARE(m_view->selectedID(), ids.at(4));
    }

    // 1,000 items: on screen, scrolling to the end, thumbnails fetched for the rows shown only.
    void thousandItems() {
        startView();
        if (QTest::currentTestFailed())
            return;
        QSignalSpy inserted(&model(), &QAbstractItemModel::rowsInserted);
        for (int i = 0; i < 1000; ++i) {
            QueueItem item;
            item.url = u"https://video.example/watch?v=%1"_s.arg(i);
            item.title = u"Video número %1 de una lista muy larga con un título que no cabe entero en la fila"_s.arg(i);
            item.thumbnail = thumbnail(i);
            item.destination = m_dir->filePath(u"Descargas"_s);
            store().add(item);
        }
        QTRY_COMPARE(model().rowCount(), 1000);
        QCOMPARE(inserted.size(), 1);
        QCOMPARE(m_view->countsText(), u"1000 en espera"_s);
        QTRY_VERIFY(m_view->thumbnails()->cachedCount() >= 3);
        QVERIFY(TestSupport::saveScreenshot(m_view.get(), u"queueview-1000"_s));

        QListView *list = m_view->list();
        list->scrollToBottom();
        QTRY_COMPARE(list->indexAt(QPoint(10, list->viewport()->height() - 5)).row(), 999);
        QCOMPARE(list->verticalScrollBar()->value(), list->verticalScrollBar()->maximum());
        // The rows shown at the top and at the end, not the thousand.
        QTRY_VERIFY(m_view->thumbnails()->cachedCount() >= 6);
        QVERIFY2(m_server->requests().size() < 40, qPrintable(QString::number(m_server->requests().size())));
    }

    // In the window: below the download view while the queue has items, hidden by "Cola".
    void inTheWindow() {
        m_queue.reset(); // the window's model opens the store
        const QString file = m_dir->filePath(u"Window.sqlite"_s);
        AppModel model(*m_settings, *m_desktop, TestSupport::unreachableToolHosts(),
                       DependencyLocator(TestSupport::sandboxedTools(m_dir->path())),
                       JobFolders(m_dir->filePath(u"jobs"_s)), file);
        MainWindow window(model, *m_desktop);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto *queueView = window.findChild<QueueView *>(u"queueView"_s);
        QAction *shown = window.findChild<QAction *>(u"queueAction"_s);
        QVERIFY(queueView && shown && shown->isChecked());
        QVERIFY(!queueView->isVisible());

        for (const QString &title : {u"Primer video de la cola"_s, u"Segundo video"_s, u"Tercero"_s}) {
            QueueItem item;
            item.url = u"https://video.example/"_s + title;
            item.title = title;
            item.destination = m_dir->filePath(u"Descargas"_s);
            model.queue().enqueue(item);
        }
        QTRY_VERIFY(queueView->isVisible());
        // At the window's minimum size, where anything that does not fit shows first.
        window.resize(window.size() - window.centralWidget()->size() + MainWindow::minimumContentSize);
        QTRY_COMPARE(window.centralWidget()->size(), MainWindow::minimumContentSize);
        QVERIFY(queueView->height() >= MainWindow::queuePanelMinimumHeight);
        QVERIFY(window.findChild<ContentView *>()->height() > queueView->height());
        QVERIFY(TestSupport::saveScreenshot(&window, u"mainwindow-queue"_s));
        shown->trigger();
        QVERIFY(!queueView->isVisible());
        shown->trigger();
        QVERIFY(queueView->isVisible());
        model.queue().pauseAll();
        for (const QueueItem &item : model.queue().store().items())
            model.queue().remove(item.id);
        QTRY_VERIFY(!queueView->isVisible());
        // A problem of the queue shows even when it is empty.
        Q_EMIT model.queue().problemOccurred(u"No se pudo usar la cola de descargas: disco lleno"_s);
        QVERIFY(queueView->isVisible());
        QCOMPARE(queueView->message(), u"No se pudo usar la cola de descargas: disco lleno"_s);
    }
};

QTEST_MAIN(QueueViewTest)
#include "tst_queueview.moc"
