#include "subtitlesview.h"

#include "model/appmodel.h"
#include "ui/components/labeledicon.h"
#include "ui/components/secondarytext.h"
#include "ui/components/wrappinglabel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QSignalBlocker>
#include <QVBoxLayout>

SubtitlesView::SubtitlesView(AppModel &model, QWidget *parent) : QWidget(parent), m_model(model) {
    using TorvelTheme::TextStyle;
    setObjectName(QStringLiteral("subtitlesView"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);

    auto *row = new QHBoxLayout;
    row->setSpacing(12);
    auto *title = new LabeledIcon(QStringLiteral("captions.bubble"), QStringLiteral("Subtítulos"), TextStyle::callout,
                                  this, QFont::DemiBold);
    title->setObjectName(QStringLiteral("subtitlesTitle"));
    title->setIconColor(TorvelTheme::accent());
    row->addWidget(title, 0, Qt::AlignVCenter);
    m_picker = new QComboBox(this);
    m_picker->setObjectName(QStringLiteral("subtitlesPicker"));
    m_picker->setAccessibleName(QStringLiteral("Subtítulos"));
    m_picker->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    row->addWidget(m_picker);
    m_automatic = new QCheckBox(QStringLiteral("Incluir subtítulos automáticos"), this);
    m_automatic->setObjectName(QStringLiteral("automaticCaptionsCheckBox"));
    row->addWidget(m_automatic);
    row->addStretch(1);
    layout->addLayout(row);

    m_note = new WrappingLabel(QString(), this);
    m_note->setObjectName(QStringLiteral("subtitlesNote"));
    m_note->setFont(TorvelTheme::font(TextStyle::caption));
    SecondaryText::apply(m_note);
    layout->addWidget(m_note);

    m_ffmpegWarning =
        new LabeledIcon(QStringLiteral("exclamationmark.triangle.fill"),
                        QStringLiteral("FFmpeg es necesario para guardar los subtítulos dentro del archivo."),
                        TextStyle::caption, this);
    m_ffmpegWarning->setObjectName(QStringLiteral("subtitlesFFmpegWarning"));
    m_ffmpegWarning->setColor(TorvelTheme::warning());
    layout->addWidget(m_ffmpegWarning);

    connect(m_picker, &QComboBox::activated, this, [this](int index) {
        const QString code = m_picker->itemData(index).toString();
        m_model.setSelectedSubtitles(code.isEmpty() ? QStringList() : QStringList{code});
    });
    connect(m_automatic, &QCheckBox::toggled, this, [this](bool) {
        m_model.setSelectedSubtitles({});
        refresh();
    });
    connect(&m_model, &AppModel::selectionChanged, this, &SubtitlesView::refresh);
    connect(&m_model, &AppModel::mediaInfoChanged, this, [this] {
        const QSignalBlocker blocker(m_automatic);
        m_automatic->setChecked(false);
        refresh();
    });
    connect(&m_model, &AppModel::toolsChanged, this, &SubtitlesView::refresh);
    refresh();
}

void SubtitlesView::refresh() {
    const std::optional<MediaInfo> &media = m_model.mediaInfo();
    const bool hasSubtitles = media && !media->subtitles.isEmpty();
    const bool onlyAutomatic = media && !hasSubtitles && !media->automaticCaptions.isEmpty();
    setVisible(hasSubtitles || onlyAutomatic);
    if (!media)
        return;

    m_automatic->setVisible(onlyAutomatic);
    const QList<SubtitleLanguage> &languages = hasSubtitles ? media->subtitles : media->automaticCaptions;
    const bool offered = hasSubtitles || m_automatic->isChecked();
    const QSignalBlocker blocker(m_picker);
    m_picker->clear();
    m_picker->addItem(QStringLiteral("Ninguno"), QString());
    if (offered)
        for (const SubtitleLanguage &language : languages)
            m_picker->addItem(language.label(), language.code);
    const QStringList &selected = m_model.selectedSubtitles();
    const int index = selected.isEmpty() ? 0 : m_picker->findData(selected.constFirst());
    m_picker->setCurrentIndex(index < 0 ? 0 : index);

    const bool withVideo = m_model.choiceSelection().selectedChoiceHasVideo();
    m_picker->setEnabled(withVideo && offered);
    m_automatic->setEnabled(withVideo);
    m_note->setText(withVideo ? QString() : QStringLiteral("Solo audio no lleva subtítulos."));
    m_note->setVisible(!withVideo);
    m_ffmpegWarning->setVisible(withVideo && !m_model.ffmpeg());
}
