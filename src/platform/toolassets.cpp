#include "toolassets.h"

#include <QtGlobal>

namespace ToolAssets {

#if defined(Q_PROCESSOR_ARM_64)
QString ytDLPAssetName() {
    return QStringLiteral("yt-dlp_linux_aarch64");
}
QString denoAssetName() {
    return QStringLiteral("deno-aarch64-unknown-linux-gnu.zip");
}
QString ffmpegProcessorElement() {
    return QStringLiteral("arm64");
}
#else
QString ytDLPAssetName() {
    return QStringLiteral("yt-dlp_linux");
}
QString denoAssetName() {
    return QStringLiteral("deno-x86_64-unknown-linux-gnu.zip");
}
QString ffmpegProcessorElement() {
    return QStringLiteral("amd64");
}
#endif

} // namespace ToolAssets
