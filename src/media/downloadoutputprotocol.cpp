#include "downloadoutputprotocol.h"

namespace DownloadOutputProtocol {

QString progressMarker() {
    return QStringLiteral("__TORVEL_PROGRESS__");
}
QString postprocessMarker() {
    return QStringLiteral("__TORVEL_POSTPROCESS__");
}
QString planMarker() {
    return QStringLiteral("__TORVEL_PLAN__");
}
QString fileMarker() {
    return QStringLiteral("__TORVEL_FILE__");
}

QString downloadProgressTemplate() {
    return QStringLiteral("download:__TORVEL_PROGRESS__%(progress._percent_str)s|%(progress.downloaded_bytes)s|"
                          "%(progress.total_bytes)s|%(progress.total_bytes_estimate)s|%(progress.speed)s|"
                          "%(progress.eta)s|%(progress.progress_idx)s|%(progress.max_progress)s|%(info.format_id)s|"
                          "%(info.vcodec)s|%(info.acodec)s");
}

QString postprocessProgressTemplate() {
    return QStringLiteral("postprocess:__TORVEL_POSTPROCESS__%(progress.status)s|%(progress.postprocessor)s");
}

QString planPrintTemplate() {
    return QStringLiteral("before_dl:__TORVEL_PLAN__%(requested_formats.0.filesize)s|"
                          "%(requested_formats.0.filesize_approx)s|%(requested_formats.0.tbr)s|"
                          "%(requested_formats.0.vbr)s|%(requested_formats.0.abr)s|"
                          "%(requested_formats.1.filesize)s|%(requested_formats.1.filesize_approx)s|"
                          "%(requested_formats.1.tbr)s|%(requested_formats.1.vbr)s|%(requested_formats.1.abr)s|"
                          "%(format_id)s");
}

QString filePrintTemplate() {
    return QStringLiteral("after_move:__TORVEL_FILE__%(filepath)s");
}

QString markerText(Marker marker) {
    switch (marker) {
    case Marker::plan:
        return planMarker();
    case Marker::progress:
        return progressMarker();
    case Marker::postprocess:
        return postprocessMarker();
    case Marker::file:
        break;
    }
    return fileMarker();
}

std::optional<Marker> leadingMarker(QStringView text) {
    if (!text.startsWith(QLatin1String("__TORVEL_")))
        return std::nullopt;
    for (const Marker marker : {Marker::plan, Marker::progress, Marker::postprocess, Marker::file}) {
        if (text.startsWith(markerText(marker)))
            return marker;
    }
    return std::nullopt;
}

namespace {

bool isAsciiLetterOrDigit(QChar c) {
    return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) || (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
           (c >= QLatin1Char('0') && c <= QLatin1Char('9'));
}

// yt-dlp's own message lines, which it may write right after an unterminated report.
bool startsMessage(QStringView text) {
    return text.startsWith(QLatin1String("ERROR:")) || text.startsWith(QLatin1String("WARNING:"));
}

// A post-processing payload is a lower-case status, "|" and the post-processor's name, a
// single word such as Merger or ExtractAudio.
qsizetype postprocessRecordEnd(QStringView text, qsizetype payloadStart) {
    qsizetype i = payloadStart;
    while (i < text.size() && text.at(i) >= QLatin1Char('a') && text.at(i) <= QLatin1Char('z'))
        ++i;
    if (i == payloadStart || i >= text.size() || text.at(i) != QLatin1Char('|'))
        return 0;
    const qsizetype nameStart = ++i;
    while (i < text.size() && isAsciiLetterOrDigit(text.at(i)) && !(i > nameStart && startsMessage(text.mid(i))))
        ++i;
    if (i == nameStart)
        return 0;
    if (i == text.size())
        return i;
    return leadingMarker(text.mid(i)) || startsMessage(text.mid(i)) ? i : 0;
}

} // namespace

qsizetype recordEnd(QStringView text) {
    if (leadingMarker(text) != Marker::postprocess)
        return 0;
    return postprocessRecordEnd(text, postprocessMarker().size());
}

std::optional<QString> payload(const QString &line, const QString &marker) {
    if (!line.startsWith(marker))
        return std::nullopt;
    // Untrimmed on purpose: a file path may begin or end with spaces.
    return line.mid(marker.size());
}

QStringList fields(const QString &payload) {
    return payload.split(QLatin1Char('|'), Qt::KeepEmptyParts);
}

std::optional<QString> field(const QStringList &fields, qsizetype index) {
    if (index < 0 || index >= fields.size())
        return std::nullopt;
    return fields.at(index);
}

} // namespace DownloadOutputProtocol
