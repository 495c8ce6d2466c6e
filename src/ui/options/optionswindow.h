#pragma once

#include "model/appmodel.h"

#include <QWidget>

class AboutView;
class ElidedPathField;
class QScrollArea;
class QTabWidget;
class SwitchButton;
class ToolActionDialog;

// The options window: a General tab (download folder, reveal switch, cookies for yt-dlp,
// privacy, the tdl: link scheme), a Red tab (fragments fetched at once, speed limit, proxy), the
// tools page and the compact about view. The selected tab lives in the model, so
// other windows can open the options on a given tab. Everything shown is read from the model
// and its settings when they announce a change; nothing is copied. While the model proposes a
// tool operation and the window is shown, a dialog asks to confirm it.
class OptionsWindow : public QWidget {
    Q_OBJECT

public:
    static constexpr int defaultWidth = 680;
    static constexpr int defaultHeight = 680;

    explicit OptionsWindow(AppModel &model, QWidget *parent = nullptr);

    QTabWidget *tabs() const { return m_tabs; }
    ToolActionDialog *actionDialog() const { return m_actionDialog; }

    static int tabIndex(AppModel::OptionsTab tab);
    static AppModel::OptionsTab tabAt(int index);

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    QWidget *buildGeneralPage();
    QWidget *buildNetworkPage();
    QWidget *buildToolsPage();
    QWidget *buildAboutPage();
    void showSelectedTab();
    void fitAboutPage();
    void showDownloadDirectory();
    void showRevealWhenFinished();
    void presentPendingAction();

    AppModel &m_model;
    QTabWidget *m_tabs = nullptr;
    ElidedPathField *m_folderField = nullptr;
    SwitchButton *m_revealSwitch = nullptr;
    QScrollArea *m_aboutPage = nullptr;
    AboutView *m_about = nullptr;
    ToolActionDialog *m_actionDialog = nullptr;
    bool m_fittedToContent = false;
};
