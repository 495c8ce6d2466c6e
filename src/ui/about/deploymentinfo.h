#pragma once

#include <QString>
#include <QUrl>

// Values that belong to this deployment of the application rather than to its code: who makes
// it, where the outside projects live, who builds the managed FFmpeg copies.
namespace DeploymentInfo {

QString makerDomain();
QUrl makerWebsite();
QString makerNotice();

QUrl ytDLPWebsite();
QUrl ffmpegWebsite();
QUrl denoWebsite();
QString ffmpegBuildsProviderName();
QUrl ffmpegBuildsProviderWebsite();

} // namespace DeploymentInfo
