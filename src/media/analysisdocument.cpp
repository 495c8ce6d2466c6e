#include "analysisdocument.h"

#include "common/torvelerror.h"
#include "media/jobfolders.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>

AnalysisDocument::Folder::~Folder() {
    JobFolders::removeQuietly(m_path);
}

bool AnalysisDocument::isUsable(const QDateTime &now) const {
    const QFileInfo file(m_path);
    if (!file.isFile())
        return false;
    const qint64 age = file.lastModified().toUTC().secsTo(now.toUTC());
    return age < std::chrono::duration_cast<std::chrono::seconds>(lifetime).count();
}

void AnalysisDocument::write(QJsonObject document, const QString &folder, const QString &name) {
    // The page address still reaches the file's metadata: --embed-metadata writes a document's
    // "meta_X" field as the file's X, where it would have written the address as "purl" and
    // "comment".
    const QJsonValue address = document.take(QLatin1String("webpage_url"));
    if (address.isString()) {
        document.insert(QLatin1String("meta_purl"), address);
        document.insert(QLatin1String("meta_comment"), address);
    }
    QSaveFile file(folder + QLatin1Char('/') + name);
    if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(document).toJson(QJsonDocument::Compact)) < 0 ||
        !file.commit())
        throw PlatformError(
            QStringLiteral("No se pudo guardar el análisis en %1: %2").arg(file.fileName(), file.errorString()));
}
