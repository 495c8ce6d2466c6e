#include "playlistinfo.h"

#include "common/background.h"
#include "common/weburl.h"
#include "media/jsonfieldreader.h"

#include <QJsonArray>

#include <cmath>

namespace {

const QLatin1String entriesKey("entries");
const QLatin1String typeKey("_type");

// A channel holds its tabs, a tab its videos; nothing real goes deeper.
constexpr int deepestNesting = 4;

bool isList(const QJsonObject &object) {
    const QJsonValue type = object.value(typeKey);
    return type == QLatin1String("playlist") || type == QLatin1String("multi_video") ||
           (object.contains(entriesKey) && !object.contains(QLatin1String("formats")));
}

// Throws unless "entries" is a list (or absent, which is an empty one).
QJsonArray entriesOf(const QJsonObject &object, const JsonFieldReader &read) {
    const QJsonValue value = object.value(entriesKey);
    if (value.isUndefined() || value.isNull())
        return {};
    if (!value.isArray())
        read.fail(entriesKey, "una lista");
    return value.toArray();
}

// The entries below an omitted one, which are counted but not read.
qsizetype countedEntries(const QJsonValue &value, int depth) {
    const QJsonObject object = value.toObject();
    if (depth >= deepestNesting || !value.isObject() || !isList(object) || !object.value(entriesKey).isArray())
        return 1;
    qsizetype count = 0;
    for (const QJsonValue &entry : object.value(entriesKey).toArray())
        count += countedEntries(entry, depth + 1);
    return count;
}

class EntryReader {
public:
    EntryReader(PlaylistInfo &list, std::optional<QUrl> listPage, const PlaylistInfo::WholeEntryCallback &onWholeEntry)
        : m_list(list), m_listPage(std::move(listPage)), m_onWholeEntry(onWholeEntry) {}

    void readEntries(const QJsonArray &entries, int depth) {
        qsizetype topLevelPosition = 0;
        for (const QJsonValue &value : entries) {
            ++topLevelPosition;
            if (m_list.entries.size() >= PlaylistInfo::maximumEntries) {
                m_list.omittedEntryCount += countedEntries(value, depth);
                continue;
            }
            const qsizetype position = m_list.entries.size() + 1;
            if (value.isNull()) {
                // yt-dlp leaves a hole where an entry could not be read.
                PlaylistEntry hole;
                hole.title = QStringLiteral("Video %1 (no disponible)").arg(position);
                m_list.entries.append(hole);
                continue;
            }
            if (!value.isObject())
                throw MediaDecodingError(QStringLiteral("La entrada %1 de la lista debe ser un objeto.").arg(position));
            const QJsonObject object = value.toObject();
            const JsonFieldReader read(object,
                                       JsonFieldReader::Place::inFeminineList(QLatin1String("entrada"), position));
            if (isList(object) && object.value(entriesKey).isArray() && depth + 1 < deepestNesting) {
                readEntries(entriesOf(object, read), depth + 1);
                continue;
            }
            m_list.entries.append(readEntry(object, read, position, depth == 0 ? topLevelPosition : 0));
            if (m_onWholeEntry && object.contains(QLatin1String("formats")) && m_list.entries.last().isDownloadable())
                m_onWholeEntry(m_list.entries.size() - 1, object);
        }
    }

private:
    PlaylistEntry readEntry(const QJsonObject &object, const JsonFieldReader &read, qsizetype position,
                            qsizetype topLevelPosition) const {
        // A reference names its video with "url"; an extracted entry's "url" is one of its media
        // streams, and its page is "webpage_url".
        const std::optional<QString> url = read.text(QLatin1String("url"));
        const std::optional<QString> page = read.text(QLatin1String("webpage_url"));
        const bool extracted = object.contains(QLatin1String("formats"));
        const std::optional<QString> title = read.text(QLatin1String("title"));
        std::optional<double> duration = read.number(QLatin1String("duration"));
        if (duration && !(std::isfinite(*duration) && *duration >= 0))
            duration.reset();

        PlaylistEntry entry;
        entry.duration = duration;
        entry.thumbnail = read.text(QLatin1String("thumbnail"));
        const std::optional<QString> &first = extracted ? page : url;
        const std::optional<QString> &second = extracted ? url : page;
        std::optional<QUrl> address = first ? WebURL::validatedWebURL(*first) : std::nullopt;
        if (!address && second)
            address = WebURL::validatedWebURL(*second);
        // A list inside the list that yt-dlp did not open cannot be downloaded as one video.
        if (isList(object))
            address.reset();
        if (address && m_listPage && address->matches(*m_listPage, QUrl::StripTrailingSlash)) {
            // The entry has no page of its own (several videos embedded in one page): it is
            // downloaded as its number in the list, which only the top level has.
            if (topLevelPosition > 0)
                entry.item = topLevelPosition;
            else
                address.reset();
        }
        entry.url = address;
        if (title && !title->trimmed().isEmpty())
            entry.title = *title;
        else if (first || second)
            entry.title = first ? *first : *second;
        else
            entry.title = QStringLiteral("Video %1").arg(position);
        return entry;
    }

