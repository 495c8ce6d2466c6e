#include "fakedesktopservices.h"
#include "screenshot.h"
#include "testsupport.h"

#include "model/appmodel.h"
#include "model/appsettings.h"
#include "platform/desktopnotifications.h"
#include "platform/launcherentry.h"
#include "platform/linuxdesktopservices.h"
#include "ui/main/downloadattention.h"

#include <QApplication>
#include <QClipboard>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

const QString pageAddress = u"https://video.example/watch?v=abc"_s;
const QString resultName = u"Clip de prueba [abc].mp4"_s;

// What arrives at the desktop's side of the bus: notifications (answered with increasing ids),
// launcher updates and the file manager's requests.
class DesktopSide : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Notification {
        QString application, icon, summary, body;
        QStringList actions;
        QVariantMap hints;
    };
    QList<Notification> notifications;
    QStringList capabilities{u"actions"_s, u"body"_s};
    // progress-visible and progress of every Update, "-" for a hidden bar.
    QStringList launcher;

public Q_SLOTS:
    uint Notify(const QString &application, uint, const QString &icon, const QString &summary, const QString &body,
                const QStringList &actions, const QVariantMap &hints, int) {
        notifications.append({application, icon, summary, body, actions, hints});
        return uint(notifications.size());
    }
    QStringList GetCapabilities() { return capabilities; }
    void launcherUpdate(const QString &application, const QVariantMap &properties) {
        QCOMPARE(application, u"application://torvel-downloader.desktop"_s);
        launcher.append(properties.value(u"progress-visible"_s).toBool()
                            ? QString::number(properties.value(u"progress"_s).toDouble())
                            : u"-"_s);
    }
};

// The file manager's ShowItems, recorded.
class FileManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

public:
    QStringList shown;

public Q_SLOTS:
    void ShowItems(const QStringList &uris, const QString &) { shown.append(uris); }
};

} // namespace

// The desktop's services on a private session bus that the test starts: notifications with
// their actions, the launcher's progress and revealing a file without a file manager.
class DesktopIntegrationTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QProcess m_bus;
    QString m_address;
    int m_connections = 0;

    QString path(const QString &relative) const { return m_dir.filePath(relative); }

    QDBusConnection connection() {
        return QDBusConnection::connectToBus(m_address, u"connection-%1"_s.arg(++m_connections));
    }

    void sendActionInvoked(QDBusConnection &desktop, uint id, const QString &key) {
        QDBusMessage signal = QDBusMessage::createSignal(u"/org/freedesktop/Notifications"_s,
                                                         u"org.freedesktop.Notifications"_s, u"ActionInvoked"_s);
        signal << id << key;
        QVERIFY(desktop.send(signal));
    }

private Q_SLOTS:
    void init() {
        QVERIFY(m_dir.isValid());
        m_bus.start(u"/usr/bin/dbus-daemon"_s, {u"--session"_s, u"--nofork"_s, u"--print-address=1"_s});
        QVERIFY2(m_bus.waitForStarted(), "dbus-daemon (package dbus-daemon) is needed");
        QTRY_VERIFY(m_bus.canReadLine());
        m_address = QString::fromUtf8(m_bus.readLine()).trimmed();
        QVERIFY(m_address.startsWith(u"unix:"_s));
    }

    void cleanup() {
        m_bus.kill();
        m_bus.waitForFinished();
        QVERIFY(TestSupport::waitUntilChildless());
    }

    // Downloads end while the window is active or not, with the switch on or off, completed,
    // failed or cancelled; the launcher follows the running one. In the background each item of
    // the queue is told, and the queue's end sums them up.
    void notificationsAndLauncherProgress() {
        QDBusConnection desktopBus = connection();
        DesktopSide desktop;
        QVERIFY(
            desktopBus.registerObject(u"/org/freedesktop/Notifications"_s, &desktop, QDBusConnection::ExportAllSlots));
        QVERIFY(desktopBus.connect(QString(), QString(), u"com.canonical.Unity.LauncherEntry"_s, u"Update"_s, &desktop,
                                   SLOT(launcherUpdate(QString, QVariantMap))));
        QDBusConnection appBus = connection();
        DesktopNotifications notifications(u"torvel-downloader"_s, appBus);
        LauncherEntry launcher(u"torvel-downloader.desktop"_s, appBus);

        // A yt-dlp that analyzes into one format and downloads as the files in the folder say.
        TestSupport::writeScript(path(u"bin/yt-dlp"_s), uR"(d='%1'
[ "$1" = --version ] && { echo 2023.03.04; exit 0; }
case "$*" in *fail) printf 'ERROR: [youtube] abc: No disponible\n' >&2; exit 1 ;; esac
case " $* " in *" --dump-single-json "*)
  echo '{"id": "abc", "title": "Clip", "formats": [{"format_id": "18", "ext": "mp4", "vcodec": "avc1", "acodec": "mp4a"}]}'
  exit 0 ;;
