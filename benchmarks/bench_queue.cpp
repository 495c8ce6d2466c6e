// The download queue: how long a store of 1,000 items takes to open and list, and how three
// throttled local downloads run side by side (--jobs 3) against one of them alone, with Debian's
// yt-dlp against a clip served on 127.0.0.1.
#include "common/blockingwait.h"
#include "mediafixtures.h"
#include "queue/queuerunner.h"
#include "scriptedhttpserver.h"
#include "testsupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

constexpr int storeItems = 1000;

double openStore(const QString &file) {
    {
        QueueStore store(file);
        for (int i = 0; i < storeItems; ++i) {
            QueueItem item;
            item.url = u"https://www.example.com/watch?v=%1"_s.arg(i);
            item.title = u"Video número %1 con un título de longitud corriente"_s.arg(i);
            item.destination = u"/home/user/Descargas"_s;
            item.state = i % 10 == 0 ? QueueState::completed : QueueState::waiting;
            store.add(item);
        }
    }
    QElapsedTimer timer;
    timer.start();
    const QueueStore store(file);
    const QList<QueueItem> items = store.items();
    const QHash<QueueState, int> counts = store.counts();
    const double elapsed = timer.nsecsElapsed() / 1e6;
    if (items.size() != storeItems || counts.value(QueueState::completed) != storeItems / 10)
        std::fprintf(stderr, "unexpected store contents\n");
    return elapsed;
}

double runDownloads(const QString &folder, const QList<QUrl> &addresses, int jobs) {
    QueueStore store(folder + u"/Queue.sqlite"_s);
    for (const QUrl &address : addresses) {
        QueueItem item;
        item.url = address.toString();
        item.destination = folder + u"/out"_s;
        store.add(item);
    }
    QueueRunner runner(store, {u"/usr/bin/yt-dlp"_s, QString(), u"/usr/bin/ffmpeg"_s}, JobFolders(folder + u"/Jobs"_s));
    runner.setMaximumJobs(jobs);
    QElapsedTimer timer;
    timer.start();
    runner.start();
    BlockingWait::wait(runner.untilIdle());
    const double elapsed = timer.nsecsElapsed() / 1e9;
    for (const QueueItem &item : store.items())
        if (item.state != QueueState::completed)
            std::fprintf(stderr, "item %lld: %s\n", item.id, qPrintable(item.error));
    return elapsed;
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication application(argc, argv);
    QTemporaryDir dir;
    QTextStream out(stdout);
    out << "Opening a store of " << storeItems
        << " items and listing them: " << QString::number(openStore(dir.filePath(u"big.sqlite"_s)), 'f', 1) << " ms\n";
    out.flush();

    if (!MediaFixtures::toolsAvailable()) {
        out << "Debian's yt-dlp and ffmpeg are not installed: no download figures.\n";
        return 0;
    }
    const QString clipFile = dir.filePath(u"clip.webm"_s);
    if (!MediaFixtures::makeWebM(clipFile, 8))
        return 1;
    const QByteArray clip = TestSupport::readFile(clipFile);
    ScriptedHttpServer server;
    // About four seconds per clip: the transfer, not yt-dlp's start, sets the time.
    ScriptedHttpServer::Response served = ScriptedHttpServer::Response::throttled(clip, int(clip.size() / 80 + 1));
    served.headers = {{"Content-Type", "video/webm"}};
    for (const QString &path : {u"/one.webm"_s, u"/a.webm"_s, u"/b.webm"_s, u"/c.webm"_s})
        server.route(path, served);
    QDir(dir.path()).mkpath(u"alone"_s);
    QDir(dir.path()).mkpath(u"three"_s);
    const double alone = runDownloads(dir.filePath(u"alone"_s), {server.url(u"/one.webm"_s)}, 1);
    const double three = runDownloads(
        dir.filePath(u"three"_s), {server.url(u"/a.webm"_s), server.url(u"/b.webm"_s), server.url(u"/c.webm"_s)}, 3);
    out << "One throttled download alone: " << QString::number(alone, 'f', 2) << " s\n"
        << "Three at once (--jobs 3): " << QString::number(three, 'f', 2) << " s ("
        << QString::number(three / alone, 'f', 2) << "× one alone; the aim is at most 1.5×)\n";
    return 0;
}
