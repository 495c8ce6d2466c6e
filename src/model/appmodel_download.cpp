#include "appmodel.h"

#include "common/weburl.h"

#include <QPointer>
#include <QUrlQuery>

namespace {

// Longer links are refused outright; no address a person shares comes close.
constexpr qsizetype maximumIncomingLinkLength = 32 * 1024;

} // namespace

QCoro::Task<> AppModel::analyze() {
    // A newer request (a link that arrived during an analysis) replaces the running one, whatever
    // becomes of it.
    const quint64 request = ++m_analysisRequest;
    if (m_phase == Phase::analyzing)
        m_service.cancel();
    if (!m_ytDLP) {
        fail(QStringLiteral("No encontramos yt-dlp. Abre Opciones para seleccionar el ejecutable o instalarlo."));
        co_return;
    }
    const QStringList addresses = WebURL::addressesIn(m_urlInput);
    if (addresses.isEmpty()) {
        // A download on screen goes on in the queue; the window says what is wrong with the field.
        m_followed.reset();
        fail(QStringLiteral("Introduce una URL válida que comience con http:// o https://."));
        co_return;
    }
    // Several addresses are queued, none lost; one is analyzed.
    if (addresses.size() > 1) {
        queueAddresses(m_urlInput);
        co_return;
    }
    // The field keeps the address as the user wrote it; yt-dlp gets its encoded form.
    const std::optional<QUrl> url = WebURL::validatedWebURL(addresses.first());
    // A download on screen goes on in the queue, beside this analysis.
    m_followed.reset();
    m_analyzedURL = url;
    setUrlInput(addresses.first());
    // What the note said concerned an earlier action.
    setAddressNote(QString());
    setPhase(Phase::analyzing);
    setErrorMessage(QString());
    setMediaInfo(std::nullopt);
    setPlaylist(std::nullopt);
    setCompletedFile(std::nullopt);

    QPointer<AppModel> self(this);
    std::optional<MediaAnalysis> media;
    bool cancelled = false;
    QString failure;
    const QString ytDLPPath = m_ytDLP->path;
    const CookieSource cookies = m_settings.cookieSource();
    try {
        media = co_await m_service.analyze(*url, ytDLPPath, cookies);
    } catch (const CancellationError &) {
        cancelled = true;
    } catch (const std::exception &error) {
        failure = describeError(error);
    }
    // A reset or a newer request made since has taken over the window.
    if (!self || request != m_analysisRequest)
        co_return;
    if (cancelled) {
        setPhase(Phase::idle);
        co_return;
    }
    if (!media) {
        fail(failure);
        co_return;
    }
    if (const auto *list = std::get_if<PlaylistInfo>(&*media)) {
        setPlaylist(*list);
        setSelectedChoiceID(QStringLiteral("recommended"));
        setSelectedAudioFormatID(std::nullopt);
        setSelectedSubtitles({});
        setPhase(Phase::ready);
        co_return;
    }
    setMediaInfo(std::get<MediaInfo>(*std::move(media)));
    setSelectedChoiceID(QStringLiteral("recommended"));
    const QList<MediaFormat> audioOnly = audioOnlyFormats();
    setSelectedAudioFormatID(audioOnly.isEmpty() ? std::nullopt : std::optional<QString>(audioOnly.first().formatID));
    const std::optional<QString> subtitles =
        SubtitleRequests::preferred(m_settings.preferredSubtitles(), *m_selection.mediaInfo);
    setSelectedSubtitles(subtitles ? QStringList{*subtitles} : QStringList());
    setPhase(Phase::ready);
}

QCoro::Task<> AppModel::retry() {
    if (m_phase != Phase::failed)
        co_return;
    if (m_selection.mediaInfo || m_playlist.info)
        co_await startDownload();
    else
        co_await analyze();
}

QCoro::Task<> AppModel::updateYTDLPAndRetry() {
    QPointer<AppModel> self(this);
    co_await updateTools(ToolKind::ytDLP);
    if (self && m_operation.outcome == ToolUpdateOutcome::success)
        co_await retry();
}

