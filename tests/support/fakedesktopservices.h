#pragma once

#include "platform/desktopservices.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

// Records every request and answers the choosers and the clipboard with whatever the test put
// in the answer fields.
class FakeDesktopServices final : public DesktopServices {
public:
    struct FolderRequest {
        QString title;
        QString confirmText;
        QString startFolder;
        bool operator==(const FolderRequest &) const = default;
    };
    struct ExecutableRequest {
        QString title;
        QString confirmText;
        bool operator==(const ExecutableRequest &) const = default;
    };

    // Scripted answers.
    std::optional<QString> folderAnswer;
    std::optional<QString> executableAnswer;
    std::optional<QString> fileAnswer;
    QString clipboard;

    // What was asked.
    QStringList revealedFiles;
    QList<Reveal> reveals; // beside revealedFiles
    int activations = 0;
    QList<FolderRequest> folderRequests;
    QList<ExecutableRequest> executableRequests;
    QList<FolderRequest> fileRequests;
    QList<QUrl> openedURLs;

    void revealFile(const QString &path, Reveal reveal) override {
        revealedFiles.append(path);
        reveals.append(reveal);
    }
    void activateApplication() override { ++activations; }
    std::optional<QString> chooseFolder(const QString &title, const QString &confirmText,
                                        const QString &startFolder) override {
        folderRequests.append({title, confirmText, startFolder});
        return folderAnswer;
    }
    std::optional<QString> chooseExecutable(const QString &title, const QString &confirmText) override {
        executableRequests.append({title, confirmText});
        return executableAnswer;
    }
    std::optional<QString> chooseFile(const QString &title, const QString &confirmText,
                                      const QString &startFolder) override {
        fileRequests.append({title, confirmText, startFolder});
        return fileAnswer;
    }
    QString clipboardText() override { return clipboard; }
    void setClipboardText(const QString &text) override { clipboard = text; }
    void openURL(const QUrl &url) override { openedURLs.append(url); }
};
