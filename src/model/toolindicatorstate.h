#pragma once

// How a tool's status pill and tool row present the tool.
enum class ToolIndicatorState {
    current,         // located, and the last version check found no newer version
    updateAvailable, // the last version check reports a newer version
    unchecked,       // located, but no version check has told anything about it yet
    missing,         // not located
};
