#include "process/processrunner.h"
#include "process/processtree.h"
#include "testsupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "common/blockingwait.h"

class TestProcessRunner : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString script(const QString &name, const QString &body) {
        return TestSupport::writeScript(m_dir.filePath(name), body);
    }

private Q_SLOTS:
    void linesStreamWhileTheChildRuns() {
        // The child stops after "a\r\nb\rc" until the test has seen both finished lines, so the
        // lines can only have arrived while it was running.
        const QString release = m_dir.filePath(QStringLiteral("release"));
        const QString path =
            script(QStringLiteral("stream.sh"), QStringLiteral("printf 'a\\r\\nb\\rc'\n"
                                                               "while [ ! -e '%1' ]; do sleep 0.02; done\n")
                                                    .arg(release));
        QStringList lines;
        bool cArrivedEarly = false;
        const ProcessResult result =
            BlockingWait::wait(ProcessRunner::run(path, {}, std::nullopt, {}, [&](const QString &line) {
                lines.append(line);
                if (line == QLatin1String("c") && !QFile::exists(release))
                    cArrivedEarly = true;
                if (lines == QStringList{QStringLiteral("a"), QStringLiteral("b")})
                    TestSupport::writeFile(release, {});
            }));
        QCOMPARE(result.status, 0);
        QCOMPARE(lines, (QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}));
        QVERIFY(!cArrivedEarly);
        QCOMPARE(result.standardOutput, QByteArray("a\r\nb\rc"));
    }

    void separatorsAndBlankOutput() {
        QStringList lines;
        auto collect = [&](const QString &line) { lines.append(line); };
        ProcessResult result = BlockingWait::wait(
            ProcessRunner::run(script(QStringLiteral("newlines.sh"), QStringLiteral("printf '\\n\\n\\r\\n\\f\\v'")), {},
                               std::nullopt, {}, collect));
        QVERIFY(lines.isEmpty());
        QCOMPARE(result.standardOutput, QByteArray("\n\n\r\n\f\v"));

        // Unicode line and paragraph separators end lines too; spaces are kept as they are.
        result = BlockingWait::wait(ProcessRunner::run(
            script(QStringLiteral("unicode.sh"), QStringLiteral("printf 'uno\\342\\200\\250dos\\302\\205  \\n'")), {},
            std::nullopt, {}, collect));
        QCOMPARE(lines, (QStringList{QStringLiteral("uno"), QStringLiteral("dos"), QStringLiteral("  ")}));
    }

    void characterSplitBetweenChunksStaysWhole() {
        // "é" is written as two separate bytes with a pause between them.
        QStringList lines;
        BlockingWait::wait(ProcessRunner::run(
            script(QStringLiteral("split.sh"), QStringLiteral("printf 'caf\\303'; sleep 0.3; printf '\\251\\n\\377x'")),
            {}, std::nullopt, {}, [&](const QString &line) { lines.append(line); }));
        QCOMPARE(lines, (QStringList{QStringLiteral("café"), QStringLiteral("\uFFFDx")}));
    }

    void outputStaysWithinBounds() {
        // 2.5 MB without a line end, then one line: the long line comes in 1 MiB pieces and only
        // the tail asked for is kept.
        const QString path = script(QStringLiteral("long.sh"),
                                    QStringLiteral("head -c 2500000 /dev/zero | tr '\\0' a; printf '\\nend\\n'"));
        QList<qsizetype> lengths;
        ProcessOptions options;
        options.retainedOutputTail = 65536;
        const ProcessResult result = BlockingWait::wait(ProcessRunner::run(
            path, {}, std::nullopt, {}, [&](const QString &line) { lengths.append(line.size()); }, options));
        QCOMPARE(lengths, (QList<qsizetype>{1048576, 1048576, 402848, 3}));
        QCOMPARE(result.standardOutput.size(), 65536);
        QCOMPARE(result.standardOutput, QByteArray(65531, 'a').append("\nend\n"));
    }

    void childInItsOwnGroupWithoutTheTerminal() {
        ProcessOptions options;
        options.ownProcessGroup = true;
        options.dieWithApplication = true;
        const ProcessResult result = BlockingWait::wait(ProcessRunner::run(
            script(QStringLiteral("group.sh"),
                   QStringLiteral("echo \"$$ $(cut -d' ' -f5 /proc/$$/stat) $(readlink /proc/$$/fd/0)\"")),
            {}, std::nullopt, {}, {}, options));
        const QList<QByteArray> fields = result.standardOutput.trimmed().split(' ');
        QCOMPARE(fields.size(), 3);
        QCOMPARE(fields.at(1), fields.at(0)); // process group id = its own id
        QCOMPARE(fields.at(2), QByteArray("/dev/null"));
    }

    void bothStreamsAreKeptApartWithoutLineCallback() {
        const ProcessResult result = BlockingWait::wait(ProcessRunner::run(
            script(QStringLiteral("both.sh"), QStringLiteral("printf 'salida'; printf 'error' >&2; exit 1")), {}));
        QCOMPARE(result.status, 1);
        QCOMPARE(result.standardOutput, QByteArray("salida"));
        QCOMPARE(result.standardError, QByteArray("error"));
    }

    void argumentsArePassedWithoutAShell() {
        const QStringList arguments{QStringLiteral("$HOME"), QStringLiteral("a b"), QStringLiteral("'; rm -rf /"),
                                    QStringLiteral("ñandú")};
        const ProcessResult result = BlockingWait::wait(ProcessRunner::run(
            script(QStringLiteral("args.sh"), QStringLiteral("for a in \"$@\"; do printf '%s\\n' \"$a\"; done")),
            arguments));
        QCOMPARE(QString::fromUtf8(result.standardOutput), arguments.join(QLatin1Char('\n')) + QLatin1Char('\n'));
    }

    void environmentAbsentEmptyOrGiven() {
        qputenv("TORVEL_RUNNER_PROBE", "heredado");
        const QString env = QStringLiteral("/usr/bin/env");
        ProcessResult result = BlockingWait::wait(ProcessRunner::run(env, {}));
        QVERIFY(result.standardOutput.contains("TORVEL_RUNNER_PROBE=heredado"));

        result = BlockingWait::wait(ProcessRunner::run(env, {}, ProcessEnvironment{}));
        QCOMPARE(result.standardOutput, QByteArray());

        result = BlockingWait::wait(
            ProcessRunner::run(env, {}, ProcessEnvironment{{QStringLiteral("SOLO"), QStringLiteral("1")}}));
        QCOMPARE(result.standardOutput, QByteArray("SOLO=1\n"));
    }

    void missingOrNonExecutableProgramCannotStart_data() {
        QTest::addColumn<QString>("path");
        QTest::newRow("missing") << m_dir.filePath(QStringLiteral("no-such-tool"));
        QTest::newRow("not executable") << TestSupport::writeFile(m_dir.filePath(QStringLiteral("plain.txt")),
                                                                  "echo hi");
        QTest::newRow("bare name is not searched in PATH") << QStringLiteral("sh");
    }

    void missingOrNonExecutableProgramCannotStart() {
        QFETCH(QString, path);
        bool processSeen = false;
        bool lineSeen = false;
        try {
            BlockingWait::wait(ProcessRunner::run(
                path, {}, std::nullopt, [&](const ProcessHandle &) { processSeen = true; },
                [&](const QString &) { lineSeen = true; }));
            QFAIL("the run should not start");
        } catch (const ProcessRunnerError &error) {
            QCOMPARE(error.kind(), ProcessRunnerError::Kind::couldNotStart);
            QVERIFY(error.errorDescription().startsWith(QStringLiteral("No se pudo iniciar la herramienta: ")));
            QVERIFY(error.errorDescription().size() > 36);
        }
        QVERIFY(!processSeen);
        QVERIFY(!lineSeen);
    }

    void terminatedChildReportsSignalAndEarlierOutput() {
        ProcessHandle handle;
        const ProcessResult result = BlockingWait::wait(ProcessRunner::run(
            script(QStringLiteral("long.sh"), QStringLiteral("echo antes\nexec sleep 30")), {}, std::nullopt,
            [&](const ProcessHandle &h) { handle = h; },
            [&](const QString &line) {
                if (line == QLatin1String("antes"))
                    handle.terminate();
            }));
        QVERIFY(handle.processID() > 0);
        QCOMPARE(result.status, 15);
        QCOMPARE(result.standardOutput, QByteArray("antes\n"));

        ProcessHandle killed;
        const ProcessResult killedResult =
            BlockingWait::wait(ProcessRunner::run(script(QStringLiteral("long2.sh"), QStringLiteral("exec sleep 30")),
                                                  {}, std::nullopt, [&](const ProcessHandle &h) { h.kill(); }));
        QCOMPARE(killedResult.status, 9);
    }

    void twoWritersInterleaveWithoutLosingLines() {
        const QString path =
            script(QStringLiteral("writers.sh"),
                   QStringLiteral("i=0; while [ $i -lt 300 ]; do echo \"out $i\"; i=$((i+1)); done &\n"
                                  "j=0; while [ $j -lt 300 ]; do echo \"err $j\" >&2; j=$((j+1)); done &\n"
                                  "wait"));
        QStringList outLines;
        QStringList errLines;
        const ProcessResult result =
            BlockingWait::wait(ProcessRunner::run(path, {}, std::nullopt, {}, [&](const QString &line) {
                (line.startsWith(QLatin1String("out")) ? outLines : errLines).append(line);
            }));
        QCOMPARE(outLines.size(), 300);
        QCOMPARE(errLines.size(), 300);
        for (int i = 0; i < 300; ++i) {
            QCOMPARE(outLines.at(i), QStringLiteral("out %1").arg(i));
            QCOMPARE(errLines.at(i), QStringLiteral("err %1").arg(i));
        }
        QVERIFY(!result.standardOutput.contains("err"));
        QVERIFY(!result.standardError.contains("out"));
    }

    void descendantsComeInPostOrder() {
        // 10 started 20 and 40 (in that order), 20 started 30; 50 is unrelated; 60 and 70 form a loop.
        const QList<QPair<qint32, qint32>> pairs{{20, 10}, {40, 10}, {30, 20}, {50, 1}, {60, 70}, {70, 60}};
        QCOMPARE(ProcessTree::descendantsFromPairs(pairs, 10), (QList<qint32>{30, 20, 40}));
        QCOMPARE(ProcessTree::descendantsFromPairs(pairs, 60), (QList<qint32>{70}));
        QCOMPARE(ProcessTree::descendantsFromPairs(pairs, 99), QList<qint32>());
    }

    void terminatingATreeReachesGrandchildrenAndKillsStragglers() {
        // A child that ignores SIGTERM keeps a grandchild; both must be gone after the grace period.
        const QString path =
            script(QStringLiteral("tree.sh"), QStringLiteral("sleep 60 &\n"
                                                             "sh -c 'trap \"\" TERM; sleep 60 & wait' &\n"
                                                             "sleep 0.2; echo ready; wait"));
        ProcessHandle handle;
        QList<qint32> tree;
        const ProcessResult result = BlockingWait::wait(ProcessRunner::run(
            path, {}, std::nullopt, [&](const ProcessHandle &h) { handle = h; },
            [&](const QString &line) {
                if (line != QLatin1String("ready"))
                    return;
                tree = ProcessTree::descendantProcessIDs(qint32(handle.processID()));
                ProcessTree::terminate(qint32(handle.processID()), std::chrono::milliseconds(300));
            }));
        QCOMPARE(result.status, 15);
        QCOMPARE(tree.size(), 3);
        QTRY_VERIFY_WITH_TIMEOUT(std::none_of(tree.cbegin(), tree.cend(), ProcessTree::isRunning), 3000);
    }
};

QTEST_GUILESS_MAIN(TestProcessRunner)
#include "tst_processrunner.moc"
