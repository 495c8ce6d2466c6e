#pragma once

#include <QWidget>

class AppModel;
class ElidedPathField;
class QComboBox;

// The Cookies group of the General tab: where yt-dlp takes cookies from. The choice lists
// "Ninguno", the browsers found in the home folder and "Archivo de cookies…" (which opens the
// file chooser; the chosen file's path shows below). It shows what the setting means now, so a
// stored value that names nothing usable shows "Ninguno"; only the user's choice writes it.
class CookiesPanel : public QWidget {
    Q_OBJECT

public:
    explicit CookiesPanel(AppModel &model, QWidget *parent = nullptr);

private:
    void refresh();
    void chosen(int index);

    AppModel &m_model;
    QComboBox *m_source;
    ElidedPathField *m_file;
};
