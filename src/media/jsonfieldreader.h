#pragma once

#include "media/mediainfo.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QLatin1String>
#include <QString>

#include <optional>

// Reads the fields of one object of a yt-dlp document with strict typing. A missing key and null
// both mean "absent"; any other kind than the field's own fails the whole document with a
// MediaDecodingError naming the key and, inside a list, the object's place ("del formato 3").
class JsonFieldReader {
public:
    // Where the object stands, in the two grammatical shapes the messages need: "en el formato 3"
    // and "del formato 3". Both empty for the document itself.
    struct Place {
        QString in;
        QString of;

        static Place document() { return {}; }
        static Place inList(const QString &masculineNoun, qsizetype position);
        static Place inFeminineList(const QString &feminineNoun, qsizetype position);
    };

    // The document as one object. Throws MediaDecodingError for a syntax error (with Qt's parser
    // text) or another kind of document.
    static QJsonObject parseObject(const QByteArray &json);

    explicit JsonFieldReader(const QJsonObject &object, Place place = Place::document())
        : m_object(object), m_place(std::move(place)) {}

    std::optional<QString> text(QLatin1String key) const;
    std::optional<double> number(QLatin1String key) const;
    std::optional<qint64> integer(QLatin1String key) const;
    QString requiredText(QLatin1String key) const;
    [[noreturn]] void fail(QLatin1String key, const char *expected) const;

private:
    const QJsonObject &m_object;
    Place m_place;
};
