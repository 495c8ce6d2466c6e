#pragma once

#include <QPlainTextEdit>

// A live log: light monospaced text on a dark translucent ground (in light and dark palettes
// alike), read-only but selectable, scrolled to its end as text arrives.
class LogView : public QPlainTextEdit {
    Q_OBJECT

public:
    explicit LogView(const QString &objectName, QWidget *parent = nullptr);

    // Shows the whole log: what was appended since the last call is added at the end, anything
    // else (a cut, a new log) replaces the text.
    void showLog(const QString &log);

private:
    QString m_shown;
};
