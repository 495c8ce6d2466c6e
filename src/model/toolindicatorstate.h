#pragma once

// How a tool's status pill and tool row present the tool.
enum class ToolIndicatorState {
    current,         // located, and no newer version is known
    updateAvailable, // the last version check reports a newer version
    missing,         // not located
};
