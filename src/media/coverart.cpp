#include "coverart.h"

#include <QFileInfo>

namespace {

QString extensionOf(const QString &file) {
    return QFileInfo(file).suffix().toLower();
}

} // namespace

namespace CoverArt {

bool holdsCover(const QString &extension) {
    static const QStringList containers{QStringLiteral("mp4"), QStringLiteral("m4a"), QStringLiteral("m4v"),
                                        QStringLiteral("mov"), QStringLiteral("mp3"), QStringLiteral("mkv"),
                                        QStringLiteral("mka")};
    return containers.contains(extension.toLower());
}

QString thumbnailBeside(const QString &media) {
    const QFileInfo info(media);
    return info.absolutePath() + QLatin1Char('/') + info.completeBaseName() + QStringLiteral(".jpg");
}

std::optional<QStringList> embeddingArguments(const QString &media, const QString &cover, const QString &output,
                                              int videoStreams) {
    const QString extension = extensionOf(media);
    if (!holdsCover(extension))
        return std::nullopt;
    QStringList arguments{QStringLiteral("-hide_banner"), QStringLiteral("-nostdin"),
                          QStringLiteral("-nostats"),     QStringLiteral("-loglevel"),
                          QStringLiteral("error"),        QStringLiteral("-y"),
                          QStringLiteral("-i"),           media};
    if (extension == QLatin1String("mkv") || extension == QLatin1String("mka")) {
        // Matroska keeps a cover as an attachment named "cover".
        arguments << QStringLiteral("-map") << QStringLiteral("0") << QStringLiteral("-c") << QStringLiteral("copy")
                  << QStringLiteral("-attach") << cover << QStringLiteral("-metadata:s:t")
                  << QStringLiteral("mimetype=image/jpeg") << QStringLiteral("-metadata:s:t")
                  << QStringLiteral("filename=cover.jpg");
    } else {
        arguments << QStringLiteral("-i") << cover << QStringLiteral("-map") << QStringLiteral("0")
                  << QStringLiteral("-map") << QStringLiteral("1") << QStringLiteral("-c") << QStringLiteral("copy");
        if (extension == QLatin1String("mp3"))
            arguments << QStringLiteral("-id3v2_version") << QStringLiteral("3") << QStringLiteral("-metadata:s:v")
                      << QStringLiteral("title=Album cover") << QStringLiteral("-metadata:s:v")
                      << QStringLiteral("comment=Cover (front)");
        else
            // The picture is the last video stream: marked as the cover, it is no second video.
            arguments << QStringLiteral("-disposition:v:%1").arg(videoStreams) << QStringLiteral("attached_pic");
    }
    arguments << output;
    return arguments;
}

} // namespace CoverArt
