#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The machine-readable lines yt-dlp is told to print during a download: the four templates
// handed to it, the markers that recognise the lines and the payload fields.
namespace DownloadOutputProtocol {

QString progressMarker();    // "__TORVEL_PROGRESS__"
QString postprocessMarker(); // "__TORVEL_POSTPROCESS__"
QString planMarker();        // "__TORVEL_PLAN__"
QString fileMarker();        // "__TORVEL_FILE__"

QString downloadProgressTemplate();    // --progress-template, "download:…"
QString postprocessProgressTemplate(); // --progress-template, "postprocess:…"
QString planPrintTemplate();           // --print, "before_dl:…"
QString filePrintTemplate();           // --print, "after_move:…"

enum class Marker { plan, progress, postprocess, file };
QString markerText(Marker marker);

// The marker that occurs first in the line (a record's own marker comes before any that a site
// could place inside a field), with its position.
struct MarkerAt {
    Marker marker;
    qsizetype position;
};
std::optional<MarkerAt> firstMarker(QStringView line, qsizetype from = 0);

// Where the first record of the text ends (see RecordEnd). yt-dlp prints some reports without
// a line end, so records arrive glued together. A record ends where the next marker directly
// follows a complete payload; a post-processing report also ends before a glued "ERROR:" or
// "WARNING:" line, and at the end of the text, since it is never followed by a line end. A
// file path runs to the end of its line whatever it holds.
qsizetype recordEnd(QStringView text);

// The text after the first occurrence of marker, or nothing when the line lacks it.
std::optional<QString> payload(const QString &line, const QString &marker);
// A payload split at every "|", empty fields kept.
QStringList fields(const QString &payload);
// The field at index, or nothing beyond the end.
std::optional<QString> field(const QStringList &fields, qsizetype index);

} // namespace DownloadOutputProtocol
