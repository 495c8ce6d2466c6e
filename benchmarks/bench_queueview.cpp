// The queue view with 1,000 items: from opening the store to the list's first paint (wall time),
// and the idle memory (resident set) with those items on screen over an empty queue on screen.
// Run it in a Release build, with QT_QPA_PLATFORM=offscreen for a headless run.
#include "fakedesktopservices.h"
#include "model/appsettings.h"
#include "model/downloadqueue.h"
#include "queue/queuelistmodel.h"
#include "ui/queue/queueview.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QListView>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <cstdio>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

constexpr int queueItems = 1000;

// VmRSS of /proc/self/status, in kilobytes.
qint64 residentKilobytes() {
    QFile status(u"/proc/self/status"_s);
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    const QRegularExpression line(u"^VmRSS:\\s+(\\d+) kB"_s, QRegularExpression::MultilineOption);
    return line.match(QString::fromLatin1(status.readAll())).captured(1).toLongLong();
}

// Turns of the event loop for a while, so that what was shown settles.
void settle(int milliseconds = 300) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < milliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

// Notes the list's first paint.
class PaintWatch : public QObject {
public:
    bool painted = false;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() == QEvent::Paint)
            painted = true;
        return QObject::eventFilter(watched, event);
    }
};

struct Shown {
    std::unique_ptr<DownloadQueue> queue;
    std::unique_ptr<QueueView> view;
};

// Opens the store, builds the model and the view and shows it, until the list has painted.
Shown show(AppSettings &settings, DesktopServices &desktop, const QString &file) {
    Shown shown;
    shown.queue = std::make_unique<DownloadQueue>(settings, file);
    shown.view = std::make_unique<QueueView>(*shown.queue, desktop);
    PaintWatch watch;
    shown.view->list()->viewport()->installEventFilter(&watch);
    shown.view->resize(900, 420);
    shown.view->show();
    while (!watch.painted)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    shown.view->list()->viewport()->removeEventFilter(&watch);
    return shown;
}

} // namespace

int main(int argc, char **argv) {
    QApplication application(argc, argv);
    QTemporaryDir dir;
    QSettings store(dir.filePath(u"settings.ini"_s), QSettings::IniFormat);
    AppSettings settings(&store, dir.filePath(u"Descargas"_s), dir.path());
    FakeDesktopServices desktop;
    QTextStream out(stdout);

    const QString full = dir.filePath(u"full.sqlite"_s);
    {
        QueueStore filling(full);
        for (int i = 0; i < queueItems; ++i) {
            QueueItem item;
            item.url = u"https://www.example.com/watch?v=%1"_s.arg(i);
            item.title = u"Video número %1 con un título de longitud corriente"_s.arg(i);
            item.destination = u"/home/user/Descargas"_s;
            item.state = i % 10 == 0 ? QueueState::completed : QueueState::waiting;
            filling.add(item);
        }
    }

    // The empty queue on screen first: the memory after it is the baseline.
    Shown empty = show(settings, desktop, dir.filePath(u"empty.sqlite"_s));
    settle();
    const qint64 emptyResident = residentKilobytes();

    QElapsedTimer timer;
    timer.start();
    Shown shown = show(settings, desktop, full);
    const double opening = timer.nsecsElapsed() / 1e6;
    if (shown.view->model()->rowCount() != queueItems)
        std::fprintf(stderr, "unexpected queue contents\n");
    settle();
    const qint64 fullResident = residentKilobytes();

    out << "A queue of " << queueItems << " items opened and painted: " << QString::number(opening, 'f', 1)
        << " ms (the aim is under 1 s in a Release build)\n"
        << "Idle memory with them on screen over an empty queue: "
        << QString::number((fullResident - emptyResident) / 1024.0, 'f', 1) << " MB (the aim is at most 20 MB)\n";
    return 0;
}
