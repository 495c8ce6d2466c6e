#pragma once

#include <QWidget>

class AppModel;
class QPushButton;

// The logo, the application's name and what it does; "Nueva descarga" once there is something to
// start over from.
class MainHeaderView : public QWidget {
    Q_OBJECT

public:
    explicit MainHeaderView(AppModel &model, QWidget *parent = nullptr);

private:
    void refresh();

    AppModel &m_model;
    QPushButton *m_newDownload;
};
