#pragma once

#include <QString>
#include <QUrl>

#include <optional>

// What the application model asks of the desktop. The real one talks to the file manager, the
// window system, file dialogs and the clipboard; tests pass a recording fake.
class DesktopServices {
public:
    virtual ~DesktopServices() = default;

    // Who wants the file shown: the user's click, or the setting at the end of a download.
    enum class Reveal { asked, automatic };
    // Shows the file selected in the file manager. Returns at once. Where nothing can show it, a
    // reveal the user asked for shows the folder's path; an automatic one does nothing visible.
    virtual void revealFile(const QString &path, Reveal reveal) = 0;
    // Brings the application's main window to the front.
    virtual void activateApplication() = 0;
    // Modal choosers; nothing when the user cancels.
    virtual std::optional<QString> chooseFolder(const QString &title, const QString &confirmText,
                                                const QString &startFolder) = 0;
    virtual std::optional<QString> chooseExecutable(const QString &title, const QString &confirmText) = 0;
    virtual std::optional<QString> chooseFile(const QString &title, const QString &confirmText,
                                              const QString &startFolder) = 0;
    // The clipboard's plain text; empty when it holds none.
    virtual QString clipboardText() = 0;
    // Replaces the clipboard's contents with plain text.
    virtual void setClipboardText(const QString &text) = 0;
    // Hands an address to the desktop's default handler (a web address to the browser).
    virtual void openURL(const QUrl &url) = 0;

protected:
    DesktopServices() = default;
    DesktopServices(const DesktopServices &) = default;
    DesktopServices &operator=(const DesktopServices &) = default;
};
