#pragma once

#include "ui/components/torvelcard.h"

class AnalyzeButton;
class AppModel;
class DesktopServices;
class QLabel;
class QPushButton;
class URLTextField;

// Where the address goes in: the field (a dropped text file of addresses is queued), "Pegar",
// "Analizar", a note on what was queued from it (with "Añadir N direcciones a la cola" while it
// holds several), and a warning with a way to the options when yt-dlp is not available. The field
// stays usable while downloads run.
class URLInputCard : public TorvelCard {
    Q_OBJECT

public:
    URLInputCard(AppModel &model, DesktopServices &desktop, QWidget *parent = nullptr);

Q_SIGNALS:
    void openOptionsRequested();

private:
    void showUrlInput();
    void refreshEnabled();
    void refreshWarning();
    void refreshNote();
    void paste();

    AppModel &m_model;
    DesktopServices &m_desktop;
    URLTextField *m_field;
    QPushButton *m_paste;
    AnalyzeButton *m_analyze;
    QWidget *m_warning;
    QWidget *m_note;
    QLabel *m_noteText;
    QPushButton *m_queueAddresses;
    bool m_showingModel = false;
};
