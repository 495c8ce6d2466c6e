#include "choicecard.h"

#include "model/appmodel.h"
#include "ui/components/labeledicon.h"
#include "ui/main/advancedformatsview.h"
#include "ui/main/audioexportformatview.h"
#include "ui/main/choicetile.h"
#include "ui/main/sectionview.h"
#include "ui/main/subtitlesview.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

ChoiceCard::ChoiceCard(AppModel &model, QWidget *parent) : TorvelCard(parent), m_model(model) {
    setObjectName(QStringLiteral("choiceCard"));
    QVBoxLayout *layout = contentLayout();
    layout->setSpacing(10);

    auto *title = new LabeledIcon(QStringLiteral("slider.horizontal.3"), QStringLiteral("Elige cómo descargar"),
                                  TorvelTheme::TextStyle::headline, this);
    title->setObjectName(QStringLiteral("choiceCardTitle"));
    title->setIconColor(TorvelTheme::accent());
    layout->addWidget(title);

    auto *tiles = new QHBoxLayout;
    tiles->setSpacing(tileSpacing);
    const qsizetype count = m_model.standardChoices().size();
    for (qsizetype i = 0; i < count; ++i) {
        auto *tile = new ChoiceTile(this);
        tiles->addWidget(tile, 1);
        m_tiles.append(tile);
        // The tile stands for whatever the model offers at its place when it is clicked.
        connect(tile, &QAbstractButton::clicked, this, [this, i] {
            const QList<DownloadChoice> choices = m_model.standardChoices();
            if (i < choices.size())
                m_model.selectChoice(choices.at(i));
        });
    }
    layout->addLayout(tiles);

    m_audioFormat = new AudioExportFormatView(m_model, this);
    layout->addWidget(m_audioFormat);
    layout->addWidget(new SubtitlesView(m_model, this));
    layout->addWidget(new SectionView(m_model, this));
    m_advanced = new AdvancedFormatsView(m_model, this);
    layout->addWidget(m_advanced);

    connect(&m_model, &AppModel::selectionChanged, this, &ChoiceCard::refresh);
    connect(&m_model, &AppModel::mediaInfoChanged, this, &ChoiceCard::refresh);
    refresh();
}

void ChoiceCard::refresh() {
    const QList<DownloadChoice> choices = m_model.standardChoices();
    const QString &selected = m_model.selectedChoiceID();
    for (qsizetype i = 0; i < m_tiles.size() && i < choices.size(); ++i) {
        m_tiles.at(i)->setChoice(choices.at(i));
        m_tiles.at(i)->setSelected(choices.at(i).id == selected);
        const bool converts = choices.at(i).kind.value == DownloadChoice::Kind::Case::mp4 &&
                              m_model.compatibleMP4Outlook() == ConversionOutlook::expected;
        m_tiles.at(i)->setNote(converts ? QStringLiteral("Este sitio no ofrece H.264: el video se convertirá al "
                                                         "descargarlo (puede tardar).")
                                        : QString());
    }
    m_audioFormat->setVisible(selected == DownloadChoice::audio(m_model.audioExportFormat()).id);
}
