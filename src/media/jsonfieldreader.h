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
    // Where the object stands: nothing for the document itself, or its position in a list named
    // by a noun ("formato", "entrada"). The texts are made only for a message.
    struct Place {
        QLatin1String noun;
        bool feminine = false;
        qsizetype position = 0;

        static Place document() { return {}; }
        static Place inList(QLatin1String masculineNoun, qsizetype position) {
            return {masculineNoun, false, position};
        }
        static Place inFeminineList(QLatin1String feminineNoun, qsizetype position) {
            return {feminineNoun, true, position};
        }
        // " en el formato 3" / " en la entrada 3"; empty for the document.
        QString in() const;
        // " del formato 3" / " de la entrada 3"; empty for the document.
        QString of() const;
    };

    // The document as one object. Throws MediaDecodingError for a syntax error (with Qt's parser
    // text) or another kind of document.
    static QJsonObject parseObject(const QByteArray &json);

    explicit JsonFieldReader(const QJsonObject &object, Place place = Place::document())
        : m_object(object), m_place(place) {}

    std::optional<QString> text(QLatin1String key) const;
    std::optional<double> number(QLatin1String key) const;
    std::optional<qint64> integer(QLatin1String key) const;
    QString requiredText(QLatin1String key) const;
    [[noreturn]] void fail(QLatin1String key, const char *expected) const;

private:
    const QJsonObject &m_object;
    Place m_place;
};
