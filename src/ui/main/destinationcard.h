#pragma once

#include "ui/components/torvelcard.h"

class AppModel;
class ElidedLabel;
class PrimaryButton;
class QLabel;
class QPushButton;

// Where the file goes, a way to change it, "Añadir a la cola" and the button that starts the
// download and, below, how the last download ended when that is worth a line ("Descarga
// cancelada."), or that the item was downloaded before, with a way to queue it anyway.
class DestinationCard : public TorvelCard {
    Q_OBJECT

public:
    explicit DestinationCard(AppModel &model, QWidget *parent = nullptr);

private:
    void refresh();
    void refreshButton();
    void refreshNotice();

    AppModel &m_model;
    ElidedLabel *m_path;
    PrimaryButton *m_download;
    QPushButton *m_addToQueue;
    QLabel *m_notice;
    QPushButton *m_addAnyway;
};
