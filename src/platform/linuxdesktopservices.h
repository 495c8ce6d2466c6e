#pragma once

#include "platform/desktopservices.h"

#include <QDBusConnection>

class QWidget;

// Shows a window (restoring it when minimised), raises it and gives it the focus.
void bringWindowForward(QWidget *window);

// The freedesktop.org desktop: the file manager over D-Bus, Qt's dialogs and clipboard.
class LinuxDesktopServices final : public DesktopServices {
public:
    // bus: where the file manager (org.freedesktop.FileManager1) is asked to show a file.
    // folderOpener: the program that opens the file's folder when no file manager answers; when
    // that fails too, a small dialog shows the folder's path with "Copiar ruta".
    explicit LinuxDesktopServices(QDBusConnection bus = QDBusConnection::sessionBus(),
                                  QString folderOpener = QStringLiteral("/usr/bin/xdg-open"));

    void revealFile(const QString &path, Reveal reveal) override;
    void activateApplication() override;
    std::optional<QString> chooseFolder(const QString &title, const QString &confirmText,
                                        const QString &startFolder) override;
    std::optional<QString> chooseExecutable(const QString &title, const QString &confirmText) override;
    std::optional<QString> chooseFile(const QString &title, const QString &confirmText,
                                      const QString &startFolder) override;
    QString clipboardText() override;
    void setClipboardText(const QString &text) override;
    void openURL(const QUrl &url) override;

private:
    QDBusConnection m_bus;
    QString m_folderOpener;
};
