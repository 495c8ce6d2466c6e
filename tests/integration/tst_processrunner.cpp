#include "process/processrunner.h"
#include "process/processtree.h"
#include "testsupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "common/blockingwait.h"

using namespace Qt::StringLiterals;

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
        const QString release = m_dir.filePath(u"release"_s);
        const QString path = script(u"stream.sh"_s, u"printf 'a\\r\\nb\\rc'\n"
                                                    "while [ ! -e '%1' ]; do sleep 0.02; done\n"_s.arg(release));
        QStringList lines;
        bool cArrivedEarly = false;
        const ProcessResult result =
            BlockingWait::wait(ProcessRunner::run(path, {}, std::nullopt, {}, [&](const QString &line) {
                lines.append(line);
                if (line == QLatin1String("c") && !QFile::exists(release))
                    cArrivedEarly = true;
                if (lines == QStringList{u"a"_s, u"b"_s})
                    TestSupport::writeFile(release, {});
            }));
        QCOMPARE(result.status, 0);
        QCOMPARE(lines, (QStringList{u"a"_s, u"b"_s, u"c"_s}));
        QVERIFY(!cArrivedEarly);
        QCOMPARE(result.standardOutput, QByteArray("a\r\nb\rc"));
    }

    void separatorsAndBlankOutput() {
        QStringList lines;
        auto collect = [&](const QString &line) { lines.append(line); };
        ProcessResult result = BlockingWait::wait(ProcessRunner::run(
            script(u"newlines.sh"_s, u"printf '\\n\\n\\r\\n\\f\\v'"_s), {}, std::nullopt, {}, collect));
        QVERIFY(lines.isEmpty());
        QCOMPARE(result.standardOutput, QByteArray("\n\n\r\n\f\v"));

        // Unicode line and paragraph separators end lines too; spaces are kept as they are.
        result = BlockingWait::wait(
            ProcessRunner::run(script(u"unicode.sh"_s, u"printf 'uno\\342\\200\\250dos\\302\\205  \\n'"_s), {},
                               std::nullopt, {}, collect));
        QCOMPARE(lines, (QStringList{u"uno"_s, u"dos"_s, u"  "_s}));
    }

    void characterSplitBetweenChunksStaysWhole() {
        // "é" is written as two separate bytes with a pause between them.
        QStringList lines;
        BlockingWait::wait(
            ProcessRunner::run(script(u"split.sh"_s, u"printf 'caf\\303'; sleep 0.3; printf '\\251\\n\\377x'"_s), {},
                               std::nullopt, {}, [&](const QString &line) { lines.append(line); }));
        QCOMPARE(lines, (QStringList{u"café"_s, u"\uFFFDx"_s}));
    }

    void outputStaysWithinBounds() {
        // 2.5 MB without a line end, then one line: the long line comes in 1 MiB pieces and only
        // the tail asked for is kept.
        const QString path = script(u"long.sh"_s, u"head -c 2500000 /dev/zero | tr '\\0' a; printf '\\nend\\n'"_s);
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
            script(u"group.sh"_s, u"echo \"$$ $(cut -d' ' -f5 /proc/$$/stat) $(readlink /proc/$$/fd/0)\""_s), {},
            std::nullopt, {}, {}, options));
        const QList<QByteArray> fields = result.standardOutput.trimmed().split(' ');
        QCOMPARE(fields.size(), 3);
        QCOMPARE(fields.at(1), fields.at(0)); // process group id = its own id
        QCOMPARE(fields.at(2), QByteArray("/dev/null"));
    }

    void bothStreamsAreKeptApartWithoutLineCallback() {
        const ProcessResult result = BlockingWait::wait(
            ProcessRunner::run(script(u"both.sh"_s, u"printf 'salida'; printf 'error' >&2; exit 1"_s), {}));
        QCOMPARE(result.status, 1);
        QCOMPARE(result.standardOutput, QByteArray("salida"));
        QCOMPARE(result.standardError, QByteArray("error"));
    }

    void argumentsArePassedWithoutAShell() {
        const QStringList arguments{u"$HOME"_s, u"a b"_s, u"'; rm -rf /"_s, u"ñandú"_s};
        const ProcessResult result = BlockingWait::wait(
            ProcessRunner::run(script(u"args.sh"_s, u"for a in \"$@\"; do printf '%s\\n' \"$a\"; done"_s), arguments));
        QCOMPARE(QString::fromUtf8(result.standardOutput), arguments.join(QLatin1Char('\n')) + QLatin1Char('\n'));
    }

    void environmentAbsentEmptyOrGiven() {
        qputenv("TORVEL_RUNNER_PROBE", "heredado");
        const QString env = u"/usr/bin/env"_s;
        ProcessResult result = BlockingWait::wait(ProcessRunner::run(env, {}));
        QVERIFY(result.standardOutput.contains("TORVEL_RUNNER_PROBE=heredado"));

        result = BlockingWait::wait(ProcessRunner::run(env, {}, ProcessEnvironment{}));
        QCOMPARE(result.standardOutput, QByteArray());

        result = BlockingWait::wait(ProcessRunner::run(env, {}, ProcessEnvironment{{u"SOLO"_s, u"1"_s}}));
        QCOMPARE(result.standardOutput, QByteArray("SOLO=1\n"));
    }

    void missingOrNonExecutableProgramCannotStart_data() {
        QTest::addColumn<QString>("path");
        QTest::newRow("missing") << m_dir.filePath(u"no-such-tool"_s);
        QTest::newRow("not executable") << TestSupport::writeFile(m_dir.filePath(u"plain.txt"_s), "echo hi");
        QTest::newRow("bare name is not searched in PATH") << u"sh"_s;
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
            QVERIFY(error.errorDescription().startsWith(u"No se pudo iniciar la herramienta: "_s));
            QVERIFY(error.errorDescription().size() > 36);
        }
        QVERIFY(!processSeen);
        QVERIFY(!lineSeen);
    }

    void terminatedChildReportsSignalAndEarlierOutput() {
        ProcessHandle handle;
        const ProcessResult result = BlockingWait::wait(ProcessRunner::run(
            script(u"long.sh"_s, u"echo antes\nexec sleep 30"_s), {}, std::nullopt,
            [&](const ProcessHandle &h) { handle = h; },
            [&](const QString &line) {
                if (line == QLatin1String("antes"))
                    handle.terminate();
            }));
        QVERIFY(handle.processID() > 0);
        QCOMPARE(result.status, 15);
        QCOMPARE(result.standardOutput, QByteArray("antes\n"));

        ProcessHandle killed;
        const ProcessResult killedResult = BlockingWait::wait(ProcessRunner::run(
            script(u"long2.sh"_s, u"exec sleep 30"_s), {}, std::nullopt, [&](const ProcessHandle &h) { h.kill(); }));
        QCOMPARE(killedResult.status, 9);
    }

    void twoWritersInterleaveWithoutLosingLines() {
        const QString path =
            script(u"writers.sh"_s, u"i=0; while [ $i -lt 300 ]; do echo \"out $i\"; i=$((i+1)); done &\n"
                                    "j=0; while [ $j -lt 300 ]; do echo \"err $j\" >&2; j=$((j+1)); done &\n"
                                    "wait"_s);
        QStringList outLines;
        QStringList errLines;
        const ProcessResult result =
            BlockingWait::wait(ProcessRunner::run(path, {}, std::nullopt, {}, [&](const QString &line) {
                (line.startsWith(QLatin1String("out")) ? outLines : errLines).append(line);
            }));
        QCOMPARE(outLines.size(), 300);
        QCOMPARE(errLines.size(), 300);
        for (int i = 0; i < 300; ++i) {
            QCOMPARE(outLines.at(i), u"out %1"_s.arg(i));
            QCOMPARE(errLines.at(i), u"err %1"_s.arg(i));
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
        const QString path = script(u"tree.sh"_s, u"sleep 60 &\n"
                                                  "sh -c 'trap \"\" TERM; sleep 60 & wait' &\n"
                                                  "sleep 0.2; echo ready; wait"_s);
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
        QTRY_VERIFY_WITH_TIMEOUT(std::none_of(tree.cbegin(), tree.cend(), TestSupport::isRunning), 3000);
    }
};

QTEST_GUILESS_MAIN(TestProcessRunner)
#include "tst_processrunner.moc"
