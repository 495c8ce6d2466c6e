#pragma once

#include <QWidget>

class AppModel;
class QLabel;
class QLineEdit;

// "Recortar": the start and end of the stretch to keep, typed as 83, 1:23 or 01:02:03, and why
// the stretch cannot be kept when it cannot. Empty fields keep the whole video.
class SectionView : public QWidget {
    Q_OBJECT

public:
    explicit SectionView(AppModel &model, QWidget *parent = nullptr);

private:
    void refresh();

    AppModel &m_model;
    QLineEdit *m_start;
    QLineEdit *m_end;
    QLabel *m_problem;
};
