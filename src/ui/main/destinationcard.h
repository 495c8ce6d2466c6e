#pragma once

#include "ui/components/torvelcard.h"

class AppModel;
class ElidedLabel;
class PrimaryButton;

// Where the file goes, a way to change it, and the button that starts the download.
class DestinationCard : public TorvelCard {
    Q_OBJECT

public:
    explicit DestinationCard(AppModel &model, QWidget *parent = nullptr);

    // "Descargar"; the list's card names how many videos it starts.
    PrimaryButton *downloadButton() const { return m_download; }

private:
    void refresh();

    AppModel &m_model;
    ElidedLabel *m_path;
    PrimaryButton *m_download;
};
