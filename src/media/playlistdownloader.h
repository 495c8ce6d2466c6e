#pragma once

#include "media/downloadchoice.h"
#include "media/downloadprogresstracker.h"
#include "media/playlistinfo.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <QCoroTask>

#include <functional>
#include <optional>

class YTDLPService;
struct YTDLPDownloadOptions;

// Downloads the chosen entries of a list one after another, each through the service's single
// download (own job folder, unique name, placement, cancellation), into one folder. An entry that
// the list's document carries whole starts from its own document, so the list's page is fetched
// once in all; an entry named by its address is extracted once, by its own download. An entry that
// fails is recorded and the next one starts; a cancel stops the running entry and the rest.
class PlaylistDownloader {
public:
    struct Failure {
        QString title;
        QString message;

        // "title: reason" on one line: the Spanish explanation when the message has one,
        // otherwise the message itself.
        QString summaryLine() const;
        bool operator==(const Failure &) const = default;
    };
    struct Outcome {
        QString folder;
        qsizetype total = 0;
        QStringList placedFiles; // in the order of the entries
        QList<Failure> failures;
        bool cancelled = false;

        // "Se descargaron X de N videos.", in the singular where a count is 1.
        QString summaryText() const;
        bool operator==(const Outcome &) const = default;
    };
    // The entry that starts: its number among the chosen ones, their count and its title.
    struct Position {
        qsizetype number = 0;
        qsizetype count = 0;
        QString title;

        // "Video i de N"
        QString headline() const;
        bool operator==(const Position &) const = default;
    };
    using PositionCallback = std::function<void(const Position &)>;
    using ProgressCallback = std::function<void(const DownloadProgress &)>;

    // The service must outlive the run, unless cancel() was called before it goes away.
    explicit PlaylistDownloader(YTDLPService &service) : m_service(service) {}
    PlaylistDownloader(const PlaylistDownloader &) = delete;
    PlaylistDownloader &operator=(const PlaylistDownloader &) = delete;

    // Creates a new folder named after the list inside destination, never reusing an existing
    // name ("Title 2", "Title 3", …), and returns its path. Throws PlatformError.
    static QString createListFolder(const QString &listTitle, const QString &destination);
    // The list's title as one file-name component.
    static QString folderName(const QString &listTitle);

    // Runs the downloadable entries in order into folder, which is removed again when it received
    // nothing. progress receives the whole list's progress ((finished + current fraction) ÷ N,
    // never backwards) with the running entry's texts.
    QCoro::Task<Outcome> run(QList<PlaylistEntry> entries, DownloadChoice choice, QString ytDLPPath,
                             std::optional<QString> ffmpegPath, QString folder, YTDLPDownloadOptions options,
                             PositionCallback onPosition, ProgressCallback onProgress);

    // Stops the running entry and every one after it. Also between two entries.
    void cancel();

private:
    YTDLPService &m_service;
    bool m_cancelled = false;
};
