#include "mediasection.h"

#include "media/mediainfo.h"

#include <QRegularExpression>

namespace {

QString seconds(double value) {
    return QString::number(value, 'f', 3).remove(QRegularExpression(QStringLiteral("\\.?0+$")));
}

} // namespace

std::optional<double> MediaSection::parseTime(const QString &text) {
    // Seconds alone may be any count; after minutes or hours, minutes and seconds stay below 60.
    static const QRegularExpression form(QStringLiteral("^(?:(?:(\\d+):)?(\\d+):)?(\\d+(?:[.,]\\d+)?)$"));
    const QRegularExpressionMatch match = form.match(text.trimmed());
    if (!match.hasMatch())
        return std::nullopt;
    const bool hasHours = match.capturedLength(1) > 0;
    const bool hasMinutes = match.capturedLength(2) > 0;
    const double hours = match.captured(1).toDouble();
    const double minutes = match.captured(2).toDouble();
    const double secs = QString(match.captured(3)).replace(QLatin1Char(','), QLatin1Char('.')).toDouble();
    if ((hasMinutes && secs >= 60) || (hasHours && minutes >= 60))
        return std::nullopt;
    return hours * 3600 + minutes * 60 + secs;
}

std::optional<MediaSection> MediaSection::fromTimes(const QString &start, const QString &end,
                                                    std::optional<double> duration, QString &problem) {
    problem.clear();
    if (start.trimmed().isEmpty() && end.trimmed().isEmpty())
        return std::nullopt;
    MediaSection section;
    const QString accepted = QStringLiteral(": escribe segundos (83), minutos y segundos (1:23) u horas, minutos y "
                                            "segundos (01:02:03).");
    if (!start.trimmed().isEmpty()) {
        const std::optional<double> parsed = parseTime(start);
        if (!parsed) {
            problem = QStringLiteral("El inicio «%1» no es un tiempo válido").arg(start.trimmed()) + accepted;
            return std::nullopt;
        }
        section.start = *parsed;
    }
    if (!end.trimmed().isEmpty()) {
        section.end = parseTime(end);
        if (!section.end) {
            problem = QStringLiteral("El final «%1» no es un tiempo válido").arg(end.trimmed()) + accepted;
            return std::nullopt;
        }
        if (*section.end <= section.start) {
            problem = QStringLiteral("El final del recorte debe ser posterior al inicio.");
            return std::nullopt;
        }
    }
    const double last = section.end.value_or(section.start);
    if (duration && *duration > 0 && (last > *duration || section.start >= *duration)) {
        problem = QStringLiteral("El recorte pasa del final del video, que dura %1.").arg(torvelDuration(*duration));
        return std::nullopt;
    }
    return section;
}

std::optional<MediaSection> MediaSection::fromRange(const QString &range, std::optional<double> duration,
                                                    QString &problem) {
    const QStringList times = range.split(QLatin1Char('-'));
    if (times.size() != 2 || (times.at(0).trimmed().isEmpty() && times.at(1).trimmed().isEmpty())) {
        problem = QStringLiteral("--section espera INICIO-FIN, por ejemplo 1:00-2:30.");
        return std::nullopt;
    }
    return fromTimes(times.at(0), times.at(1), duration, problem);
}

QString MediaSection::ytDLPValue() const {
    return QLatin1Char('*') + seconds(start) + QLatin1Char('-') + (end ? seconds(*end) : QStringLiteral("inf"));
}
