#pragma once

#include "platform/desktopservices.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

// Records every request in `calls`, in order, and answers the choosers and the clipboard with
// whatever the test put in the answer fields.
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
    QString clipboard;

    // What was asked: one entry per call, e.g. "revealFile /a/b.mp4", "activateApplication".
    QStringList calls;
    QStringList revealedFiles;
    int activations = 0;
    QList<FolderRequest> folderRequests;
    QList<ExecutableRequest> executableRequests;
    int clipboardReads = 0;
    QList<QUrl> openedURLs;

    void revealFile(const QString &path) override {
        calls.append(QStringLiteral("revealFile ") + path);
        revealedFiles.append(path);
    }
    void activateApplication() override {
        calls.append(QStringLiteral("activateApplication"));
        ++activations;
    }
    std::optional<QString> chooseFolder(const QString &title, const QString &confirmText,
                                        const QString &startFolder) override {
        calls.append(QStringLiteral("chooseFolder ") + title);
        folderRequests.append({title, confirmText, startFolder});
        return folderAnswer;
    }
    std::optional<QString> chooseExecutable(const QString &title, const QString &confirmText) override {
        calls.append(QStringLiteral("chooseExecutable ") + title);
        executableRequests.append({title, confirmText});
        return executableAnswer;
    }
    QString clipboardText() override {
        calls.append(QStringLiteral("clipboardText"));
        ++clipboardReads;
        return clipboard;
    }
    void setClipboardText(const QString &text) override {
        calls.append(QStringLiteral("setClipboardText"));
        clipboard = text;
    }
    void openURL(const QUrl &url) override {
        calls.append(QStringLiteral("openURL ") + url.toString());
        openedURLs.append(url);
    }
};
