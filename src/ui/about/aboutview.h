#pragma once

#include "tools/toolinfo.h"

#include <QUrl>
#include <QWidget>

#include <functional>
#include <optional>

class QLabel;
class QVBoxLayout;

// What the application is, who makes it and which outside projects it relies on. Shown in its
// own window and, compact, as a tab of the options window.
class AboutView : public QWidget {
    Q_OBJECT

public:
    using UrlOpener = std::function<void(const QUrl &)>;

    explicit AboutView(bool compact, QWidget *parent = nullptr);

    bool isCompact() const { return m_compact; }
    // The located tools; each present one adds a "Detectado: " line with its version to its row.
    void setTools(const std::optional<ToolInfo> &ytDLP, const std::optional<ToolInfo> &ffmpeg);
    // Links open in the desktop's browser unless something else is set here.
    void setUrlOpener(UrlOpener opener);

    // The application's version, or the fallback when it reports none.
    static QString applicationVersion();

private:
    QWidget *thirdPartyRow(const QString &id, const QString &name, const QString &detail, const QUrl &url,
                           QLabel **detected);
    QLabel *linkLabel(const QString &text, const QUrl &url, const QFont &font);
    QLabel *captionLabel(const QString &text, const QString &objectName, const QFont &font);

    bool m_compact;
    UrlOpener m_opener;
    QLabel *m_ytDLPDetected = nullptr;
    QLabel *m_ffmpegDetected = nullptr;
};
