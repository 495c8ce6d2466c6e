#pragma once

#include <QWidget>

class AppModel;
class LabeledIcon;
class QCheckBox;
class QComboBox;
class WrappingLabel;

// "Subtítulos", shown while the analyzed page has any: "Ninguno" or one of its languages, to be
// embedded in the file. A page with automatic captions alone offers them behind "Incluir
// subtítulos automáticos". Says when the chosen way keeps no subtitles (audio alone) and when
// FFmpeg, which embeds them, is missing.
class SubtitlesView : public QWidget {
    Q_OBJECT

public:
    explicit SubtitlesView(AppModel &model, QWidget *parent = nullptr);

private:
    void refresh();

    AppModel &m_model;
    QComboBox *m_picker;
    QCheckBox *m_automatic;
    WrappingLabel *m_note;
    LabeledIcon *m_ffmpegWarning;
};
