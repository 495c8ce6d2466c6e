#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// How well Homebrew supports this machine, from its own diagnosis: an unsupported configuration
// can make it build every package from source.
struct HomebrewSupportInfo {
    std::optional<int> tier; // when Homebrew reports a number
    bool unsupported = false;
    QString reason;

    // Reads the JSON printed by `brew doctor check_for_unsupported_macos --json`: an object with
    // "tier" and "findings" (each with "text" and "tier"). A tier is an integer, the text
    // "unsupported", or anything else (unknown). Absent when the document does not have that shape.
    static std::optional<HomebrewSupportInfo> fromDiagnosis(const QByteArray &json);

    bool operator==(const HomebrewSupportInfo &) const = default;
};
