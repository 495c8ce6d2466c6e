#include "deploymentinfo.h"

namespace DeploymentInfo {

QString makerDomain() {
    return QStringLiteral("torvel.example");
}
QUrl makerWebsite() {
    return QUrl(QStringLiteral("https://torvel.example"));
}
QString makerNotice() {
    return QStringLiteral("© Torvel. Todos los derechos reservados.");
}

QUrl ytDLPWebsite() {
    return QUrl(QStringLiteral("https://github.com/yt-dlp/yt-dlp"));
}
QUrl ffmpegWebsite() {
    return QUrl(QStringLiteral("https://ffmpeg.org"));
}
QUrl denoWebsite() {
    return QUrl(QStringLiteral("https://deno.com"));
}
QString ffmpegBuildsProviderName() {
    return QStringLiteral("Martin Riedl");
}
QUrl ffmpegBuildsProviderWebsite() {
    return QUrl(QStringLiteral("https://ffmpeg.martin-riedl.de"));
}

} // namespace DeploymentInfo
