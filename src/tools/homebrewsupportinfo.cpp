#include "homebrewsupportinfo.h"

#include "process/lineaccumulator.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace {

// A tier: a number, "unsupported", or unknown (any other text or type).
struct BrewTier {
    enum class Kind { number, unsupported, unknown };
    Kind kind = Kind::unknown;
    int number = 0;

    static BrewTier from(const QJsonValue &value) {
        // JSON has one number type; only a whole number within int counts as a tier.
        if (value.isDouble()) {
            // The range first: converting a double outside int's range is undefined.
            const double number = value.toDouble();
            if (number >= -1e9 && number <= 1e9 && number == std::trunc(number))
                return {Kind::number, int(number)};
            return {};
        }
        if (value.isString() && value.toString() == QLatin1String("unsupported"))
            return {Kind::unsupported, 0};
        return {};
    }

    // Two numbers match when equal; any two tiers without a number match each other.
    bool matches(const BrewTier &other) const {
        if (kind == Kind::number || other.kind == Kind::number)
            return kind == other.kind && number == other.number;
        return true;
    }
};

} // namespace

std::optional<HomebrewSupportInfo> HomebrewSupportInfo::fromDiagnosis(const QByteArray &json) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject root = document.object();
    if (!root.contains(QLatin1String("tier")) || !root.value(QLatin1String("findings")).isArray())
        return std::nullopt;
    const BrewTier tier = BrewTier::from(root.value(QLatin1String("tier")));

    std::optional<QString> reason;
    const QJsonArray findings = root.value(QLatin1String("findings")).toArray();
    for (const QJsonValue &value : findings) {
        const QJsonObject finding = value.toObject();
        if (!value.isObject() || !finding.value(QLatin1String("text")).isString() ||
            !finding.contains(QLatin1String("tier")))
            return std::nullopt;
        if (!reason && BrewTier::from(finding.value(QLatin1String("tier"))).matches(tier)) {
            const QString text = finding.value(QLatin1String("text")).toString().trimmed();
            reason = LineAccumulator::splitLines(text).constFirst();
        }
    }
    if (!reason) {
        const QString label = tier.kind == BrewTier::Kind::number
                                  ? QStringLiteral("Tier ") + QString::number(tier.number)
                                  : QStringLiteral("no compatible");
        reason = QStringLiteral("Homebrew clasificó esta configuración como ") + label + QStringLiteral(".");
    }
    HomebrewSupportInfo info;
    if (tier.kind == BrewTier::Kind::number)
        info.tier = tier.number;
    info.unsupported = tier.kind == BrewTier::Kind::unsupported;
    info.reason = *reason;
    return info;
}
