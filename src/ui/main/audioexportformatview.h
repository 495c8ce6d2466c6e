#pragma once

#include <QWidget>

class AppModel;
class LabeledIcon;
class SegmentedControl;
class WrappingLabel;

// The container for "Solo audio": M4A or MP3, what each is good for, and whether FFmpeg is there
// to extract the audio.
class AudioExportFormatView : public QWidget {
    Q_OBJECT

public:
    explicit AudioExportFormatView(AppModel &model, QWidget *parent = nullptr);

private:
    void refreshFormat();
    void refreshTools();

    AppModel &m_model;
    SegmentedControl *m_picker;
    WrappingLabel *m_description;
    LabeledIcon *m_ffmpegWarning;
};
