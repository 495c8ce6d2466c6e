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
    int m_scripts = 0;
    // Runs a new /bin/sh script with the given body to its end.
    ProcessResult run(const QString &body, const QStringList &arguments = {}, const ProcessCallback &onProcess = {},
                      const LineCallback &onLine = {}, const ProcessOptions &options = {}) {
        const QString path = TestSupport::writeScript(m_dir.filePath(QString::number(++m_scripts)), body);
        return BlockingWait::wait(ProcessRunner::run(path, arguments, std::nullopt, onProcess, onLine, options));
    }

private Q_SLOTS:
    void linesStreamWhileTheChildRuns() {
        // The child stops after "a\r\nb\rc" until the test has seen both finished lines, so the
        // lines can only have arrived while it was running.
        const QString release = m_dir.filePath(u"release"_s);
        QStringList lines;
        bool cArrivedEarly = false;
        const ProcessResult result =
            run(u"printf 'a\\r\\nb\\rc'\nwhile [ ! -e '%1' ]; do sleep 0.02; done\n"_s.arg(release), {}, {},
                [&](const QString &line) {
                    lines.append(line);
                    if (line == QLatin1String("c") && !QFile::exists(release))
                        cArrivedEarly = true;
                    if (lines == QStringList{u"a"_s, u"b"_s})
                        TestSupport::writeFile(release, {});
                });
        QCOMPARE(result, (ProcessResult{0, "a\r\nb\rc", {}}));
        QCOMPARE(lines, (QStringList{u"a"_s, u"b"_s, u"c"_s}));
        QVERIFY(!cArrivedEarly);
    }

    void linesAreSplitAndDecoded() {
        // A script, the lines it reports and its whole output.
        for (const auto &[body, lines, output] : std::initializer_list<std::tuple<QString, QStringList, QByteArray>>{
                 {u"printf '\\n\\n\\r\\n\\f\\v'"_s, {}, "\n\n\r\n\f\v"}, // blank lines and separators only
                 // Unicode line and paragraph separators end lines too; spaces are kept as they are.
                 {u"printf 'uno\\342\\200\\250dos\\302\\205  \\n'"_s,
                  {u"uno"_s, u"dos"_s, u"  "_s},
                  "uno\xe2\x80\xa8"
                  "dos\xc2\x85  \n"},
                 // "é" is written as two separate bytes with a pause between them.
                 {u"printf 'caf\\303'; sleep 0.3; printf '\\251\\n\\377x'"_s,
                  {u"café"_s, u"\uFFFDx"_s},
                  "caf\xc3\xa9\n\xffx"}}) {
            QStringList seen;
            QCOMPARE(run(body, {}, {}, [&](const QString &line) { seen.append(line); }).standardOutput, output);
            QCOMPARE(seen, lines);
        }
    }

    void outputStaysWithinBounds() {
        // 2.5 MB without a line end, then one line: the long line comes in 1 MiB pieces and only
        // the tail asked for is kept.
        QList<qsizetype> lengths;
        ProcessOptions options;
        options.retainedOutputTail = 65536;
        const ProcessResult result = run(
            u"head -c 2500000 /dev/zero | tr '\\0' a; printf '\\nend\\n'"_s, {}, {},
            [&](const QString &line) { lengths.append(line.size()); }, options);
        QCOMPARE(lengths, (QList<qsizetype>{1048576, 1048576, 402848, 3}));
        QCOMPARE(result.standardOutput, QByteArray(65531, 'a').append("\nend\n"));
    }

    void childInItsOwnGroupWithoutTheTerminal() {
        ProcessOptions options;
        options.ownProcessGroup = true;
        options.dieWithApplication = true;
        const QList<QByteArray> fields =
            run(u"echo \"$$ $(cut -d' ' -f5 /proc/$$/stat) $(readlink /proc/$$/fd/0)\""_s, {}, {}, {}, options)
                .standardOutput.trimmed()
                .split(' ');
        QCOMPARE(fields.size(), 3);
        QCOMPARE(fields.at(1), fields.at(0)); // process group id = its own id
        QCOMPARE(fields.at(2), QByteArray("/dev/null"));
    }

    void streamsArgumentsAndEnvironment() {
        // Without a line callback the two streams stay apart too.
        QCOMPARE(run(u"printf 'salida'; printf 'error' >&2; exit 1"_s), (ProcessResult{1, "salida", "error"}));

        const QStringList arguments{u"$HOME"_s, u"a b"_s, u"'; rm -rf /"_s, u"ñandú"_s};
        QCOMPARE(QString::fromUtf8(run(u"for a in \"$@\"; do printf '%s\\n' \"$a\"; done"_s, arguments).standardOutput),
                 arguments.join(QLatin1Char('\n')) + QLatin1Char('\n'));

        // The environment: inherited when absent, empty when empty, exactly the one given.
        qputenv("TORVEL_RUNNER_PROBE", "heredado");
        const auto env = [](std::optional<ProcessEnvironment> environment) {
            return BlockingWait::wait(ProcessRunner::run(u"/usr/bin/env"_s, {}, std::move(environment))).standardOutput;
        };
        QVERIFY(env(std::nullopt).contains("TORVEL_RUNNER_PROBE=heredado"));
        QCOMPARE(env(ProcessEnvironment{}), QByteArray());
        QCOMPARE(env(ProcessEnvironment{{u"SOLO"_s, u"1"_s}}), QByteArray("SOLO=1\n"));
    }

    void missingOrNonExecutableProgramCannotStart() {
        // A missing program, a file that is not executable, and a bare name, never searched in PATH.
        for (const QString &path : {m_dir.filePath(u"no-such-tool"_s),
                                    TestSupport::writeFile(m_dir.filePath(u"plain.txt"_s), "echo hi"), u"sh"_s}) {
            bool called = false;
            try {
                BlockingWait::wait(ProcessRunner::run(
                    path, {}, std::nullopt, [&](const ProcessHandle &) { called = true; },
                    [&](const QString &) { called = true; }));
                QFAIL("the run should not start");
            } catch (const ProcessRunnerError &error) {
                QCOMPARE(error.kind(), ProcessRunnerError::Kind::couldNotStart);
                QVERIFY(error.errorDescription().startsWith(u"No se pudo iniciar la herramienta: "_s));
                QVERIFY(error.errorDescription().size() > 36);
            }
            QVERIFY(!called);
        }
    }

    void terminatedChildReportsSignalAndEarlierOutput() {
        ProcessHandle handle;
        const ProcessResult result = run(
            u"echo antes\nexec sleep 30"_s, {}, [&](const ProcessHandle &h) { handle = h; },
            [&](const QString &line) {
                if (line == QLatin1String("antes"))
                    handle.terminate();
            });
        QVERIFY(handle.processID() > 0);
        QCOMPARE(result, (ProcessResult{15, "antes\n", {}}));
        QCOMPARE(run(u"exec sleep 30"_s, {}, [&](const ProcessHandle &h) { h.kill(); }).status, 9);
    }

    void twoWritersInterleaveWithoutLosingLines() {
        QStringList lines[2], expected[2];
        for (int i = 0; i < 300; ++i) {
            expected[0].append(u"out %1"_s.arg(i));
            expected[1].append(u"err %1"_s.arg(i));
        }
        const ProcessResult result =
            run(u"i=0; while [ $i -lt 300 ]; do echo \"out $i\"; i=$((i+1)); done &\n"
                "j=0; while [ $j -lt 300 ]; do echo \"err $j\" >&2; j=$((j+1)); done &\nwait"_s,
                {}, {}, [&](const QString &line) { lines[line.startsWith(QLatin1String("err"))].append(line); });
        QCOMPARE(lines[0], expected[0]);
        QCOMPARE(lines[1], expected[1]);
        QVERIFY(!result.standardOutput.contains("err"));
        QVERIFY(!result.standardError.contains("out"));
    }

    // Stopping a whole tree, stragglers included, is proved where the services cancel their tools.
    void descendantsComeInPostOrder() {
        // 10 started 20 and 40 (in that order), 20 started 30; 50 is unrelated; 60 and 70 form a loop.
        const QList<QPair<qint32, qint32>> pairs{{20, 10}, {40, 10}, {30, 20}, {50, 1}, {60, 70}, {70, 60}};
        QCOMPARE(ProcessTree::descendantsFromPairs(pairs, 10), (QList<qint32>{30, 20, 40}));
        QCOMPARE(ProcessTree::descendantsFromPairs(pairs, 60), (QList<qint32>{70}));
        QCOMPARE(ProcessTree::descendantsFromPairs(pairs, 99), QList<qint32>());
    }
};

QTEST_GUILESS_MAIN(TestProcessRunner)
#include "tst_processrunner.moc"
