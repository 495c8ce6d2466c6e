#include "audiopairingview.h"

#include "model/appmodel.h"
#include "ui/components/iconlabel.h"
#include "ui/components/icons.h"
#include "ui/components/secondarytext.h"
#include "ui/components/uiparts.h"
#include "ui/components/wrappinglabel.h"
#include "ui/main/formattexts.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

const QString withoutAudioText = QStringLiteral("Sin audio · descargar únicamente el video");

} // namespace

AudioPairingView::AudioPairingView(AppModel &model, QWidget *parent) : QFrame(parent), m_model(model) {
    using TorvelTheme::TextStyle;
    setObjectName(QStringLiteral("audioPairingView"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 14, 16, 14);
    layout->setSpacing(10);

    auto *header = new QHBoxLayout;
    header->setSpacing(8);
    header->addWidget(new IconLabel(QStringLiteral("link.badge.plus"), TorvelTheme::accent(), 20, this), 0,
                      Qt::AlignVCenter);
    auto *title = new WrappingLabel(QStringLiteral("Este formato no contiene audio"), this);
    title->setObjectName(QStringLiteral("audioPairingTitle"));
    title->setFont(TorvelTheme::font(TextStyle::headline));
    header->addWidget(title, 1);
    m_videoCaption = UiParts::secondaryLabel(QString(), TextStyle::caption, this, QStringLiteral("audioPairingVideo"));
    header->addWidget(m_videoCaption, 0, Qt::AlignVCenter);
    layout->addLayout(header);

    auto *row = new QHBoxLayout;
    row->setSpacing(12);
    auto *texts = new QVBoxLayout;
    texts->setSpacing(2);
    texts->addWidget(UiParts::secondaryLabel(QStringLiteral("Pista de audio para combinar"), TextStyle::caption, this,
                                             QStringLiteral("audioPairingCaption")));
    m_current = new WrappingLabel(QString(), this);
    m_current->setObjectName(QStringLiteral("audioPairingCurrentLabel"));
    m_current->setFont(TorvelTheme::font(TextStyle::body, QFont::Medium));
    texts->addWidget(m_current);
    row->addLayout(texts, 1);

    m_menuButton = UiParts::borderedButton(QStringLiteral("Elegir audio"), QStringLiteral("waveform"), this,
                                           QStringLiteral("audioPairingMenuButton"));
    m_menu = new QMenu(m_menuButton);
    m_menu->setObjectName(QStringLiteral("audioPairingMenu"));
    m_menuButton->setMenu(m_menu);
    row->addWidget(m_menuButton, 0, Qt::AlignVCenter);
    layout->addLayout(row);

    m_footer = new WrappingLabel(QString(), this);
    m_footer->setObjectName(QStringLiteral("audioPairingFooter"));
    m_footer->setFont(TorvelTheme::font(TextStyle::caption));
    layout->addWidget(m_footer);

    connect(&m_model, &AppModel::selectionChanged, this, &AudioPairingView::refresh);
    connect(&m_model, &AppModel::mediaInfoChanged, this, &AudioPairingView::refresh);
    connect(&m_model, &AppModel::toolsChanged, this, &AudioPairingView::refresh);
    refresh();
}

void AudioPairingView::refresh() {
    const std::optional<MediaFormat> video = m_model.selectedVideoOnlyFormat();
    // Shown only for a video-only choice; the section decides visibility from the same state.
    if (!video)
        return;
    m_videoCaption->setText(QStringLiteral("Video ") + video->formatID);

    const std::optional<QString> &selected = m_model.selectedAudioFormatID();
    std::optional<MediaFormat> audio;
    if (selected) {
        const QList<MediaFormat> formats = m_model.audioOnlyFormats();
        const auto found = std::find_if(formats.cbegin(), formats.cend(),
                                        [&](const MediaFormat &format) { return format.formatID == *selected; });
        if (found != formats.cend())
            audio = *found;
    }
    m_current->setText(audio ? FormatTexts::audioDescription(*audio) : withoutAudioText);

    if (!selected) {
        m_footer->setText(QStringLiteral("Se descargará el formato de video tal como está, sin agregar audio."));
        SecondaryText::apply(m_footer);
    } else if (m_model.ffmpeg()) {
        m_footer->setText(QStringLiteral("FFmpeg combinará ambas pistas en un único archivo."));
        SecondaryText::remove(m_footer);
        UiParts::setTextColor(m_footer, TorvelTheme::success());
    } else {
        m_footer->setText(QStringLiteral("FFmpeg es necesario para unir el video y el audio."));
        SecondaryText::remove(m_footer);
        UiParts::setTextColor(m_footer, TorvelTheme::warning());
    }
    rebuildMenu();
}

void AudioPairingView::paintEvent(QPaintEvent *) {
    // A faint accent panel, set apart from the format grid above it.
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor fill = TorvelTheme::accent();
    fill.setAlphaF(0.06f);
    QColor border = TorvelTheme::accent();
    border.setAlphaF(0.25f);
    painter.setPen(QPen(border, 1));
    painter.setBrush(fill);
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 12, 12);
}

void AudioPairingView::rebuildMenu() {
    // The action being triggered may be among these, so they go once its signal has returned.
    for (QAction *action : m_menu->actions()) {
        m_menu->removeAction(action);
        action->deleteLater();
    }
    const std::optional<QString> &selected = m_model.selectedAudioFormatID();
    QAction *none =
        m_menu->addAction(Icons::icon(selected ? QStringLiteral("speaker.slash") : QStringLiteral("checkmark")),
                          QStringLiteral("Sin audio"));
    none->setObjectName(QStringLiteral("audioPairingNone"));
    connect(none, &QAction::triggered, this, [this] { m_model.setSelectedAudioFormatID(std::nullopt); });
    m_menu->addSeparator();
    for (const MediaFormat &format : m_model.audioOnlyFormats()) {
        const bool isSelected = selected && *selected == format.formatID;
        QAction *action = m_menu->addAction(FormatTexts::audioDescription(format));
        if (isSelected)
            action->setIcon(Icons::icon(QStringLiteral("checkmark")));
        action->setObjectName(QStringLiteral("audioPairing-") + format.formatID);
        const QString id = format.formatID;
        connect(action, &QAction::triggered, this, [this, id] { m_model.setSelectedAudioFormatID(id); });
    }
}
