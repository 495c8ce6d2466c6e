#include "exactformatcard.h"

#include "ui/components/flowlayout.h"
#include "ui/components/iconlabel.h"
#include "ui/components/labeledicon.h"
#include "ui/components/metadatapill.h"
#include "ui/components/secondarytext.h"
#include "ui/components/uiparts.h"
#include "ui/components/wrappinglabel.h"
#include "ui/main/formattexts.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

ExactFormatCard::ExactFormatCard(const MediaFormat &format, std::optional<double> duration, QWidget *parent)
    : TileButton(parent), m_formatID(format.formatID) {
    using TorvelTheme::TextStyle;
    setObjectName(QStringLiteral("exactFormatCard-") + format.formatID);
    setMinimumHeight(minimumCardHeight);
    setAccessibleName(format.qualityLabel() + QStringLiteral(", ID ") + format.formatID);
    QVBoxLayout *layout = contentLayout();
    layout->setSpacing(7);

    auto *top = new QHBoxLayout;
    top->setSpacing(6);
    auto *id = new LabeledIcon(format.hasVideo() ? QStringLiteral("film") : QStringLiteral("waveform"),
                               QStringLiteral("ID ") + format.formatID, TextStyle::caption, this, QFont::Medium);
    id->setObjectName(QStringLiteral("formatIDLabel"));
    SecondaryText::apply(id);
    id->setIconColor(TorvelTheme::accent());
    top->addWidget(id, 1);
    m_check = new IconLabel(QStringLiteral("checkmark.circle.fill"), TorvelTheme::accent(), 18, this);
    // The mark comes and goes without moving the rest of the row.
    QSizePolicy checkPolicy = m_check->sizePolicy();
    checkPolicy.setRetainSizeWhenHidden(true);
    m_check->setSizePolicy(checkPolicy);
    top->addWidget(m_check, 0, Qt::AlignTop);
    layout->addLayout(top);

    auto *title = new WrappingLabel(format.qualityLabel(), this);
    title->setObjectName(QStringLiteral("formatQualityLabel"));
    title->setFont(UiParts::scaledFont(TextStyle::headline, 1.08));
    layout->addWidget(title);

    auto *pills = new QWidget(this);
    pills->setObjectName(QStringLiteral("formatPills"));
    auto *pillsLayout = new FlowLayout(pills, 5, 5);
    pillsLayout->addWidget(new MetadataPill(format.ext ? format.ext->toUpper() : QStringLiteral("—"), pills));
    if (const std::optional<QString> codec =
            format.videoCodecLabel() ? format.videoCodecLabel() : format.audioCodecLabel())
        pillsLayout->addWidget(new MetadataPill(*codec, pills));
    if (format.formatNote && !format.formatNote->isEmpty() && *format.formatNote != format.qualityLabel())
        pillsLayout->addWidget(new MetadataPill(*format.formatNote, pills));
    layout->addWidget(pills);

    auto *facts = new QWidget(this);
    facts->setObjectName(QStringLiteral("formatFacts"));
    auto *factsLayout = new FlowLayout(facts, 12, 4);
    auto addFact = [&](const QString &icon, const QString &text, const QString &objectName) {
        auto *fact = new LabeledIcon(icon, text, TextStyle::caption, facts);
        fact->setObjectName(objectName);
        SecondaryText::apply(fact);
        factsLayout->addWidget(fact);
        return fact;
    };
    addFact(QStringLiteral("aspectratio"), format.resolutionDetail(), QStringLiteral("formatResolutionLabel"));
    if (format.fps && *format.fps > 0)
        addFact(QStringLiteral("speedometer"), FormatTexts::framesPerSecondText(*format.fps),
                QStringLiteral("formatFpsLabel"));
    addFact(QStringLiteral("gauge.with.dots.needle.33percent"), FormatTexts::bitrateText(format),
            QStringLiteral("formatBitrateLabel"));
    addFact(QStringLiteral("externaldrive"), FormatTexts::sizeText(format, duration),
            QStringLiteral("formatSizeLabel"));
    LabeledIcon *audio =
        addFact(format.hasAudio() ? QStringLiteral("speaker.wave.2.fill") : QStringLiteral("speaker.slash.fill"),
                FormatTexts::audioText(format), QStringLiteral("formatAudioLabel"));
    if (!format.hasAudio())
        audio->setColor(TorvelTheme::warning());
    layout->addWidget(facts);
    layout->addStretch();
    selectionChanged();
}

void ExactFormatCard::selectionChanged() {
    m_check->setVisible(isSelected());
}
