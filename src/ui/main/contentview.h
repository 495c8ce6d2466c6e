#pragma once

#include <QWidget>

class AppModel;
class DesktopServices;
class PhaseView;
class QScrollArea;

// The content of the main window: header, address card and the phase's views in one centered,
// scrolling column over the window background, and below it the destination with "Descargar"
// while there is something to download. Everything it shows comes from the model and
// every action goes to it.
class ContentView : public QWidget {
    Q_OBJECT

public:
    // Tight enough that, at the window's minimum size, a video's ready state shows every way of
    // downloading above the pinned destination without scrolling.
    static constexpr int columnSpacing = 18;
    static constexpr int columnPadding = 28;
    static constexpr int columnTopPadding = 20;
    static constexpr int maximumColumnWidth = 960;
    static constexpr int footerSpacing = 12;

    // The model and the desktop services must outlive the view.
    ContentView(AppModel &model, DesktopServices &desktop, QWidget *parent = nullptr);

    QScrollArea *scrollArea() const { return m_scrollArea; }
    // The centered column holding every view.
    QWidget *column() const { return m_column; }
    PhaseView *phaseView() const { return m_phaseView; }

Q_SIGNALS:
    // "Abrir opciones" under the address field: the shell opens the options window.
    void openOptionsRequested();

private:
    QScrollArea *m_scrollArea;
    QWidget *m_column;
    PhaseView *m_phaseView;
};