    PlaylistInfo &m_list;
    std::optional<QUrl> m_listPage;
    const PlaylistInfo::WholeEntryCallback &m_onWholeEntry;
};

} // namespace

qsizetype PlaylistInfo::downloadableCount() const {
    return std::count_if(entries.cbegin(), entries.cend(),
                         [](const PlaylistEntry &entry) { return entry.isDownloadable(); });
}

QString PlaylistInfo::omittedEntriesText() const {
    if (omittedEntryCount == 0)
        return {};
    return QStringLiteral("… y %1 más").arg(omittedEntryCount);
}

bool PlaylistInfo::describesList(const QJsonObject &document) {
    return isList(document);
}

PlaylistInfo PlaylistInfo::decode(const QJsonObject &document, const WholeEntryCallback &onWholeEntry) {
    const JsonFieldReader read(document);
    PlaylistInfo list;
    list.id = read.text(QLatin1String("id"));
    const std::optional<QString> title = read.text(QLatin1String("title"));
    list.title = title && !title->trimmed().isEmpty() ? *title : list.id.value_or(QStringLiteral("Lista sin título"));
    list.uploader = read.text(QLatin1String("uploader"));
    list.webpageURL = read.text(QLatin1String("webpage_url"));
    const QJsonArray entries = entriesOf(document, read);
    list.entries.reserve(std::min(entries.size(), maximumEntries));
    const std::optional<QUrl> page = list.webpageURL ? WebURL::validatedWebURL(*list.webpageURL) : std::nullopt;
    EntryReader(list, page, onWholeEntry).readEntries(entries, 0);
    return list;
}

namespace MediaAnalyses {

MediaAnalysis decode(const QByteArray &json) {
    const QJsonObject document = JsonFieldReader::parseObject(json);
    if (PlaylistInfo::describesList(document))
        return PlaylistInfo::decode(document);
    return MediaInfo::decode(document);
}

MediaAnalysis decode(const QByteArray &json, const QString &folder) {
    if (folder.isEmpty())
        return decode(json);
    const QJsonObject document = JsonFieldReader::parseObject(json);
    // Written only once the whole document has decoded.
    const auto kept = [&folder](const QJsonObject &object, const QString &name) {
        try {
            AnalysisDocument::write(object, folder, name);
            return std::make_shared<const AnalysisDocument>(folder + QLatin1Char('/') + name, nullptr);
        } catch (const PlatformError &) {
            return std::shared_ptr<const AnalysisDocument>();
        }
    };
    if (PlaylistInfo::describesList(document)) {
        QList<std::pair<qsizetype, QJsonObject>> whole;
        PlaylistInfo list = PlaylistInfo::decode(document, [&whole](qsizetype index, const QJsonObject &entry) {
            whole.append({index, entry});
        });
        for (const auto &[index, entry] : std::as_const(whole))
            list.entries[index].document = kept(entry, QStringLiteral("entry-%1.info.json").arg(index + 1));
        return list;
    }
    MediaInfo media = MediaInfo::decode(document);
    media.document = kept(document, QStringLiteral("item.info.json"));
    return media;
}

QCoro::Task<MediaAnalysis> decodeInBackground(QByteArray json, QString folder) {
    auto decoding = [json, folder] { return decode(json, folder); };
    co_return co_await Background::run(decoding);
}

void holdDocuments(MediaAnalysis &analysis, const std::shared_ptr<const AnalysisDocument::Folder> &folder) {
    const auto held = [&folder](std::shared_ptr<const AnalysisDocument> &document) {
        if (document)
            document = std::make_shared<const AnalysisDocument>(document->path(), folder);
    };
    if (auto *media = std::get_if<MediaInfo>(&analysis))
        held(media->document);
    else
        for (PlaylistEntry &entry : std::get<PlaylistInfo>(analysis).entries)
            held(entry.document);
}

} // namespace MediaAnalyses
