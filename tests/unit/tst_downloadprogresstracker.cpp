#include "media/downloadoutputprotocol.h"
#include "media/downloadprogresstracker.h"
#include "media/mediainfo.h"

#include <QLocale>
#include <QTest>

#include <cmath>

using Tracker = DownloadProgressTracker;

namespace {

QString u8(const char *text) {
    return QString::fromUtf8(text);
}
QString progress(const char *payload) {
    return u8("__TORVEL_PROGRESS__") + u8(payload);
}

// Feeds lines to a fresh tracker and keeps every snapshot it emits. The emitter reads the tracker
// back, which must neither deadlock nor see another fraction.
struct Run {
    QList<DownloadProgress> snapshots;
    Tracker tracker;
    Run(int expected, bool reserves)
        : tracker(expected, reserves, [this](const DownloadProgress &p) {
              snapshots.append(p);
              QCOMPARE(tracker.lastFraction(), p.fraction);
          }) {}
    const DownloadProgress &feed(const QStringList &lines) {
        for (const QString &line : lines)
            tracker.consume(line);
        static const DownloadProgress none;
        return snapshots.isEmpty() ? none : snapshots.constLast();
    }
};

} // namespace

class TestDownloadProgressTracker : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::Spanish, QLocale::Spain)); }

    void valueRules() {
        QCOMPARE(Tracker::percentage(u8(" 45,3%")), 0.453);
        QCOMPARE(Tracker::percentage(u8("NA")), 0.0);
        QCOMPARE(Tracker::percentage(u8("150%")), 1.0);
        QCOMPARE(Tracker::percentage(u8("-3%")), 0.0);
        QCOMPARE(Tracker::percentage(std::nullopt), 0.0);
        QCOMPARE(Tracker::integer(u8("12.0")), std::nullopt);
        QCOMPARE(Tracker::integer(u8("+42")), 42);
        QCOMPARE(Tracker::integer(u8(" -7\n")), -7);
        QCOMPARE(Tracker::integer(u8("")), std::nullopt);
        QCOMPARE(Tracker::integer(u8("+-5")), std::nullopt);
        QCOMPARE(Tracker::integer(u8("99999999999999999999")), std::nullopt);
        QCOMPARE(Tracker::number(u8(" 2.5e3\n")), 2500.0);
        QCOMPARE(Tracker::number(u8("2,5")), std::nullopt); // never the user's decimal comma
        QCOMPARE(Tracker::number(u8("NA")), std::nullopt);
        QVERIFY(std::isnan(Tracker::number(u8("nan")).value_or(0)));
        QVERIFY(!Tracker::meaningfulValue(u8(" NA ")));
        QVERIFY(!Tracker::meaningfulValue(u8("none")));
        QVERIFY(Tracker::meaningfulValue(u8("137")));
        QVERIFY(!Tracker::meaningfulCodec(std::nullopt));
    }

    void protocolPayloads() {
        const QString progressMarker = DownloadOutputProtocol::progressMarker();
        const QString fileMarker = DownloadOutputProtocol::fileMarker();
        // A line, a marker, and the fields after it; none: the marker is not in the line.
        for (const auto &[line, marker, fields] : std::initializer_list<std::tuple<QString, QString, QStringList>>{
                 {progress("12.5%|1024|NA"), progressMarker, {u8("12.5%"), u8("1024"), u8("NA")}},
                 // Only yt-dlp begins a line with a marker; in its own messages one is a site's text.
                 {u8("[download] Destination: /j/a__TORVEL_FILE__b.mp4"), fileMarker, {}},
                 {u8("__TORVEL_FILE__a|__TORVEL_FILE__b"), fileMarker, {u8("a"), u8("__TORVEL_FILE__b")}},
                 {progress("||"), progressMarker, {{}, {}, {}}},                            // empty fields are kept
                 {u8("__TORVEL_FILE__ /tmp/a b.mp4 "), fileMarker, {u8(" /tmp/a b.mp4 ")}}, // the path untrimmed
                 {u8("__TORVEL_PROGRES 50%"), progressMarker, {}}}) {
            const auto payload = DownloadOutputProtocol::payload(line, marker);
            QCOMPARE(payload.has_value(), !fields.isEmpty());
            if (payload)
                QCOMPARE(DownloadOutputProtocol::fields(*payload), fields);
            QCOMPARE(DownloadOutputProtocol::field(fields, fields.size()), std::nullopt);
        }
    }

    void recordEnds() {
        const QString report = u8("__TORVEL_POSTPROCESS__started|Merger");
        const QString complete = u8("__TORVEL_PROGRESS__50%|1|2|3|4|5|6|7|8|v|a");
        // A text and its first record; empty: its end is not known yet.
        for (const auto &[text, first] : std::initializer_list<std::pair<QString, QString>>{
                 {report, report},
                 {report + u8("__TORVEL_POSTPROCESS__finished|Merger"), report}, // glued to a report
                 {u8("__TORVEL_POSTPROCESS__started|ExtractAudioERROR: x"),
                  u8("__TORVEL_POSTPROCESS__started|ExtractAudio")},
                 {report + u8(" y __TORVEL_FILE__/x"), {}},  // a report with more text
                 {u8("__TORVEL_POSTPROCESS__started|"), {}}, // a report without a name
                 {report + complete, report},                // glued to progress
                 // Progress, plan and file records are whole lines, whatever their fields hold.
                 {complete + u8("__TORVEL_FILE__/x"), {}},
                 {u8("__TORVEL_PROGRESS__50%|1|2|3|4|5|6|7|x__TORVEL_FILE__y|v|a"), {}},
                 {u8("__TORVEL_PLAN__1|2|3|4|5|6|7|8|9|10__TORVEL_FILE__/x"), {}},
                 {u8("__TORVEL_FILE__/a__TORVEL_POSTPROCESS__started|Merger"), {}},
                 {u8("[Merger] Merging formats into \"/j/__TORVEL_POSTPROCESS__started|Merger\""), {}}})
            QCOMPARE(DownloadOutputProtocol::recordEnd(text), first.size());
    }

    void templatesCarryTheirFields() {
        using namespace DownloadOutputProtocol;
        const auto count = [](const QString &text, const QString &marker) {
            return fields(text.section(marker, 1)).size();
        };
        QCOMPARE(count(downloadProgressTemplate(), progressMarker()), 11);
        QCOMPARE(count(postprocessProgressTemplate(), postprocessMarker()), 2);
        QCOMPARE(count(planPrintTemplate(), planMarker()), 11);
        QCOMPARE(count(filePrintTemplate(), fileMarker()), 1);
    }

    void singleTransfer() {
        for (const bool reserves : {false, true}) { // post-processing reserved or not
            const double full = reserves ? 0.98 : 0.99;
            Run run(1, reserves);
            QCOMPARE(run.feed({progress(" 50.0%|500000|1000000|NA|NA|NA|NA|NA|18|avc1|mp4a")}).fraction, full / 2);
            QCOMPARE(run.feed({progress("100.0%|1000000|1000000|NA|NA|NA|NA|NA|18|avc1|mp4a")}).fraction, full);
            QCOMPARE(run.snapshots.last().phaseText, u8("Descargando video y audio"));
            run.tracker.finalizing();
            QCOMPARE(run.snapshots.last(),
                     (DownloadProgress{
                         0.999, u8("Guardando archivo…"), u8("Moviendo el resultado a la carpeta elegida"), {}, {}}));
            run.tracker.complete();
            QCOMPARE(run.snapshots.last(), (DownloadProgress{1, u8("Completado"), u8("Descarga completada"), {}, {}}));
        }
    }

    // A conversion foreseen keeps half of the bar; its reports fill what is left, never backwards.
    void conversionFillsWhatIsLeft() {
        QList<DownloadProgress> seen;
        Tracker tracker(
            1, true, [&seen](const DownloadProgress &p) { seen.append(p); }, 0.5);
        tracker.consume(progress("100.0%|1000000|1000000|NA|NA|NA|NA|NA|18|vp9|opus"));
        QCOMPARE(seen.last().fraction, 0.49);
        tracker.finalizing();
        QCOMPARE(seen.last().fraction, 0.4995);
        tracker.converting(0.5, u8("0:02 de 0:04 convertidos"), u8("Quedan 0:01"));
        QCOMPARE(seen.last(),
                 (DownloadProgress{
                     0.74925, u8("Convirtiendo video…"), u8("0:02 de 0:04 convertidos"), {}, u8("Quedan 0:01")}));
        tracker.converting(0.2, {}, {});
        tracker.converting(std::nan(""), {}, {});
        QCOMPARE(seen.last().fraction, 0.74925);
        tracker.converting(1, {}, {});
        QCOMPARE(seen.last().fraction, 0.999);
        tracker.complete();
        QCOMPARE(seen.last().fraction, 1.0);
    }

    void twoTransfers() {
        const double video = 0.98 * 4000 / 4128;
        const double bitrates = video + 0.98 * 128 / 4128 / 2;
        // The plan after the marker (null: no plan line), the bar after the video, and halfway
        // through the audio.
        for (const auto &[plan, afterVideo, audioHalf] : std::initializer_list<std::tuple<QString, double, double>>{
                 {QString(), 0.5, 0.74},
                 {u8("NA|NA|NA|NA|NA|NA|NA|NA|NA|NA"), 0.5, 0.74},
                 {u8("300|NA|NA|NA|NA|100|NA|NA|NA"), 0.5, 0.74},                               // nine fields
                 {u8("300000000|NA|NA|NA|NA|100000000|NA|NA|NA|NA"), 0.735, 0.735 + 0.245 / 2}, // sizes
                 {u8("NA|300|NA|NA|NA|NA|100|NA|NA|NA"), 0.735, 0.735 + 0.245 / 2},             // approximate
                 {u8("NA|NA|4000|NA|NA|NA|NA|NA|NA|128"), video, bitrates},
                 {u8("300|NA|NA|4000|NA|NA|NA|0|NA|128"), video, bitrates}, // one size missing
                 {u8("inf|NA|NA|NA|NA|100|NA|NA|NA|NA"), 0.5, 0.74}}) {
            Run run(2, true);
            QVERIFY(plan.isNull() || run.tracker.consume(u8("__TORVEL_PLAN__") + plan));
            QVERIFY(run.snapshots.isEmpty());
            const DownloadProgress first = run.feed({progress("100%|5242880|5242880|NA|NA|0|NA|NA|137|avc1|none")});
            QCOMPARE(first.fraction, afterVideo);
            QCOMPARE(first.phaseText, u8("Descargando video · pista 1 de 2"));
            const DownloadProgress second = run.feed({progress("  0.1%|2048|2097152|NA|NA|NA|NA|NA|140|none|mp4a"),
                                                      progress(" 50.0%|1048576|2097152|NA|NA|NA|NA|NA|140|none|mp4a")});
            QCOMPARE(second.fraction, audioHalf);
            QCOMPARE(second.phaseText, u8("Descargando audio · pista 2 de 2"));
        }
    }

    void planNamesTheTransfers() {
        // A plan, and the fraction | phase shown after a transfer at 100 %.
        for (const auto &[plan, shown] : std::initializer_list<std::pair<const char *, const char *>>{
                 {"NA|NA|NA|NA|NA|NA|NA|NA|NA|NA|18", "0.98 | Descargando video y audio"},
                 {"NA|NA|NA|NA|NA|NA|NA|NA|NA|NA|hls|720", "0.98 | Descargando video y audio"}, // a bar in its id
                 {"300|NA|NA|NA|NA|100|NA|NA|NA|NA|137+140", "0.735 | Descargando video y audio · pista 1 de 2"},
                 {"NA|NA|NA|NA|NA|NA|NA|NA|NA|NA|NA", "0.5 | Descargando video y audio · pista 1 de 2"}}) {
            Run run(2, true);
            QVERIFY(run.tracker.consume(u8("__TORVEL_PLAN__") + u8(plan)));
            const DownloadProgress last = run.feed({progress("100%|5242880|5242880|NA|NA|0|NA|NA|NA|NA|NA")});
            QCOMPARE(u8("%1 | %2").arg(last.fraction).arg(last.phaseText), u8(shown));
        }
    }

    void transferNumber() {
        // The transfers expected, progress payloads split at ";", and the track shown (empty: none).
        for (const auto &[expected, payloads, track] :
             std::initializer_list<std::tuple<int, const char *, const char *>>{
                 {2, "97%;2%", "2 de 2"},        // falls by more than 0.15
                 {2, "30%;20%", "1 de 2"},       // falls by less
                 {2, "97%;2%;97%;2%", "2 de 2"}, // stops at the expected count
                 {1, "97%;2%", ""},
                 {1, "10%||||||2|2", "2 de 2"},                               // index and count fields
                 {2, "99%||||||||137;9%||||||||140;5%||||||||137", "1 de 2"}, // a known identifier returns
                 {1, "9%||||||||a;9%||||||||b;9%||||||||c", "3 de 3"},        // more identifiers than expected
                 // A "|" inside a site's field leaves its three fields unknown, never shifted.
                 {2, "99%||||||||137;99%||||||||1|37|x|y", "1 de 2"}}) {
            Run run(expected, false);
            QStringList lines;
            for (const QString &payload : u8(payloads).split(QLatin1Char(';')))
                lines.append(u8("__TORVEL_PROGRESS__") + payload);
            QCOMPARE(run.feed(lines).phaseText,
                     u8("Descargando video y audio") + (*track ? u8(" · pista ") + u8(track) : QString()));
        }
    }

    void downloadPhase() {
        const auto optional = [](const char *text) {
            return qstrcmp(text, "-") == 0 ? std::nullopt : std::optional(u8(text)); // "-": absent
        };
        for (const auto &[video, audio, phase] :
             std::initializer_list<std::tuple<const char *, const char *, const char *>>{
                 {"vp9", "opus", "video y audio"},
                 {"avc1", "none", "video"},
                 {"none", "mp4a", "audio"},
                 {" NONE ", "NA", "audio"},
                 {"", "none", "video"},
                 {"-", "NA", "video y audio"}}) {
            const QString expected = u8("Descargando ") + u8(phase);
            QCOMPARE(Tracker::downloadPhase(optional(video), optional(audio), 1, 1), expected);
            QCOMPARE(Tracker::downloadPhase(optional(video), optional(audio), 5, 3), expected + u8(" · pista 3 de 3"));
        }
    }

    void tinyTransferChangesNothing() {
        Run run(2, false);
        run.feed({progress("30%"), progress("99.9%|20000|20000|NA|NA|NA|NA|NA|NA|NA|NA")});
        QCOMPARE(run.snapshots.size(), 1);
        // Had the side file counted, 0.30 → 1 → 0.20 would have looked like a new transfer.
        QCOMPARE(run.feed({progress("20%")}).phaseText, u8("Descargando video y audio · pista 1 de 2"));
        QCOMPARE(run.feed({progress("100%|65536|NA|65536|NA|NA|NA|NA|NA|NA|NA")}).fraction, 0.5);
    }

    void neverBackwards() {
        Run run(2, true);
        run.feed({u8("__TORVEL_PLAN__60|NA|NA|NA|NA|38|NA|NA|NA|NA"), progress("100%|NA|NA|NA|NA|NA|NA|NA|137|NA|NA")});
        const DownloadProgress again = run.feed({progress("40%|400|1000|NA|NA|NA|NA|NA|137|NA|NA")});
        QCOMPARE(again.fraction, 0.6);
        QCOMPARE(again.statusText, formattedByteCount(400) + u8(" de ") + formattedByteCount(1000));
    }

    void amountTexts() {
        // A progress payload, and its status | speed | time left.
        for (const auto &[payload, texts] : std::initializer_list<std::pair<const char *, const char *>>{
                 {"10%|1048576|NA|10485760|NA|NA", "1,0 MB de ~10,5 MB |  | "}, // an estimate
                 {"10%|1048576|10485760|11000000|3200000.9|65", "1,0 MB de 10,5 MB | 3,2 MB/s | Quedan 1:05"},
                 {"0%|1048576|0|NA|NA|3725", "1,0 MB |  | Quedan 1:02:05"}, // a total of zero
                 {"0%|NA|NA|NA", "Descargando… |  | "},
                 {"50%|1000|2000|NA|nan|-inf", "1,0 kB de 2,0 kB |  | "},
                 {"50%|-5000000|-1|-10|-5000|-65", "Descargando… |  | "},
                 {"50%|NA|NA|NA|1e400|1e400", "Descargando… |  | "}, // beyond a double
                 {"50%|99999999999999999999|99999999999999999999|NA|1e19|1e19", "Descargando… |  | "}}) {
            Run run(1, false);
            const DownloadProgress snapshot = run.feed({progress(payload)});
            QCOMPARE(QStringList({snapshot.statusText, snapshot.speedText, snapshot.etaText}).join(u8(" | ")),
                     u8(texts));
        }
    }

    void hostileLinesStaySane() {
        for (const QString &line :
             {progress("a|b|c|d|e|f|g|h|i|j|k|l"), progress("50%"), progress(""),
              progress("1e400%|NA|NA|NA|NA|NA|NA|NA|NA|NA|NA"),
              progress("50%|NA|NA|NA|NA|NA|99999999999999999999|9223372036854775807"),
              progress("50%|NA|NA|NA|NA|NA|-4|-3"), u8("__TORVEL_PLAN__inf|inf|inf|nan|NA|inf|1|2|3|4")}) {
            Run run(2, true);
            QVERIFY(run.tracker.consume(line));
            run.feed({progress("50%|1|2|NA|1|1|NA|NA|137|NA|NA")});
            for (const DownloadProgress &snapshot : std::as_const(run.snapshots))
                QVERIFY2(std::isfinite(snapshot.fraction) && snapshot.fraction >= 0 && snapshot.fraction <= 0.98,
                         qPrintable(line + u8(": ") + QString::number(snapshot.fraction)));
        }
    }

    void postprocessing() {
        const QString approximate = u8(" | Procesando con FFmpeg · progreso aproximado");
        const QString converted = u8("0.998 | Finalizando archivo… | Combinación o conversión completada");
        // Payloads after the marker, split at ";", and the fraction | phase | status shown; empty:
        // nothing emitted.
        for (const auto &[statuses, shown] : std::initializer_list<std::pair<const char *, QString>>{
                 {"started|Merger", u8("0.98 | Combinando video y audio…") + approximate},
                 {"started|Merger;finished|Merger", converted},
                 {"finished|FixupM3u8", converted}, // a fix-up is FFmpeg's too
                 {"finished|FFmpegMetadata", u8("0.985 | Escribiendo metadatos… | Preparando el resultado")},
                 // Started after a finish keeps the bar.
                 {"finished|MoveFiles;STARTED|ExtractAudio",
                  u8("0.985 | Extrayendo y convirtiendo audio…") + approximate},
                 {"started", u8("0.98 | Procesando archivo…") + approximate}, // no name
                 {"processing|Merger", QString()},
                 {"started|Concat;finished|FFmpegConcat", QString()}}) { // a list's join is ignored
            Run run(2, true);
            for (const QString &payload : u8(statuses).split(QLatin1Char(';')))
                QVERIFY(run.tracker.consume(u8("__TORVEL_POSTPROCESS__") + payload));
            const DownloadProgress last = run.feed({});
            QCOMPARE(run.snapshots.isEmpty()
                         ? QString()
                         : u8("%1 | %2 | %3").arg(last.fraction).arg(last.phaseText, last.statusText),
                     shown);
            QVERIFY(last.speedText.isEmpty() && last.etaText.isEmpty());
        }
    }

    void otherLinesAreNotConsumed() {
        Run run(1, false);
        QVERIFY(!run.tracker.consume(u8("[download] Destination: Clip [abc].mp4")));
        QVERIFY(!run.tracker.consume(u8("__TORVEL_FILE__/tmp/Clip [abc].mp4")));
        QVERIFY(!run.tracker.consume(u8("[download] Destination: /j/__TORVEL_PROGRESS__100%|1|1.mp4")));
        QVERIFY(run.tracker.consume(u8("__TORVEL_PLAN__x __TORVEL_PROGRESS__50%"))); // the first marker wins
        QVERIFY(run.snapshots.isEmpty());
        // A marker inside a site's field does not take the line over.
        QVERIFY(run.tracker.consume(progress("50%|NA|NA|NA|NA|NA|NA|NA|__TORVEL_PLAN__|NA|NA")));
        QCOMPARE(run.snapshots.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestDownloadProgressTracker)
#include "tst_downloadprogresstracker.moc"