esac
job=''; prev=''
for a in "$@"; do [ "$prev" = --paths ] && job="$a"; prev="$a"; done
echo '__TORVEL_PROGRESS__ 25.0%|250|1000|NA|100|7|1|1|18|avc1|mp4a'
while [ -e "$d/hold" ]; do sleep 0.05; done
echo '__TORVEL_PROGRESS__ 50.0%|500|1000|NA|100|5|1|1|18|avc1|mp4a'
if [ -e "$d/error" ]; then printf 'ERROR: [youtube] abc: No disponible\nmás detalles\n'; exit 1; fi
echo data > "$job/%2")"_s.arg(m_dir.path(), resultName));
        QSettings store(path(u"settings.ini"_s), QSettings::IniFormat);
        AppSettings settings(&store, path(u"Descargas"_s), path(u"home"_s));
        FakeDesktopServices fake;
        AppModel model(settings, fake, TestSupport::unreachableToolHosts(),
                       DependencyLocator(TestSupport::sandboxedTools(m_dir.path())), JobFolders(path(u"jobs"_s)),
                       path(u"Queue.sqlite"_s));
        bool windowActive = false;
        DownloadAttention attention(model, notifications, launcher, [&windowActive] { return windowActive; });
        QTRY_VERIFY(model.ytDLP());
        model.setUrlInput(pageAddress);
        model.analyze();
        QTRY_COMPARE(model.phase(), AppModel::Phase::ready);

        // Without a notification service nothing shows and nothing is reported.
        QTest::failOnWarning(QRegularExpression(u".*"_s));
        const auto download = [&](AppModel::Phase end) {
            model.startDownload();
            QTRY_COMPARE(model.phase(), end);
        };
        download(AppModel::Phase::completed);
        QCOMPARE(fake.activations, 0);

        QVERIFY(desktopBus.registerService(u"org.freedesktop.Notifications"_s));
        QTRY_VERIFY(!desktop.launcher.isEmpty() && desktop.launcher.last() == u"-"_s);
        desktop.launcher.clear();
        TestSupport::writeFile(path(u"hold"_s), {});
        model.startDownload();
        QTRY_COMPARE(desktop.launcher, QStringList({u"0"_s, u"0.245"_s}));
        QFile::remove(path(u"hold"_s));
        QTRY_COMPARE(model.phase(), AppModel::Phase::completed);
        QTRY_COMPARE(desktop.launcher, QStringList({u"0"_s, u"0.245"_s, u"0.49"_s, u"-"_s}));
        QTRY_COMPARE(desktop.notifications.size(), 1);
        const DesktopSide::Notification completed = desktop.notifications.first();
        QCOMPARE((QStringList{completed.application, completed.icon, completed.summary, completed.body}),
                 (QStringList{u"Torvel Downloader"_s, u"torvel-downloader"_s, u"Descarga completada"_s,
                              resultName.chopped(4) + u" 2.mp4"_s}));
        QCOMPARE(completed.actions, QStringList({u"default"_s, u"Abrir"_s, u"reveal"_s, u"Mostrar en carpeta"_s}));
        QCOMPARE(completed.hints.value(u"desktop-entry"_s).toString(), u"torvel-downloader"_s);

        // "Mostrar en carpeta" reveals the file; clicking the notification shows the window.
        sendActionInvoked(desktopBus, 1, u"reveal"_s);
        QTRY_COMPARE(fake.revealedFiles.size(), 3); // the setting revealed both downloads itself
        QCOMPARE(fake.revealedFiles.last(), *model.completedFile());
        sendActionInvoked(desktopBus, 1, u"default"_s);
        QTRY_COMPARE(fake.activations, 1);
        sendActionInvoked(desktopBus, 7, u"default"_s); // not ours
        QTest::qWait(50);
        QCOMPARE(fake.activations, 1);

        // A failure names its first line and offers only to show the window.
        TestSupport::writeFile(path(u"error"_s), {});
        download(AppModel::Phase::failed);
        QTRY_COMPARE(desktop.notifications.size(), 2);
        QCOMPARE(desktop.notifications.last().summary, u"La descarga falló"_s);
        QCOMPARE(desktop.notifications.last().body, u"ERROR: [youtube] abc: No disponible"_s);
        QCOMPARE(desktop.notifications.last().actions, QStringList({u"default"_s, u"Abrir"_s}));

        // Nothing while the window is active, with the switch off, or for a cancelled download.
        QFile::remove(path(u"error"_s));
        windowActive = true;
        download(AppModel::Phase::completed);
        windowActive = false;
        settings.setNotifyWhenFinished(false);
        download(AppModel::Phase::completed);
        settings.setNotifyWhenFinished(true);
        TestSupport::writeFile(path(u"hold"_s), {});
        model.startDownload();
        QTRY_COMPARE(desktop.launcher.last(), u"0.245"_s);
        model.cancelDownload();
        QTRY_COMPARE(model.phase(), AppModel::Phase::ready);
        QFile::remove(path(u"hold"_s));
        QTRY_COMPARE(desktop.launcher.last(), u"-"_s);
        QTest::qWait(100);
        QCOMPARE(desktop.notifications.size(), 2);

        // Outside text in a body shows as written, also on a service that reads markup.
        const QString outside = u"<a href=\"https://x.test\">Forbidden</a> & <b>"_s;
        notifications.show(u"La descarga falló"_s, outside, {});
        QTRY_COMPARE(desktop.notifications.size(), 3);
        QCOMPARE(desktop.notifications.last().body, outside);
        desktop.capabilities.append(u"body-markup"_s);
        notifications.show(u"La descarga falló"_s, outside, {});
        QTRY_COMPARE(desktop.notifications.size(), 4);
        QCOMPARE(desktop.notifications.last().body,
                 u"&lt;a href=\"https://x.test\"&gt;Forbidden&lt;/a&gt; &amp; &lt;b&gt;"_s);

        DownloadQueue &queue = model.queue();
        const auto enqueue = [&](const QString &url) {
            QueueItem item;
            item.url = url;
            item.destination = path(u"Descargas"_s);
            return queue.enqueue(item);
        };
        // Not in the background, a queue item's end is not told.
        const qint64 first = enqueue(pageAddress);
        QTRY_COMPARE(queue.store().item(first)->state, QueueState::completed);
        QTest::qWait(100);
        QCOMPARE(desktop.notifications.size(), 4);
        desktop.notifications.clear();
        attention.setInBackground(true);
        for (const QString &url : QStringList{pageAddress, pageAddress + u"/fail"_s, pageAddress})
            enqueue(url);
        QTRY_COMPARE(desktop.notifications.size(), 4);
        QStringList summaries;
        for (const DesktopSide::Notification &notification : std::as_const(desktop.notifications))
            summaries.append(notification.summary);
        QCOMPARE(summaries.count(u"Descarga completada"_s), 2);
        QVERIFY(summaries.contains(u"La descarga falló"_s));
        const DesktopSide::Notification failed = desktop.notifications.at(summaries.indexOf(u"La descarga falló"_s));
        QCOMPARE(failed.body, pageAddress + u"/fail\nERROR: [youtube] abc: No disponible"_s);
        QCOMPARE((QStringList{summaries.last(), desktop.notifications.last().body}),
                 (QStringList{u"Se descargaron 2 de 3"_s, u"La cola ha terminado; 1 descarga falló."_s}));
    }

    // The file manager shows the file; without one the opener opens its folder; when that fails
    // too, a dialog gives the folder's path to copy.
    void revealWithoutAFileManager() {
        const QString file = TestSupport::writeFile(path(u"Mis descargas/clip.mp4"_s), "data");
        const QString folder = path(u"Mis descargas"_s);
        const QString opener = TestSupport::writeScript(
            path(u"opener"_s),
            u"echo \"$1\" >> '%1'; exit \"$(cat '%2')\""_s.arg(path(u"opened.log"_s), path(u"opener-status"_s)));
        const auto dialog = [] {
            const QWidgetList windows = QApplication::topLevelWidgets();
            for (QWidget *window : windows)
                if (window->objectName() == u"folderPathDialog"_s && window->isVisible())
                    return window;
            return static_cast<QWidget *>(nullptr);
        };

        QDBusConnection desktopBus = connection();
        FileManager fileManager;
        QVERIFY(desktopBus.registerObject(u"/org/freedesktop/FileManager1"_s, &fileManager,
                                          QDBusConnection::ExportAllSlots));
        QVERIFY(desktopBus.registerService(u"org.freedesktop.FileManager1"_s));
        TestSupport::writeFile(path(u"opener-status"_s), "0");
        LinuxDesktopServices services(connection(), opener);
        services.revealFile(file, DesktopServices::Reveal::asked);
        QTRY_COMPARE(fileManager.shown, QStringList({QString::fromUtf8(QUrl::fromLocalFile(file).toEncoded())}));

        QVERIFY(desktopBus.unregisterService(u"org.freedesktop.FileManager1"_s));
        services.revealFile(file, DesktopServices::Reveal::asked);
        QTRY_COMPARE(TestSupport::readFile(path(u"opened.log"_s)), folder.toUtf8() + '\n');
        QTest::qWait(100);
        QVERIFY(!dialog());

        // xdg-open's status when no program can open a folder.
        TestSupport::writeFile(path(u"opener-status"_s), "3");
        services.revealFile(file, DesktopServices::Reveal::asked);
        QTRY_VERIFY(dialog());
        QWidget *shown = dialog();
        QCOMPARE(shown->findChild<QLineEdit *>(u"folderPathField"_s)->text(), folder);
        QVERIFY(TestSupport::saveScreenshot(shown, u"folder-path-dialog"_s));
        QTest::mouseClick(shown->findChild<QPushButton *>(u"copyFolderPathButton"_s), Qt::LeftButton);
        QCOMPARE(QGuiApplication::clipboard()->text(), folder);
        shown->close();
        QTRY_VERIFY(!dialog());

        // An opener that cannot start: the same dialog, but only when the user asked.
        LinuxDesktopServices noOpener(connection(), path(u"missing-opener"_s));
        noOpener.revealFile(file, DesktopServices::Reveal::automatic);
        services.revealFile(file, DesktopServices::Reveal::automatic);
        QTRY_COMPARE(TestSupport::readFile(path(u"opened.log"_s)).count('\n'), 3);
        QTest::qWait(200);
        QVERIFY(!dialog());
        noOpener.revealFile(file, DesktopServices::Reveal::asked);
        QTRY_VERIFY(dialog());
        dialog()->close();
    }
};

QTEST_MAIN(DesktopIntegrationTest)
#include "tst_desktopintegration.moc"
