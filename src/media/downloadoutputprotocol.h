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

// The text after the first occurrence of marker, or nothing when the line lacks it.
std::optional<QString> payload(const QString &line, const QString &marker);
// A payload split at every "|", empty fields kept.
QStringList fields(const QString &payload);
// The field at index, or nothing beyond the end.
std::optional<QString> field(const QStringList &fields, qsizetype index);

} // namespace DownloadOutputProtocol
