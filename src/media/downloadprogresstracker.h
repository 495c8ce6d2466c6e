#pragma once

#include <QList>
#include <QMutex>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// One snapshot of a download's overall progress, as the interface shows it.
struct DownloadProgress {
    double fraction = 0;
    QString phaseText;
    QString statusText;
    QString speedText;
    QString etaText;

    // fraction 0, "Preparando…", "Preparando descarga…", no speed, no time.
    static DownloadProgress initial();

    bool operator==(const DownloadProgress &) const = default;
};

// Turns yt-dlp's plan, progress and post-processing lines into one overall fraction that never
// goes backwards, with phase, status, speed and remaining-time texts. Lines may be fed from
// several threads; the emitter is always called with no lock held.
class DownloadProgressTracker {
public:
    using Emitter = std::function<void(const DownloadProgress &)>;

    // conversionShare: the part of the bar kept for a conversion after yt-dlp has finished (0 when
    // none is foreseen); yt-dlp's own progress fills the rest.
    DownloadProgressTracker(int expectedDownloadCount, bool reservesPostProcessing, Emitter emitter,
                            double conversionShare = 0);

    // Before yt-dlp's first line: a conversion foreseen only once the download has begun.
    void setConversionShare(double conversionShare);

    // Handles a plan, progress or post-processing line, recognised by the marker that occurs
    // first in it; false for any other line.
    bool consume(const QString &line);
    // The final-file line arrived: "Guardando archivo…" at 0.999.
    void finalizing();
    // The converter reports: "Convirtiendo video…", filling what is left of the bar up to 0.999
    // from wherever it stood when the conversion began.
    void converting(double fraction, const QString &status, const QString &eta);
    // The result was placed: fraction 1, "Completado", "Descarga completada".
    void complete();

    double lastFraction() const;

    // Value rules of the output protocol.
    static double percentage(const std::optional<QString> &text);
    static std::optional<qint64> integer(const std::optional<QString> &text);
    static std::optional<double> number(const std::optional<QString> &text);
    static bool meaningfulValue(const QString &text);
    static bool meaningfulCodec(const std::optional<QString> &text);

    static QString downloadPhase(const std::optional<QString> &videoCodec, const std::optional<QString> &audioCodec,
                                 qint64 index, qint64 count);
    static QString postprocessPhase(const QString &name);
    static bool isFFmpegProcessor(const QString &name);

private:
    void consumePlan(const QString &payload);
    void consumeDownload(const QString &payload);
    void consumePostprocess(const QString &payload);
    void finishEstimator(const QString &name);
    double weightedFraction(double raw, qint64 index, qint64 count) const;
    // A fraction of yt-dlp's work, in the part of the bar that is yt-dlp's.
    // The transfers yt-dlp plans, once its plan line said so; else what the selector suggests.
    // Called with the lock held.
    qint64 expectedCount() const { return m_plannedCount.value_or(m_expectedDownloadCount); }
    double downloadStage(double fraction) const { return fraction * (1 - m_conversionShare); }
    // Raises lastFraction to at least `floor` (capped at 1) and emits it with the texts.
    void raiseAndEmit(double floor, const QString &phase, const QString &status, const QString &speed = {},
                      const QString &eta = {});

    mutable QMutex m_lock;
    const int m_expectedDownloadCount;
    const bool m_reservesPostProcessing;
    const Emitter m_emit;
    double m_conversionShare;
    double m_lastFraction = 0;
    double m_lastRawDownloadFraction = 0;
    qint64 m_fallbackDownloadIndex = 1;
    std::optional<QList<double>> m_plannedWeights;
    std::optional<qint64> m_plannedCount;
    QStringList m_downloadFormatIDs;
    std::optional<double> m_conversionStart; // the fraction when the conversion began
};
