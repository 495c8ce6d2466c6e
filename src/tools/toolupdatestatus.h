#pragma once

#include "toolinfo.h"

#include <QString>

#include <optional>

// One located tool compared with its latest published version.
struct ToolUpdateStatus {
    enum class Tool { ytDLP, ffmpeg };

    Tool tool = Tool::ytDLP;
    QString installedVersion; // as discovery reported it
    QString latestVersion;
    bool updateAvailable = false;

    // The tool's display name: "yt-dlp" or "FFmpeg".
    static QString rawValue(Tool tool);
    static std::optional<Tool> fromRawValue(const QString &text);
    static Tool of(ToolKind kind) { return kind == ToolKind::ytDLP ? Tool::ytDLP : Tool::ffmpeg; }

    bool operator==(const ToolUpdateStatus &) const = default;
};
