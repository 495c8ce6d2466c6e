#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QString>

#include <chrono>
#include <memory>

// yt-dlp's own document of one analyzed item (a single video, or an entry that a list's document
// carries whole), kept on disk so that its download starts from it (`--load-info-json`) instead
// of extracting the page again. The documents of one analysis live in a job folder of their own,
// removed when the last document that needs it goes.
//
// A document is written without its "webpage_url": given a document that fails, yt-dlp would
// otherwise extract that address again after any failure on its own (a full file downloaded
// again after a failed merge, a whole page of videos for one embedded entry). The service decides
// instead, and only for failures that mean the media addresses have expired. The address stays
// in the document as the metadata yt-dlp embeds from it ("meta_purl", "meta_comment").
class AnalysisDocument {
public:
    // How long a document's media addresses are trusted. Large sites sign them for a few hours
    // (YouTube six, others less); a download that starts later extracts the address again rather
    // than meeting a refusal part-way. An older document costs only the extraction it saves.
    static constexpr std::chrono::minutes lifetime{60};

    // Holds a folder of documents; removes it, whatever is in it, when it goes.
    class Folder {
    public:
        explicit Folder(QString path) : m_path(std::move(path)) {}
        ~Folder();
        Folder(const Folder &) = delete;
        Folder &operator=(const Folder &) = delete;
        const QString &path() const { return m_path; }

    private:
        QString m_path;
    };

    AnalysisDocument(QString path, std::shared_ptr<const Folder> folder)
        : m_path(std::move(path)), m_folder(std::move(folder)) {}

    const QString &path() const { return m_path; }
    // Its age is that of its file: a document older than `lifetime` at `now`, or one that is gone
    // (the age-based clean-up of job folders), is not used.
    bool isUsable(const QDateTime &now = QDateTime::currentDateTimeUtc()) const;

    // Writes `document` as folder/name without "webpage_url". Throws PlatformError.
    static void write(QJsonObject document, const QString &folder, const QString &name);

private:
    QString m_path;
    std::shared_ptr<const Folder> m_folder;
};
