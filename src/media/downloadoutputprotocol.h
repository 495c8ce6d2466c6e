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

// The marker a record begins with. yt-dlp prints every record at the start of a line (the line
// accumulator divides glued records), so a marker anywhere else is text a site controls, such
// as a title inside one of yt-dlp's own messages, and makes no record.
std::optional<Marker> leadingMarker(QStringView text);

// Where the first record of the text ends (see RecordEnd). Progress, plan and file records are
// whole lines: yt-dlp ends them with a line feed, and a marker or "|" inside one of their fields
// divides nothing. Only a post-processing report, which old yt-dlp prints without a line end,
// ends earlier: where another record begins right after its two fields, before a glued "ERROR:"
// or "WARNING:" line, and at the end of the text.
qsizetype recordEnd(QStringView text);

// The text after marker when the line begins with it, or nothing.
std::optional<QString> payload(const QString &line, const QString &marker);
// A payload split at every "|", empty fields kept.
QStringList fields(const QString &payload);
// The field at index, or nothing beyond the end.
std::optional<QString> field(const QStringList &fields, qsizetype index);

} // namespace DownloadOutputProtocol
