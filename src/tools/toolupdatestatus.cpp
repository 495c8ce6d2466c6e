#include "toolupdatestatus.h"

QString ToolUpdateStatus::rawValue(Tool tool) {
    return tool == Tool::ytDLP ? QStringLiteral("yt-dlp") : QStringLiteral("FFmpeg");
}

std::optional<ToolUpdateStatus::Tool> ToolUpdateStatus::fromRawValue(const QString &text) {
    for (const Tool tool : {Tool::ytDLP, Tool::ffmpeg})
        if (rawValue(tool) == text)
            return tool;
    return std::nullopt;
}
