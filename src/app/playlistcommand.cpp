#include "playlistcommand.h"

#include "console.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>

namespace PlaylistCommand {

using Console::out;

namespace {

QJsonValue optionalJSON(const std::optional<QString> &value) {
    return value ? QJsonValue(*value) : QJsonValue::Null;
}

QJsonObject entryJSON(const PlaylistEntry &entry, qsizetype number) {
    return {{QStringLiteral("number"), number},
            {QStringLiteral("title"), entry.title},
            {QStringLiteral("url"), entry.url ? QJsonValue(entry.url->toString()) : QJsonValue::Null},
            {QStringLiteral("item"), entry.item ? QJsonValue(*entry.item) : QJsonValue::Null},
            {QStringLiteral("downloadable"), entry.isDownloadable()},
            {QStringLiteral("duration"), entry.duration ? QJsonValue(*entry.duration) : QJsonValue::Null},
            {QStringLiteral("thumbnail"), optionalJSON(entry.thumbnail)}};
}

} // namespace

void print(const PlaylistInfo &list, bool json) {
    if (json) {
        QJsonArray entries;
        for (qsizetype index = 0; index < list.entries.size(); ++index)
            entries.append(entryJSON(list.entries.at(index), index + 1));
        const QJsonObject report{{QStringLiteral("type"), QStringLiteral("playlist")},
                                 {QStringLiteral("id"), optionalJSON(list.id)},
                                 {QStringLiteral("title"), list.title},
                                 {QStringLiteral("uploader"), optionalJSON(list.uploader)},
                                 {QStringLiteral("webpageURL"), optionalJSON(list.webpageURL)},
                                 {QStringLiteral("entryCount"), list.entryCount()},
                                 {QStringLiteral("omittedEntryCount"), list.omittedEntryCount},
                                 {QStringLiteral("entries"), entries}};
        out() << QString::fromUtf8(QJsonDocument(report).toJson(QJsonDocument::Indented));
        out().flush();
        return;
    }
    out() << "Lista: " << Console::printable(list.title) << '\n'
          << "Autor: " << list.uploader.value_or(QStringLiteral("—")) << '\n'
          << "Videos: " << list.entryCount() << "\n\n";
    for (qsizetype index = 0; index < list.entries.size(); ++index) {
        const PlaylistEntry &entry = list.entries.at(index);
        out() << "  " << index + 1 << ". " << Console::printable(entry.title);
        if (entry.duration)
            out() << " (" << torvelDuration(*entry.duration) << ')';
        if (!entry.isDownloadable())
            out() << " · no se puede descargar";
        out() << '\n';
    }
    if (list.omittedEntryCount > 0)
        out() << "  " << list.omittedEntriesText() << '\n';
    out().flush();
}

std::optional<QList<qsizetype>> parseItems(const QString &text, qsizetype count, QString &problem) {
    static const QRegularExpression piece(QStringLiteral("^\\s*(\\d{1,9})\\s*(?:-\\s*(\\d{1,9})\\s*)?$"));
    QList<qsizetype> items;
    QSet<qsizetype> seen;
    for (const QString &part : text.split(QLatin1Char(','))) {
        const QRegularExpressionMatch match = piece.match(part);
        if (!match.hasMatch()) {
            problem = QStringLiteral("--items espera números y intervalos separados por comas, como 1,3,5-7.");
            return std::nullopt;
        }
        const qsizetype first = match.captured(1).toLongLong();
        const qsizetype last = match.hasCaptured(2) ? match.captured(2).toLongLong() : first;
        if (first < 1 || last < first || last > count) {
            problem = QStringLiteral("--items: %1 no está entre 1 y %2.").arg(part.trimmed()).arg(count);
            return std::nullopt;
        }
        for (qsizetype number = first; number <= last; ++number)
            if (!seen.contains(number)) {
                seen.insert(number);
                items.append(number - 1);
            }
    }
    return items;
}

} // namespace PlaylistCommand
