#include "downloadingcard.h"

#include "model/appmodel.h"
#include "ui/components/logview.h"
#include "ui/components/secondarytext.h"
#include "ui/components/uiparts.h"
#include "ui/components/wrappinglabel.h"
#include "ui/main/formattexts.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr int barSteps = 1000;
constexpr int barHeight = 8;

// A slim rounded bar in the accent color, the same under every widget style.
class AccentProgressBar final : public QProgressBar {
public:
    explicit AccentProgressBar(QWidget *parent) : QProgressBar(parent) {
        setTextVisible(false);
        setRange(0, barSteps);
        setFixedHeight(barHeight);
    }

    QSize sizeHint() const override { return {200, barHeight}; }
    QSize minimumSizeHint() const override { return {barHeight, barHeight}; }

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF track = rect();
        const qreal radius = track.height() / 2;
        painter.setPen(Qt::NoPen);
        painter.setBrush(TorvelTheme::primary(palette(), 0.09));
        painter.drawRoundedRect(track, radius, radius);
        const qreal share = qBound(0.0, qreal(value() - minimum()) / qMax(1, maximum() - minimum()), 1.0);
        if (share <= 0)
            return;
        QRectF filled = track;
        filled.setWidth(qMax(track.height(), track.width() * share));
        painter.setBrush(TorvelTheme::accent());
        painter.drawRoundedRect(filled, radius, radius);
    }
};

} // namespace

DownloadingCard::DownloadingCard(AppModel &model, QWidget *parent) : TorvelCard(parent), m_model(model) {
    using TorvelTheme::TextStyle;
    setObjectName(QStringLiteral("downloadingCard"));
    QVBoxLayout *layout = contentLayout();
    layout->setSpacing(14);

    auto *header = new QHBoxLayout;
    header->setSpacing(16);
    auto *texts = new QVBoxLayout;
    texts->setSpacing(3);
    m_phase = new WrappingLabel(QString(), this);
    m_phase->setObjectName(QStringLiteral("progressPhaseLabel"));
    m_phase->setFont(TorvelTheme::font(TextStyle::headline));
    texts->addWidget(m_phase);
    m_title = new WrappingLabel(QString(), this);
    m_title->setObjectName(QStringLiteral("progressTitleLabel"));
    m_title->setFont(TorvelTheme::font(TextStyle::callout));
    SecondaryText::apply(m_title);
    texts->addWidget(m_title);
    header->addLayout(texts, 1);

    m_percent = UiParts::label(QString(), TextStyle::body, this, QStringLiteral("progressPercentLabel"));
    m_percent->setFont(UiParts::scaledFont(TextStyle::body, 1.6, QFont::Bold));
    UiParts::setTextColor(m_percent, TorvelTheme::accent());
    m_percent->setAlignment(Qt::AlignRight | Qt::AlignTop);
    // Wide enough for "100 %" from the start, so the texts beside it never shift while it counts.
    m_percent->setMinimumWidth(m_percent->fontMetrics().horizontalAdvance(QStringLiteral("100 %")) + 2);
    header->addWidget(m_percent, 0, Qt::AlignTop);
    layout->addLayout(header);

    m_bar = new AccentProgressBar(this);
    m_bar->setObjectName(QStringLiteral("progressBar"));
    m_bar->setAccessibleName(QStringLiteral("Progreso de la descarga"));
    layout->addWidget(m_bar);

    auto *footer = new QHBoxLayout;
    footer->setSpacing(14);
    m_status = new WrappingLabel(QString(), this);
    m_status->setObjectName(QStringLiteral("progressStatusLabel"));
    m_status->setFont(TorvelTheme::font(TextStyle::callout));
    footer->addWidget(m_status, 1, Qt::AlignVCenter);
    m_speed = UiParts::secondaryLabel(QString(), TextStyle::callout, this, QStringLiteral("progressSpeedLabel"));
    footer->addWidget(m_speed);
    m_eta = UiParts::secondaryLabel(QString(), TextStyle::callout, this, QStringLiteral("progressEtaLabel"));
    footer->addWidget(m_eta);
    m_showLog = UiParts::borderedButton(QStringLiteral("Registro"), QStringLiteral("terminal.fill"), this,
                                        QStringLiteral("downloadLogButton"));
    m_showLog->setCheckable(true);
    footer->addWidget(m_showLog);
    m_cancel = UiParts::borderedButton(QStringLiteral("Cancelar"), QString(), this, QStringLiteral("cancelButton"));
    // A button that stops something reads in the danger color.
    QPalette cancelPalette = m_cancel->palette();
    cancelPalette.setColor(QPalette::ButtonText, TorvelTheme::danger());
    m_cancel->setPalette(cancelPalette);
    footer->addWidget(m_cancel);
    layout->addLayout(footer);

    m_log = new LogView(QStringLiteral("downloadLogView"), this);
    m_log->hide();
    layout->addWidget(m_log);

    connect(m_cancel, &QPushButton::clicked, this, [this] { m_model.cancelDownload(); });
    connect(&m_model, &AppModel::progressChanged, this, &DownloadingCard::refreshProgress);
    connect(&m_model, &AppModel::mediaInfoChanged, this, &DownloadingCard::refreshTitle);
    connect(&m_model, &AppModel::playlistPositionChanged, this, &DownloadingCard::refreshTitle);
    connect(&m_model, &AppModel::playlistPositionChanged, this, &DownloadingCard::refreshProgress);
    connect(m_showLog, &QPushButton::toggled, m_log, &QWidget::setVisible);
    connect(&m_model, &AppModel::downloadLogChanged, this, &DownloadingCard::refreshLog);
    refreshProgress();
    refreshTitle();
    refreshLog();
}

void DownloadingCard::refreshProgress() {
    const DownloadProgress &progress = m_model.progress();
    // A list names the running entry's place; the bar and the percentage are the whole list's.
    const std::optional<PlaylistDownloader::Position> &position = m_model.playlistPosition();
    m_phase->setText(position ? position->headline() : progress.phaseText);
    m_percent->setText(FormatTexts::percentageText(progress.fraction));
    m_bar->setValue(qBound(0, int(progress.fraction * barSteps), barSteps));
    m_status->setText(progress.statusText);
    m_speed->setText(progress.speedText);
    m_speed->setVisible(!progress.speedText.isEmpty());
    m_eta->setText(progress.etaText);
    m_eta->setVisible(!progress.etaText.isEmpty());
}

void DownloadingCard::refreshTitle() {
    const std::optional<MediaInfo> &media = m_model.mediaInfo();
    const std::optional<PlaylistDownloader::Position> &position = m_model.playlistPosition();
    m_title->setText(position ? position->title : media ? media->title : QStringLiteral("Contenido"));
}

void DownloadingCard::refreshLog() {
    m_log->showLog(m_model.downloadLog());
}
