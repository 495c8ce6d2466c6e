#include "appmodel.h"

#include <QPointer>
#include <QUrlQuery>

namespace {

// Longer links are refused outright; no address a person shares comes close.
constexpr qsizetype maximumIncomingLinkLength = 32 * 1024;

} // namespace

QCoro::Task<> AppModel::analyze() {
    if (m_phase == Phase::downloading)
        co_return;
    // A newer request (a link that arrived during an analysis) replaces the running one, whatever
    // becomes of it.
    const quint64 request = ++m_analysisRequest;
    if (m_phase == Phase::analyzing)
        m_service.cancel();
    if (!m_ytDLP) {
        fail(QStringLiteral("No encontramos yt-dlp. Abre Opciones para seleccionar el ejecutable o instalarlo."));
        co_return;
    }
    const std::optional<QUrl> url = validatedWebURL(m_urlInput);
    if (!url) {
        fail(QStringLiteral("Introduce una URL válida que comience con http:// o https://."));
        co_return;
    }
    // The field keeps the address as the user wrote it; yt-dlp gets its encoded form.
    m_analyzedURL = url;
    setUrlInput(normalizedURLText(m_urlInput));
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
        setPhase(Phase::ready);
        co_return;
    }
    setMediaInfo(std::get<MediaInfo>(*std::move(media)));
    setSelectedChoiceID(QStringLiteral("recommended"));
    const QList<MediaFormat> audioOnly = audioOnlyFormats();
    setSelectedAudioFormatID(audioOnly.isEmpty() ? std::nullopt : std::optional<QString>(audioOnly.first().formatID));
    setPhase(Phase::ready);
}

QCoro::Task<> AppModel::startDownload() {
    if (m_phase != Phase::ready && m_phase != Phase::completed && m_phase != Phase::failed)
        co_return;
    if (!m_ytDLP || !m_analyzedURL)
        co_return;
    if (m_playlist.info) {
        const QString listYTDLPPath = m_ytDLP->path;
        co_await startPlaylistDownload(listYTDLPPath);
        co_return;
    }
    // Always the address that was analyzed: the choices belong to it.
    const QUrl url = *m_analyzedURL;
    setPhase(Phase::downloading);
    setProgress(DownloadProgress::initial());
    setErrorMessage(QString());
    setCompletedFile(std::nullopt);

    const QString destination = downloadDirectoryURL();
    const DownloadChoice choice = selectedChoice();
    const std::optional<QString> ffmpegPath = m_ffmpeg ? std::optional<QString>(m_ffmpeg->path) : std::nullopt;

    QPointer<AppModel> self(this);
    std::optional<QString> placed;
    bool cancelled = false;
    QString failure;
    const YTDLPService::ProgressCallback onProgress = [self](const DownloadProgress &progress) {
        if (self)
            self->deliverProgress(progress);
    };
    const QString ytDLPPath = m_ytDLP->path;
    YTDLPService::DownloadOptions options;
    options.cookies = m_settings.cookieSource();
    options.conversion = compatibleMP4Outlook();
    options.concurrentFragments = m_settings.concurrentFragments();
    // The analysis's document: "Descargar" fetches no page while it is usable.
    options.document = m_selection.mediaInfo ? m_selection.mediaInfo->document : nullptr;
    try {
        placed = co_await m_service.download(url, choice, ytDLPPath, ffmpegPath, destination, onProgress, options);
    } catch (const CancellationError &) {
        cancelled = true;
    } catch (const std::exception &error) {
        failure = describeError(error);
    }
    if (!self)
        co_return;
    if (placed) {
        setCompletedFile(placed);
        setPhase(Phase::completed);
        if (m_settings.revealWhenFinished())
            m_desktop.revealFile(*placed);
        Q_EMIT downloadFinished({FinishedDownload::Result::completed, *placed, QString()});
    } else if (cancelled) {
        dropPendingProgress();
        setPhase(Phase::ready);
        setProgress(DownloadProgress::initial());
        setNotice(QStringLiteral("Descarga cancelada."));
    } else {
        fail(failure);
        Q_EMIT downloadFinished({FinishedDownload::Result::failed, QString(), failure});
    }
    // A link that arrived during the download is analyzed now.
    if (m_analysisAwaitsDownload) {
        m_analysisAwaitsDownload = false;
        analyze();
    }
}

void AppModel::cancelDownload() {
    // A cancelled analysis answers nobody: the window is back at once, the address kept.
    if (m_phase == Phase::analyzing) {
        ++m_analysisRequest;
        setPhase(Phase::idle);
    }
    if (m_playlistDownloader)
        m_playlistDownloader->cancel();
    else
        m_service.cancel();
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
        m_desktop.revealFile(*m_completedFile);
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
    setUrlInput(*address);
    // Only fills in and analyzes: a link from outside never starts a download. During a tool
    // search the analysis waits for its result, which would otherwise report yt-dlp missing;
    // during a download it waits for the download's end.
    if (m_phase == Phase::downloading) {
        m_analysisAwaitsDownload = true;
        return;
    }
    if (m_isCheckingTools) {
        m_analysisAwaitsTools = true;
        return;
    }
    QMetaObject::invokeMethod(
        this, [this] { analyze(); }, Qt::QueuedConnection);
}
