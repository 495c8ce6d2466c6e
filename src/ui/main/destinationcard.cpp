#include "destinationcard.h"

#include "model/appmodel.h"
#include "ui/components/elidedlabel.h"
#include "ui/components/iconlabel.h"
#include "ui/components/primarybutton.h"
#include "ui/components/uiparts.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

DestinationCard::DestinationCard(AppModel &model, QWidget *parent) : TorvelCard(parent), m_model(model) {
    using TorvelTheme::TextStyle;
    setObjectName(QStringLiteral("destinationCard"));
    auto *row = new QHBoxLayout;
    row->setSpacing(12);
    row->addWidget(new IconLabel(QStringLiteral("folder.fill"), TorvelTheme::accent(), 28, this), 0, Qt::AlignVCenter);

    auto *texts = new QVBoxLayout;
    texts->setSpacing(2);
    texts->addWidget(UiParts::secondaryLabel(QStringLiteral("Guardar en"), TextStyle::caption, this,
                                             QStringLiteral("destinationCaption")));
    m_path = new ElidedLabel(QString(), Qt::ElideMiddle, this);
    m_path->setObjectName(QStringLiteral("destinationPathLabel"));
    m_path->setFont(TorvelTheme::font(TextStyle::body, QFont::Medium));
    texts->addWidget(m_path);
    row->addLayout(texts, 1);

    QPushButton *change =
        UiParts::borderedButton(QStringLiteral("Cambiar…"), QString(), this, QStringLiteral("changeFolderButton"));
    row->addWidget(change, 0, Qt::AlignVCenter);
    m_addToQueue =
        UiParts::borderedButton(QStringLiteral("Añadir a la cola"), QStringLiteral("rectangle.stack.badge.plus"), this,
                                QStringLiteral("addToQueueButton"));
    m_addToQueue->setMinimumHeight(PrimaryButton::minimumHeight);
    row->addWidget(m_addToQueue, 0, Qt::AlignVCenter);
    auto *download = m_download = new PrimaryButton(QStringLiteral("Descargar"), this);
    download->setObjectName(QStringLiteral("downloadButton"));
    download->setIconName(QStringLiteral("arrow.down.circle.fill"));
    row->addWidget(download, 0, Qt::AlignVCenter);
    contentLayout()->addLayout(row);
    auto *noticeRow = new QHBoxLayout;
    noticeRow->setSpacing(10);
    m_notice = UiParts::secondaryLabel(QString(), TextStyle::callout, this, QStringLiteral("downloadNoticeLabel"));
    m_notice->setWordWrap(true);
    noticeRow->addWidget(m_notice, 1);
    m_addAnyway = UiParts::borderedButton(QStringLiteral("Añadir de todos modos"), QString(), this,
                                          QStringLiteral("addAnywayButton"));
    noticeRow->addWidget(m_addAnyway, 0, Qt::AlignVCenter);
    contentLayout()->addLayout(noticeRow);

    connect(change, &QPushButton::clicked, this, [this] { m_model.chooseDownloadDirectory(); });
    connect(download, &QPushButton::clicked, this, [this] { m_model.startDownload(); });
    connect(m_addToQueue, &QPushButton::clicked, this, [this] { m_model.addToQueue(); });
    connect(m_addAnyway, &QPushButton::clicked, this, [this] { m_model.addToQueue(true); });
    connect(&m_model.settings(), &AppSettings::downloadDirectoryChanged, this, &DestinationCard::refresh);
    connect(&m_model, &AppModel::playlistChanged, this, &DestinationCard::refreshButton);
    connect(&m_model, &AppModel::playlistCheckedChanged, this, &DestinationCard::refreshButton);
    connect(&m_model, &AppModel::sectionChanged, this, &DestinationCard::refreshButton);
    connect(&m_model, &AppModel::noticeChanged, this, &DestinationCard::refreshNotice);
    refresh();
    refreshButton();
    refreshNotice();
}

void DestinationCard::refreshButton() {
    // A list's button names how many of its videos start.
    if (!m_model.playlist()) {
        m_download->setText(QStringLiteral("Descargar"));
        m_download->setEnabled(m_model.sectionProblem().isEmpty());
        m_addToQueue->setEnabled(m_download->isEnabled());
        return;
    }
    const qsizetype checked = m_model.checkedPlaylistEntryCount();
    m_download->setText(checked == 1 ? QStringLiteral("Descargar 1 video")
                                     : QStringLiteral("Descargar %1 videos").arg(checked));
    m_download->setEnabled(checked > 0);
    m_addToQueue->setEnabled(checked > 0);
}

void DestinationCard::refreshNotice() {
    m_notice->setText(m_model.notice());
    m_notice->setVisible(!m_model.notice().isEmpty());
    m_addAnyway->setVisible(m_model.offersAddingAgain());
}

void DestinationCard::refresh() {
    m_path->setText(m_model.downloadDirectoryURL());
}
