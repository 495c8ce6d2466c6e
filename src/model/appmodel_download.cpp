#include "appmodel.h"

#include "common/weburl.h"

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
    const QStringList addresses = WebURL::addressesIn(m_urlInput);
    if (addresses.isEmpty()) {
        fail(QStringLiteral("Introduce una URL válida que comience con http:// o https://."));
        co_return;
    }
    // The field keeps the address as the user wrote it; yt-dlp gets its encoded form. Of several
    // lines the first is taken, and the others are named so that none is lost silently.
    const std::optional<QUrl> url = WebURL::validatedWebURL(addresses.first());
    m_analyzedURL = url;
    setUrlInput(addresses.first());
    if (addresses.size() > 1)
        setAddressNote((addresses.size() == 2
                            ? QStringLiteral("Se analiza la primera dirección; la otra queda sin analizar: %1")
                            : QStringLiteral("Se analiza la primera dirección; las otras %1 quedan sin analizar: %2")
                                  .arg(addresses.size() - 1))
                           .arg(addresses.mid(1).join(QStringLiteral(", "))));
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
        const QString listYTDLPPath = m_ytDLP->path;
        co_await startPlaylistDownload(listYTDLPPath);
        co_return;
    }
    // A stretch that cannot be kept is refused before anything runs; the view shows why.
    if (!sectionProblem().isEmpty())
        co_return;
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
    QString unconverted;
    options.onNotice = [&unconverted](const QString &notice) { unconverted = notice; };
    options.concurrentFragments = m_settings.concurrentFragments();
    options.contents = fileContents();
    options.section = section();
    options.onLog = freshDownloadLog();
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
        setNotice(unconverted);
        if (m_settings.revealWhenFinished())
            m_desktop.revealFile(*placed, DesktopServices::Reveal::automatic);
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
    afterDownload(placed.has_value());
}

void AppModel::afterDownload(bool completed) {
    if (!m_waitingAddress)
        return;
    if (completed)
        analyzeWaitingAddress();
    else
        setWaitingAddress(m_waitingAddress); // no longer "al terminar la descarga"
}

void AppModel::analyzeWaitingAddress() {
    if (!m_waitingAddress || m_phase == Phase::downloading)
        return;
    const QString address = *m_waitingAddress;
    setWaitingAddress(std::nullopt);
    setUrlInput(address);
    if (m_isCheckingTools) {
        m_analysisAwaitsTools = true;
        return;
    }
    analyze();
}

void AppModel::offerAddress(const QString &text) {
    if (text.isEmpty())
        return;
    if (m_phase != Phase::downloading) {
        setUrlInput(normalizedURLText(text));
        return;
    }
    // The greyed field still shows what is being downloaded.
    const QStringList addresses = WebURL::addressesIn(text);
    if (!addresses.isEmpty())
        setWaitingAddress(addresses.first());
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
    setWaitingAddress(std::nullopt);
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
    // it waits for the download's end, shown as waiting; during a tool search the analysis waits
    // for its result, which would otherwise report yt-dlp missing.
    if (m_phase == Phase::downloading) {
        setWaitingAddress(*address);
        return;
    }
    setUrlInput(*address);
    if (m_isCheckingTools) {
        m_analysisAwaitsTools = true;
        return;
    }
    QMetaObject::invokeMethod(
        this, [this] { analyze(); }, Qt::QueuedConnection);
}
