#pragma once

#include "media/downloadchoice.h"

#include <QDateTime>
#include <QString>

#include <optional>

// Where an item of the download queue stands.
enum class QueueState { waiting, running, paused, completed, failed, cancelled };

namespace QueueStates {
QList<QueueState> allCases();
QString rawValue(QueueState state); // "waiting", "running", … as stored and as the JSON says
std::optional<QueueState> fromRawValue(const QString &rawValue);
QString label(QueueState state); // "En espera", "Descargando", …
} // namespace QueueStates

// One address in the download queue, with the way it is to be downloaded and what became of it.
struct QueueItem {
    qint64 id = 0;
    qint64 position = 0; // queue order, ascending
    QString url;
    QString title;     // once known (from the analysis), else empty
    QString thumbnail; // once known
    // The chosen way: a standard choice ("recommended", "compatible-mp4", "audio-only") or an
    // exact "format-ID", with its audio export format and the audio paired with a video-only
    // format. "compatible-mp4" is the "MP4 compatible" way.
    QString choiceID = QStringLiteral("recommended");
    AudioExportFormat audioFormat = AudioExportFormat::m4a;
    QString pairedAudioID;
    QString destination; // the folder the file is placed in
    QString cookies;     // the cookie source's setting: a browser's name or a file's path, never cookies
    QueueState state = QueueState::waiting;
    double progress = 0;  // 0…1
    QString progressText; // the last progress line, as the command line shows it
    QString path;         // the placed file, once completed
    QString error;        // the failure's explanation
    int attempts = 0;     // runs started, automatic retries included
    QDateTime addedAt;
    QDateTime startedAt;
    QDateTime finishedAt;
    QDateTime notBefore; // an automatic retry waits until then
    QString extractor;   // yt-dlp's extractor and id, once known
    QString videoID;
    QString jobFolder; // kept until the item is completed or removed: yt-dlp continues its partial data
    // The analysis's yt-dlp document, kept in the job folder, when the item was queued after an
    // analysis: its download starts from it while it is fresh instead of extracting the page again.
    QString document;
    // Codes of the subtitles to embed; empty: the preferred ones, if any; {noSubtitles}: none.
    QStringList subtitles;
    QString section; // "START-END" as typed ("Recortar"); empty: the whole video
    // The items queued together from one list of videos share its name; empty otherwise.
    QString batch;
    // An entry without a page of its own (several videos embedded in one page): its number in the
    // list at url, counted from 1; 0 for an address of one video.
    qsizetype playlistItem = 0;
    // Paused because the application quit while it ran: it goes on at the next start when the
    // settings say so.
    bool resumeAtStart = false;
    qint64 runnerPID = 0;
    QDateTime leaseUntil;

    static inline const QString noSubtitles = QStringLiteral("none");

    bool compatibleMP4() const { return choiceID == QLatin1String("compatible-mp4"); }
};

// A completed download, kept in the history.
struct HistoryEntry {
    qint64 id = 0;
    QString url;
    QString title;
    QString extractor;
    QString videoID;
    QString path;
    qint64 size = 0;
    QDateTime completedAt;
};
