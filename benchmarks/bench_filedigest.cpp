// SHA-256 of a large file through the digest tool management uses (on a worker thread), next to `sha256sum` on the
// same file. Runs alternate so that the page cache treats both alike; the median of each is
// compared. Usage: bench_filedigest [MEGABYTES] [ROUNDS]
#include "common/blockingwait.h"
#include "common/filedigest.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

namespace {

double median(QList<double> values) {
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    const int megabytes = arguments.value(1, QStringLiteral("256")).toInt();
    const int rounds = arguments.value(2, QStringLiteral("7")).toInt();

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("data.bin"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return 1;
    QByteArray block(1024 * 1024, Qt::Uninitialized);
    for (int i = 0; i < megabytes; ++i) {
        QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(block.data()), block.size() / 4);
        file.write(block);
    }
    file.close();

    QList<double> ours, tool;
    for (int round = 0; round < rounds; ++round) {
        for (int turn = 0; turn < 2; ++turn) {
            const bool oursFirst = round % 2 == 0;
            QElapsedTimer clock;
            clock.start();
            if ((turn == 0) == oursFirst) {
                // As the installs call it: on a worker thread, awaited from the event loop.
                const QString digest = BlockingWait::wait(FileDigest::sha256InBackground(path));
                ours.append(clock.nsecsElapsed() / 1e6);
                if (digest.size() != 64)
                    return 1;
            } else {
                QProcess process;
                process.start(QStringLiteral("/usr/bin/sha256sum"), {path});
                if (!process.waitForFinished(-1) || process.exitCode() != 0)
                    return 1;
                tool.append(clock.nsecsElapsed() / 1e6);
            }
        }
        std::printf("round %d: FileDigest %.0f ms, sha256sum %.0f ms\n", round + 1, ours.last(), tool.last());
    }
    std::printf("median: FileDigest %.0f ms, sha256sum %.0f ms, ratio %.3f\n", median(ours), median(tool),
                median(ours) / median(tool));
    return 0;
}
