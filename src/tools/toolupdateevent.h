#pragma once

#include <QString>

#include <functional>

// What tool management reports while it works: a stage, a command about to run, a line of
// output (or a sentence of its own), a process that started or ended.
struct ToolUpdateEvent {
    enum class Kind { stage, command, output, processStarted, processFinished };

    Kind kind = Kind::output;
    QString text;     // stage, command, output
    qint32 value = 0; // process id (processStarted) or termination status (processFinished)

    static ToolUpdateEvent stage(QString text) { return {Kind::stage, std::move(text), 0}; }
    static ToolUpdateEvent command(QString text) { return {Kind::command, std::move(text), 0}; }
    static ToolUpdateEvent output(QString text) { return {Kind::output, std::move(text), 0}; }
    static ToolUpdateEvent processStarted(qint32 pid) { return {Kind::processStarted, {}, pid}; }
    static ToolUpdateEvent processFinished(qint32 status) { return {Kind::processFinished, {}, status}; }

    bool operator==(const ToolUpdateEvent &) const = default;
};

// Receives the events of one operation, on the thread that runs the operation.
using ToolUpdateEventHandler = std::function<void(const ToolUpdateEvent &event)>;
