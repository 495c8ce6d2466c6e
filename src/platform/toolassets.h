#pragma once

#include <QString>

// Names of the precompiled tool builds for the processor this application was built for. The
// choice is fixed at build time, not detected at run time.
namespace ToolAssets {

QString ytDLPAssetName();         // "yt-dlp_linux" or "yt-dlp_linux_aarch64"
QString denoAssetName();          // "deno-x86_64-unknown-linux-gnu.zip" or the aarch64 one
QString ffmpegProcessorElement(); // "amd64" or "arm64"

} // namespace ToolAssets
