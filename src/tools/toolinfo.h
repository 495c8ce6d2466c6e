#pragma once

#include <QString>

enum class ToolKind { ytDLP, ffmpeg };

// How a copy of a tool was installed; decides how it can be updated.
struct ToolInstallSource {
    enum class Kind { homebrew, managed, macPorts, pip, systemPackage, standalone };

    Kind kind = Kind::standalone;
    QString brewPath; // the `brew` executable for this copy; only for homebrew

    static ToolInstallSource homebrew(QString brew) { return {Kind::homebrew, std::move(brew)}; }
    static ToolInstallSource of(Kind kind) { return {kind, {}}; }

    // The label the options window shows for this source.
    QString displayLabel() const;

    bool operator==(const ToolInstallSource &) const = default;
};

struct ToolInfo {
    QString path;    // as found, not symlink-resolved
    QString version; // or "detectado"
    ToolInstallSource installSource;

    bool operator==(const ToolInfo &) const = default;
};
