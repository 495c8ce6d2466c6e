#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// What yt-dlp's English failures mean, in a sentence a person can act on. A failure's message
// keeps yt-dlp's own text whole; the explanation comes before it, separated by a blank line.
namespace YTDLPExplanations {

struct Row {
    QStringList patterns; // any of them, anywhere in yt-dlp's text, ignoring case
    QString explanation;
    QString explanationWithCookies; // when cookies were in use; empty: the same explanation
};

// In order: the first row that matches explains the failure.
const QList<Row> &rows();

std::optional<QString> explanation(const QString &ytDLPText, bool cookiesInUse);
// The explanation, a blank line and the message; the message alone when nothing fits.
QString explained(const QString &message, bool cookiesInUse);

struct Parts {
    QString explanation; // empty when the message has none
    QString detail;      // what follows it: yt-dlp's text and any advice
};
// Takes apart a message that explained() made.
Parts split(const QString &message);

} // namespace YTDLPExplanations
