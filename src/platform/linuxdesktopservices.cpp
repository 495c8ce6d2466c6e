#include "linuxdesktopservices.h"

#include <QApplication>
#include <QClipboard>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QProcess>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace {

// The window that dialogs belong to and that activation brings forward.
QWidget *mainWindow() {
    if (QWidget *active = QApplication::activeWindow())
        return active;
    QWidget *hidden = nullptr;
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget *widget : windows) {
        if (!qobject_cast<QMainWindow *>(widget))
            continue;
        if (widget->isVisible())
            return widget;
        if (!hidden)
            hidden = widget;
    }
    return hidden;
}

std::optional<QString> firstSelection(QFileDialog &dialog) {
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty() || files.first().isEmpty())
        return std::nullopt;
    return files.first();
}

// The folder's path, for a desktop where nothing can open it. Not modal: nothing waits for it.
void showFolderPath(const QString &folder) {
    auto *dialog = new QDialog(mainWindow());
    dialog->setObjectName(QStringLiteral("folderPathDialog"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(QStringLiteral("Mostrar en carpeta"));
    auto *layout = new QVBoxLayout(dialog);
    auto *message = new QLabel(
        QStringLiteral("No hay un gestor de archivos que pueda abrir la carpeta. El archivo está en:"), dialog);
    message->setWordWrap(true);
    layout->addWidget(message);
    auto *path = new QLineEdit(folder, dialog);
    path->setObjectName(QStringLiteral("folderPathField"));
    path->setReadOnly(true);
    path->setMinimumWidth(420);
    layout->addWidget(path);
    auto *buttons = new QDialogButtonBox(dialog);
    buttons->addButton(QStringLiteral("Cerrar"), QDialogButtonBox::RejectRole);
    QPushButton *copy = buttons->addButton(QStringLiteral("Copiar ruta"), QDialogButtonBox::ActionRole);
    copy->setObjectName(QStringLiteral("copyFolderPathButton"));
    QObject::connect(copy, &QPushButton::clicked, dialog, [folder] { QGuiApplication::clipboard()->setText(folder); });
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    layout->addWidget(buttons);
    dialog->show();
}

// The desktop's opener (xdg-open) says by its exit status whether anything opened the folder;
// when it cannot start or fails, the path is shown instead, if the user asked for the folder.
void openFolder(const QString &program, const QString &folder, bool showPathOnFailure) {
    // Not owned by anything that quits with the window: a file manager that the opener keeps in
    // the foreground stays open.
    auto *opener = new QProcess;
    const auto failed = [folder, showPathOnFailure] {
        if (showPathOnFailure)
            showFolderPath(folder);
    };
    QObject::connect(opener, &QProcess::finished, [opener, failed](int exitCode, QProcess::ExitStatus status) {
        opener->deleteLater();
        if (status != QProcess::NormalExit || exitCode != 0)
            failed();
    });
    QObject::connect(opener, &QProcess::errorOccurred, [opener, failed](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        opener->deleteLater();
        failed();
    });
    opener->setProcessChannelMode(QProcess::ForwardedChannels);
    opener->setStandardInputFile(QProcess::nullDevice());
    opener->start(program, {folder});
}

} // namespace

LinuxDesktopServices::LinuxDesktopServices(QDBusConnection bus, QString folderOpener)
    : m_bus(std::move(bus)), m_folderOpener(std::move(folderOpener)) {}

void LinuxDesktopServices::revealFile(const QString &path, Reveal reveal) {
    const QFileInfo file(path);
    const QString folder = file.absolutePath();
    const bool asked = reveal == Reveal::asked;
    if (!m_bus.isConnected()) {
        openFolder(m_folderOpener, folder, asked);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{QString::fromUtf8(QUrl::fromLocalFile(file.absoluteFilePath()).toEncoded())}
         << QString(); // no startup notification id
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), QCoreApplication::instance());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished,
                     [opener = m_folderOpener, folder, asked](QDBusPendingCallWatcher *finished) {
                         finished->deleteLater();
                         if (!finished->isError())
                             return;
                         // A file manager that is only slow may still show the file; anything else
                         // means nobody provides the service (or it refused), so the folder is
                         // opened instead.
                         const QDBusError::ErrorType error = finished->error().type();
                         if (error != QDBusError::NoReply && error != QDBusError::Timeout)
                             openFolder(opener, folder, asked);
                     });
}

void bringWindowForward(QWidget *window) {
    if (window->isMinimized())
        window->showNormal();
    else
        window->show();
    window->raise();
    window->activateWindow();
}

void LinuxDesktopServices::activateApplication() {
    if (QWidget *window = mainWindow())
        bringWindowForward(window);
}

std::optional<QString> LinuxDesktopServices::chooseFolder(const QString &title, const QString &confirmText,
                                                          const QString &startFolder) {
    QFileDialog dialog(mainWindow(), title, startFolder);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    dialog.setLabelText(QFileDialog::Accept, confirmText);
    return firstSelection(dialog);
}

std::optional<QString> LinuxDesktopServices::chooseExecutable(const QString &title, const QString &confirmText) {
    QFileDialog dialog(mainWindow(), title);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setLabelText(QFileDialog::Accept, confirmText);
    return firstSelection(dialog);
}

std::optional<QString> LinuxDesktopServices::chooseFile(const QString &title, const QString &confirmText,
                                                        const QString &startFolder) {
    QFileDialog dialog(mainWindow(), title, startFolder);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setLabelText(QFileDialog::Accept, confirmText);
    return firstSelection(dialog);
}

QString LinuxDesktopServices::clipboardText() {
    return QGuiApplication::clipboard()->text();
}

void LinuxDesktopServices::setClipboardText(const QString &text) {
    QGuiApplication::clipboard()->setText(text);
}

void LinuxDesktopServices::openURL(const QUrl &url) {
    if (!QDesktopServices::openUrl(url))
        qWarning("No program opened %s", qPrintable(url.toString()));
}
