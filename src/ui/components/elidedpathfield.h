#pragma once

#include <QLineEdit>

// A path on one line that fits any width: while the field is not focused the middle of a long
// path gives way to "…"; once the user clicks into it (to select and copy) it holds the whole
// path. Read-only and frameless, so it reads as text rather than as an input.
class ElidedPathField : public QLineEdit {
    Q_OBJECT

public:
    explicit ElidedPathField(QWidget *parent = nullptr);

    QString fullText() const { return m_fullText; }
    void setFullText(const QString &text);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void refresh();

    QString m_fullText;
};