QCoro::Task<> AppModel::startDownload() {
    if (m_phase != Phase::ready && m_phase != Phase::completed && m_phase != Phase::failed)
        co_return;
    if (!m_ytDLP || !m_analyzedURL)
        co_return;
    if (m_playlist.info) {
        downloadList();
        co_return;
    }
    // A stretch that cannot be kept is refused before anything runs; the view shows why.
    if (!sectionProblem().isEmpty())
        co_return;
    // A direct order: downloaded again, saying when it was downloaded before.
    const std::optional<MediaInfo> &media = m_selection.mediaInfo;
    const std::optional<HistoryEntry> before =
        downloadedBefore(m_analyzedURL->toString(QUrl::FullyEncoded),
                         media ? media->extractor.value_or(QString()) : QString(), media ? media->id : QString());
    // Always the address that was analyzed: the choices belong to it. The item starts at once,
    // beyond the queue's limit, and the card follows it.
    const std::optional<QList<qint64>> ids = addItems({selectedItem()});
    if (!ids)
        co_return;
    setErrorMessage(QString());
    setCompletedFile(std::nullopt);
    followItems(*ids, std::nullopt);
    setAddressNote(before ? downloadedBeforeText(*before) : QString());
    m_queue->runner().startNow(ids->constFirst());
}

void AppModel::offerAddress(const QString &text) {
    if (!text.isEmpty())
        setUrlInput(normalizedURLText(text));
}

void AppModel::cancelDownload() {
    // A cancelled analysis answers nobody: the window is back at once, the address kept.
    if (m_phase == Phase::analyzing) {
        ++m_analysisRequest;
        setPhase(Phase::idle);
    }
    if (m_phase == Phase::analyzing || !m_followed) {
        m_service.cancel();
        return;
    }
    for (const qint64 id : std::as_const(m_followed->ids))
        if (!m_followed->ended.contains(id))
            m_queue->cancel(id);
    // The running ones stop now rather than at the runner's next look at the store; those that
    // were still waiting end here.
    m_queue->runner().refresh();
    const QList<qint64> running = m_queue->runner().runningItems();
    for (const qint64 id : followedItems())
        if (m_followed && !m_followed->ended.contains(id) && !running.contains(id))
            followedItemFinished(id, QueueState::cancelled);
}

void AppModel::reset() {
    if (m_phase == Phase::downloading)
        return;
    // Whatever analysis still runs answers nobody now.
    ++m_analysisRequest;
    if (m_phase == Phase::analyzing)
        m_service.cancel();
    m_analyzedURL.reset();
    setUrlInput(QString());
    setSelectedAudioFormatID(std::nullopt);
    setSelectedSubtitles({});
    forgetAnalysis();
}

void AppModel::forgetAnalysisOfOtherAddress() {
    if (!m_analyzedURL || (m_phase != Phase::ready && m_phase != Phase::completed && m_phase != Phase::failed) ||
        validatedWebURL(m_urlInput) == m_analyzedURL)
        return;
    forgetAnalysis();
}

void AppModel::forgetAnalysis() {
    m_analyzedURL.reset();
    setMediaInfo(std::nullopt);
    setPlaylist(std::nullopt);
    setCompletedFile(std::nullopt);
    setErrorMessage(QString());
    setProgress(DownloadProgress::initial());
    setPhase(Phase::idle);
}

void AppModel::revealCompletedFile() {
    if (m_completedFile)
        m_desktop.revealFile(*m_completedFile, DesktopServices::Reveal::asked);
}

void AppModel::handleIncomingURL(const QUrl &url) {
    std::optional<QString> address;
    if (url.toString(QUrl::FullyEncoded).size() <= maximumIncomingLinkLength &&
        url.scheme().toLower() == QLatin1String("tdl") && url.host().toLower() == QLatin1String("analyze")) {
        const QList<QPair<QString, QString>> items = QUrlQuery(url).queryItems(QUrl::FullyDecoded);
        const auto item = std::find_if(items.cbegin(), items.cend(),
                                       [](const auto &pair) { return pair.first == QLatin1String("url"); });
        if (item != items.cend() && validatedWebURL(item->second))
            address = item->second;
    }
    if (!address) {
        const QString refusal = QStringLiteral("El enlace recibido no es válido o no utiliza una URL web segura.");
        // A running analysis or download keeps its phase, and with it its card, its "Cancelar"
        // and the question before closing: the refusal is shown beside it.
        if (m_phase == Phase::analyzing || m_phase == Phase::downloading)
            setErrorMessage(refusal);
        else
            fail(refusal);
        return;
    }
    m_desktop.activateApplication();
    // Only fills in and analyzes: a link from outside never starts a download. During a download
    // it is analyzed beside it (the download goes on in the queue); during a tool search the
    // analysis waits for its result, which would otherwise report yt-dlp missing.
    setUrlInput(*address);
    if (m_isCheckingTools) {
        m_analysisAwaitsTools = true;
        return;
    }
    QMetaObject::invokeMethod(
        this, [this] { analyze(); }, Qt::QueuedConnection);
}
