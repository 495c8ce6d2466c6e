#pragma once

#include "media/downloadchoice.h"
#include "media/downloadprogresstracker.h"
#include "media/playlistinfo.h"

#include <QList>
#include <QString>
#include <QStringList>

// What a list's download is made of, for the window and the command line, which queue the chosen
// entries as items of one batch: the list's own folder, the running entry's position and the
// outcome's summary.
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
    PlaylistDownloader() = delete;

    // Creates a new folder named after the list inside destination, never reusing an existing
    // name ("Title 2", "Title 3", …), and returns its path. Throws PlatformError.
    static QString createListFolder(const QString &listTitle, const QString &destination);
    // The list's title as one file-name component.
    static QString folderName(const QString &listTitle);
};
