#pragma once

#include "toolinfo.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// The managed copy of a tool that the last install replaced, kept for one step back: yt-dlp
// alone, or FFmpeg with FFprobe as one set. Its files lie in the managed tools folder beside the
// managed ones as NAME + ".previous"; a record (yt-dlp.previous.json, ffmpeg.previous.json)
// holds the version each file answered and its SHA-256, so that only the very copy that was
// kept, still answering as it did, is ever put back.
struct PreviousToolCopy {
    struct File {
        QString name;    // the managed file: "yt-dlp", "ffmpeg", "ffprobe"
        QString version; // what its version query answered
        QString sha256;  // lower-case hex
        bool operator==(const File &) const = default;
    };

    ToolKind tool = ToolKind::ytDLP;
    QList<File> files; // in install order

    // The version shown for the copy: its first file's.
    QString version() const { return files.isEmpty() ? QString() : files.constFirst().version; }

    // The managed files of a tool in install order, and the arguments of their version query.
    static QStringList fileNames(ToolKind tool);
    static QStringList versionArguments(ToolKind tool);
    // The version in what the query printed, as discovery reads it.
    static QString versionFrom(ToolKind tool, const QString &output);
    // Where a managed file is kept: folder / name + ".previous".
    static QString keptPath(const QString &folder, const QString &name);

    // The recorded copy; absent when there is none or its record is unreadable.
    static std::optional<PreviousToolCopy> read(const QString &folder, ToolKind tool);
    // Writes the record, replacing the previous one at once. Throws PlatformError.
    void write(const QString &folder) const;
    // Removes the record, then the kept files; errors are ignored.
    static void forget(const QString &folder, ToolKind tool);

    bool operator==(const PreviousToolCopy &) const = default;
};
