#pragma once

#include "model/appmodel.h"
#include "platform/desktopservices.h"
#include "ui/about/aboutwindow.h"
#include "ui/about/appupdatedialog.h"
#include "ui/options/optionswindow.h"
#include "ui/queue/historyview.h"

#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>

class BackgroundTray;
class QAction;
class QueueView;
class QTimer;
class ToolStatusPill;

// The main window: the download view, a toolbar with the tools' state and the options, and the
// menus with every command and its shortcut. Linux has no application menu, so what it would hold
// lives in the first menu of the window's menu bar, "Torvel Downloader". The options and about
// windows belong to this window and exist at most once each.
//
// Closing the window while the download queue has work offers to keep downloading in the
// background: the window hides, the queue goes on, and a tray icon (where the desktop shows one)
// gives its progress, "Mostrar", "Pausar todo" and "Salir". Showing the window again in any way
// (the tray, a later start, a tdl: link) leaves the background. Quitting pauses the queue's
// running items, to go on at the next start; it never cancels them.
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    // The content's sizes, below the menu bar and the toolbar.
    static constexpr QSize minimumContentSize{900, 680};
    static constexpr QSize defaultContentSize{980, 760};
    // How long quitting waits for a cancelled download or tool operation to end before it quits anyway.
    static constexpr int cancellationGraceMs = 10'000;
    // Room a title bar takes beside the title: the window manager's buttons and margins.
    static constexpr int titleBarAllowance = 160;
    // The download queue's panel below the download view.
    static constexpr int queuePanelMinimumHeight = 220;

    // The model and the desktop services must outlive the window.
    MainWindow(AppModel &model, DesktopServices &desktop, QWidget *parent = nullptr);
    ~MainWindow() override;

    // Opens the options window on the tab the model holds, or brings it to the front.
    void showOptionsWindow();
    // "Preferencias…": always the General tab.
    void showOptions();
    // A tool's status pill: the Herramientas tab.
    void showToolManager(ToolKind tool);
    void showAboutWindow();
    // The "Historial" window.
    void showHistory();
    // "Salir": asks first when work would stop, then quits.
    void requestQuit();
    // Shows the window hidden in the background.
    void showFromBackground();

    // Nothing until first opened.
    OptionsWindow *optionsWindow() const { return m_optionsWindow; }
    AboutWindow *aboutWindow() const { return m_aboutWindow; }
    HistoryView *historyView() const { return m_historyView; }
    // Hidden while the queue goes on.
    bool isInBackground() const { return m_inBackground; }
    BackgroundTray *backgroundTray() const { return m_tray; }
    // The question asked when the window is closed during a download, a tool operation or while
    // the queue has work (then it offers the background).
    QMessageBox *quitQuestion() const { return m_quitQuestion; }
    // The self-update dialog of the model's appUpdateAlert, while it is shown.
    AppUpdateDialog *appUpdateDialog() const { return m_appUpdateDialog; }

Q_SIGNALS:
    // The window went to the background (hidden, the queue going on) or came back.
    void backgroundChanged(bool inBackground);

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    QWidget *createContent();
    void createActions();
    void createMenus();
    void createToolBar();
    // Shows the queue's panel while it has items (or a message) and "Cola" is on.
    void refreshQueuePanel();
    void refreshActions();
    void refreshToolPills();
    void showAppUpdateAlert();
    void pasteLink();
    void createQueueParts();
    // offerBackground: closing the window, with work in the queue.
    void askBeforeQuitting(bool offerBackground = false);
    QString quitExplanation(bool offerBackground) const;
    void closeSecondaryWindows();
    void goToBackground();
    void leaveBackground();
    void rejectQuestionWhenIdle();
    void showSecondaryWindow(QWidget *window);
    static void closeOnEscape(QWidget *window);
    void quitAfterCancelling();
    void finishQuitting();
    // A tool operation runs (quitting cancels it).
    bool isBusy() const;
    // The queue has items running here, or waiting while this runner goes on; how many.
    bool queueWorkGoesOn() const;
    int queuePendingCount() const;

    AppModel &m_model;
    DesktopServices &m_desktop;

    QAction *m_aboutAction = nullptr;
    QAction *m_checkForUpdatesAction = nullptr;
    QAction *m_optionsAction = nullptr;
    QAction *m_quitAction = nullptr;
    QAction *m_newDownloadAction = nullptr;
    QAction *m_pasteLinkAction = nullptr;
    QAction *m_analyzeAction = nullptr;
    QAction *m_cancelAction = nullptr;
    QAction *m_revealAction = nullptr;
    QAction *m_queueAction = nullptr;

    QueueView *m_queueView = nullptr;
    QAction *m_historyAction = nullptr;

    ToolStatusPill *m_ytDLPPill = nullptr;
    ToolStatusPill *m_ffmpegPill = nullptr;

    QPointer<OptionsWindow> m_optionsWindow;
    QPointer<AboutWindow> m_aboutWindow;
    QPointer<QMessageBox> m_quitQuestion;
    QPointer<AppUpdateDialog> m_appUpdateDialog;
    QPointer<HistoryView> m_historyView;
    BackgroundTray *m_tray = nullptr;

    bool m_inBackground = false;
    // What quitting on the last window's closing was before the background turned it off.
    bool m_quitOnLastWindowClosed = true;
    // The close comes from "Salir", which quits rather than offering the background.
    bool m_quitRequested = false;

    // Set once the user chose to quit during a download or a tool operation; the window closes
    // when the work has ended, or despite it once the grace period is over.
    bool m_quitting = false;
    bool m_closeDespiteWork = false;
    QMetaObject::Connection m_quitWhenStopped;
    QMetaObject::Connection m_quitWhenToolsStopped;
    QMetaObject::Connection m_quitWhenQueueStopped;
    QTimer *m_quitDeadline = nullptr;
};
