#include "linuxdesktopservices.h"

#include <QApplication>
#include <QClipboard>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QMainWindow>
#include <QUrl>

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

void openFolder(const QUrl &folder) {
    if (!QDesktopServices::openUrl(folder))
        qWarning("Could not open %s", qPrintable(folder.toString()));
}

} // namespace

void LinuxDesktopServices::revealFile(const QString &path) {
    const QFileInfo file(path);
    const QUrl folder = QUrl::fromLocalFile(file.absolutePath());
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        openFolder(folder);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{QString::fromUtf8(QUrl::fromLocalFile(file.absoluteFilePath()).toEncoded())}
         << QString(); // no startup notification id
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), QCoreApplication::instance());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [folder](QDBusPendingCallWatcher *finished) {
        finished->deleteLater();
        if (!finished->isError())
            return;
        // A file manager that is only slow may still show the file; anything else means nobody
        // provides the service (or it refused), so the folder is opened instead.
        const QDBusError::ErrorType error = finished->error().type();
        if (error != QDBusError::NoReply && error != QDBusError::Timeout)
            openFolder(folder);
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
