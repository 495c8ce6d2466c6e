#include "jsonfieldreader.h"

#include <QJsonDocument>
#include <QJsonParseError>

QJsonObject JsonFieldReader::parseObject(const QByteArray &json) {
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        throw MediaDecodingError(QStringLiteral("JSON no válido: %1 (posición %2)")
                                     .arg(parseError.errorString(), QString::number(parseError.offset)));
    if (!document.isObject())
        throw MediaDecodingError(QStringLiteral("El documento JSON debe ser un objeto."));
    return document.object();
}

QString JsonFieldReader::Place::in() const {
    if (position == 0)
        return {};
    return (feminine ? QStringLiteral(" en la ") : QStringLiteral(" en el ")) + noun + QLatin1Char(' ') +
           QString::number(position);
}

QString JsonFieldReader::Place::of() const {
    if (position == 0)
        return {};
    return (feminine ? QStringLiteral(" de la ") : QStringLiteral(" del ")) + noun + QLatin1Char(' ') +
           QString::number(position);
}

std::optional<QString> JsonFieldReader::text(QLatin1String key) const {
    const QJsonValue value = m_object.value(key);
    switch (value.type()) {
    case QJsonValue::Null:
    case QJsonValue::Undefined:
        return std::nullopt;
    case QJsonValue::String:
        return value.toString();
    default:
        fail(key, "un texto");
    }
}

std::optional<double> JsonFieldReader::number(QLatin1String key) const {
    const QJsonValue value = m_object.value(key);
    switch (value.type()) {
    case QJsonValue::Null:
    case QJsonValue::Undefined:
        return std::nullopt;
    case QJsonValue::Double:
        return value.toDouble();
    default:
        fail(key, "un número");
    }
}

std::optional<qint64> JsonFieldReader::integer(QLatin1String key) const {
    const QJsonValue value = m_object.value(key);
    switch (value.type()) {
    case QJsonValue::Null:
    case QJsonValue::Undefined:
        return std::nullopt;
    case QJsonValue::Double: {
        // toInteger() hands back its default for a fraction or for a value beyond 64 bits, and
        // QJsonValue does not say whether the parser kept an exact integer; so a zero result is
        // trusted only when the number itself is zero.
        const qint64 whole = value.toInteger(0);
        if (whole != 0 || value.toDouble() == 0)
            return whole;
        break;
    }
    default:
        break;
    }
    fail(key, "un número entero");
}

QString JsonFieldReader::requiredText(QLatin1String key) const {
    if (std::optional<QString> value = text(key))
        return *std::move(value);
    throw MediaDecodingError(QStringLiteral("Falta el campo obligatorio \"%1\"%2.").arg(key, m_place.in()));
}

void JsonFieldReader::fail(QLatin1String key, const char *expected) const {
    throw MediaDecodingError(
        QStringLiteral("El campo \"%1\"%2 debe ser %3.").arg(key, m_place.of(), QString::fromUtf8(expected)));
}
