#include "audioexportformatview.h"

#include "model/appmodel.h"
#include "ui/components/labeledicon.h"
#include "ui/components/secondarytext.h"
#include "ui/components/segmentedcontrol.h"
#include "ui/components/uiparts.h"
#include "ui/components/wrappinglabel.h"

#include <QVBoxLayout>

AudioExportFormatView::AudioExportFormatView(AppModel &model, QWidget *parent) : QWidget(parent), m_model(model) {
    using TorvelTheme::TextStyle;
    setObjectName(QStringLiteral("audioExportFormatView"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);

    auto *title = new LabeledIcon(QStringLiteral("waveform.badge.magnifyingglass"), QStringLiteral("Formato de audio"),
                                  TextStyle::callout, this, QFont::DemiBold);
    title->setObjectName(QStringLiteral("audioFormatTitle"));
    title->setIconColor(TorvelTheme::accent());
    layout->addWidget(title);

    QStringList labels;
    for (AudioExportFormat format : AudioExportFormats::allCases())
        labels.append(AudioExportFormats::label(format));
    m_picker = new SegmentedControl(labels, this);
    m_picker->setObjectName(QStringLiteral("audioFormatPicker"));
    m_picker->setAccessibleName(QStringLiteral("Formato de audio"));
    layout->addWidget(m_picker, 0, Qt::AlignLeft);

    m_description = new WrappingLabel(QString(), this);
    m_description->setObjectName(QStringLiteral("audioFormatDescription"));
    m_description->setFont(TorvelTheme::font(TextStyle::caption));
    SecondaryText::apply(m_description);
    layout->addWidget(m_description);

    m_ffmpegWarning = new LabeledIcon(QStringLiteral("exclamationmark.triangle.fill"),
                                      QStringLiteral("FFmpeg es necesario para extraer y convertir el audio."),
                                      TextStyle::caption, this);
    m_ffmpegWarning->setObjectName(QStringLiteral("audioFormatFFmpegWarning"));
    m_ffmpegWarning->setColor(TorvelTheme::warning());
    layout->addWidget(m_ffmpegWarning);

    connect(m_picker, &SegmentedControl::activated, this, [this](int index) {
        const QList<AudioExportFormat> formats = AudioExportFormats::allCases();
        if (index >= 0 && index < formats.size())
            m_model.setAudioExportFormat(formats.at(index));
    });
    connect(&m_model, &AppModel::selectionChanged, this, &AudioExportFormatView::refreshFormat);
    connect(&m_model, &AppModel::toolsChanged, this, &AudioExportFormatView::refreshTools);
    refreshFormat();
    refreshTools();
}

void AudioExportFormatView::refreshFormat() {
    const AudioExportFormat format = m_model.audioExportFormat();
    m_picker->setCurrentIndex(int(AudioExportFormats::allCases().indexOf(format)));
    m_description->setText(AudioExportFormats::description(format));
}

void AudioExportFormatView::refreshTools() {
    m_ffmpegWarning->setVisible(!m_model.ffmpeg());
}
