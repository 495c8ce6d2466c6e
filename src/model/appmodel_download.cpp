#include "appmodel.h"

#include <QPointer>
#include <QUrlQuery>

namespace {

// Longer links are refused outright; no address a person shares comes close.
constexpr qsizetype maximumIncomingLinkLength = 32 * 1024;

} // namespace

QCoro::Task<> AppModel::analyze() {
    if (m_phase == Phase::analyzing || m_phase == Phase::downloading)
        co_return;
    if (!m_ytDLP) {
        fail(QStringLiteral("No encontramos yt-dlp. Abre Opciones para seleccionar el ejecutable o instalarlo."));
        co_return;
    }
    const std::optional<QUrl> url = validatedWebURL(m_urlInput);
    if (!url) {
        fail(QStringLiteral("Introduce una URL válida que comience con http:// o https://."));
        co_return;
    }
    setUrlInput(url->toString(QUrl::FullyEncoded));
    setPhase(Phase::analyzing);
    setErrorMessage(QString());
    setMediaInfo(std::nullopt);
    setCompletedFile(std::nullopt);

    QPointer<AppModel> self(this);
    std::optional<MediaInfo> media;
    QString failure;
    const QString ytDLPPath = m_ytDLP->path;
    try {
        media = co_await m_service.analyze(*url, ytDLPPath);
    } catch (const std::exception &error) {
        failure = describeError(error);
    }
    if (!self)
        co_return;
    if (!media) {
        fail(failure);
        co_return;
    }
    setMediaInfo(media);
    setSelectedChoiceID(QStringLiteral("recommended"));
    const QList<MediaFormat> audioOnly = audioOnlyFormats();
    setSelectedAudioFormatID(audioOnly.isEmpty() ? std::nullopt : std::optional<QString>(audioOnly.first().formatID));
    setPhase(Phase::ready);
}

QCoro::Task<> AppModel::startDownload() {
    if (m_phase != Phase::ready && m_phase != Phase::completed && m_phase != Phase::failed)
        co_return;
    if (!m_ytDLP)
        co_return;
    const std::optional<QUrl> url = validatedWebURL(m_urlInput);
    if (!url)
        co_return;
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
    try {
        placed = co_await m_service.download(*url, choice, ytDLPPath, ffmpegPath, destination, onProgress);
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
    } else {
        fail(failure);
        Q_EMIT downloadFinished({FinishedDownload::Result::failed, QString(), failure});
    }
}

void AppModel::reset() {
    if (m_phase == Phase::downloading)
        return;
    setUrlInput(QString());
    setMediaInfo(std::nullopt);
    setCompletedFile(std::nullopt);
    setErrorMessage(QString());
    setProgress(DownloadProgress::initial());
    setSelectedAudioFormatID(std::nullopt);
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
    // search the analysis waits for its result, which would otherwise report yt-dlp missing.
    if (m_isCheckingTools) {
        m_analysisAwaitsTools = true;
        return;
    }
    QMetaObject::invokeMethod(
        this, [this] { analyze(); }, Qt::QueuedConnection);
}
