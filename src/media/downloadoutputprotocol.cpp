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
                          "%(requested_formats.1.tbr)s|%(requested_formats.1.vbr)s|%(requested_formats.1.abr)s");
}

QString filePrintTemplate() {
    return QStringLiteral("after_move:__TORVEL_FILE__%(filepath)s");
}

std::optional<QString> payload(const QString &line, const QString &marker) {
    const qsizetype at = line.indexOf(marker);
    if (at < 0)
        return std::nullopt;
    // Untrimmed on purpose: a file path may begin or end with spaces.
    return line.mid(at + marker.size());
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
