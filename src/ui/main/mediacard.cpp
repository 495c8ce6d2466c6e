#include "mediacard.h"

#include "model/appmodel.h"
#include "ui/components/flowlayout.h"
#include "ui/components/labeledicon.h"
#include "ui/components/secondarytext.h"
#include "ui/components/uiparts.h"
#include "ui/components/wrappinglabel.h"
#include "ui/main/formattexts.h"
#include "ui/main/thumbnailview.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

MediaCard::MediaCard(AppModel &model, QWidget *parent) : TorvelCard(parent), m_model(model) {
    using TorvelTheme::TextStyle;
    setObjectName(QStringLiteral("mediaCard"));
    auto *row = new QHBoxLayout;
    row->setSpacing(18);
    m_thumbnail = new ThumbnailView(this);
    const auto useProxy = [this] { m_thumbnail->setProxy(m_model.settings().proxy()); };
    useProxy();
    connect(&m_model.settings(), &AppSettings::proxyChanged, this, useProxy);
    row->addWidget(m_thumbnail, 0, Qt::AlignTop);

    auto *texts = new QVBoxLayout;
    texts->setSpacing(10);
    m_title = new WrappingLabel(QString(), this);
    m_title->setObjectName(QStringLiteral("mediaTitleLabel"));
    m_title->setFont(UiParts::scaledFont(TextStyle::headline, 1.12, QFont::DemiBold));
    texts->addWidget(m_title);

    // The metadata row: up to three labels side by side, wrapping when they run out of room.
    auto *metadata = new QWidget(this);
    metadata->setObjectName(QStringLiteral("mediaMetadata"));
    auto *metadataLayout = new FlowLayout(metadata, 16, 6);
    auto makeLabel = [&](const QString &icon, const QString &objectName) {
        auto *label = new LabeledIcon(icon, QString(), TextStyle::callout, metadata);
        label->setObjectName(objectName);
        SecondaryText::apply(label);
        metadataLayout->addWidget(label);
        return label;
    };
    m_uploader = makeLabel(QStringLiteral("person.crop.circle"), QStringLiteral("mediaUploaderLabel"));
    m_duration = makeLabel(QStringLiteral("clock"), QStringLiteral("mediaDurationLabel"));
    m_formatCount = makeLabel(QStringLiteral("rectangle.stack"), QStringLiteral("mediaFormatCountLabel"));
    texts->addWidget(metadata);
    texts->addStretch();
    row->addLayout(texts, 1);
    contentLayout()->addLayout(row);

    connect(&m_model, &AppModel::mediaInfoChanged, this, &MediaCard::refresh);
    refresh();
}

void MediaCard::refresh() {
    const std::optional<MediaInfo> &media = m_model.mediaInfo();
    // Without media the card is not shown; a load still under way is dropped.
    if (!media) {
        m_thumbnail->setUrlString(std::nullopt);
        return;
    }
    m_thumbnail->setUrlString(media->thumbnail);
    m_title->setText(media->title);
    const bool hasUploader = media->uploader && !media->uploader->isEmpty();
    m_uploader->setText(hasUploader ? *media->uploader : QString());
    m_uploader->setVisible(hasUploader);
    m_duration->setText(media->duration ? torvelDuration(*media->duration) : QString());
    m_duration->setVisible(media->duration.has_value());
    m_formatCount->setText(FormatTexts::formatCountText(media->formats.size()));
}
