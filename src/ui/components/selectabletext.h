#pragma once

#include <QTextEdit>

// Text the user can select and copy, wrapping like WrappingLabel and always exactly as tall as
// its text, so it never scrolls inside the page.
class SelectableText : public QTextEdit {
    Q_OBJECT
    Q_PROPERTY(QString text READ text)

public:
    explicit SelectableText(QWidget *parent = nullptr);

    QString text() const { return toPlainText(); }
    void setText(const QString &text);

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void changeEvent(QEvent *event) override;

private:
    mutable int m_cachedWidth = -1;
    mutable int m_cachedHeight = 0;
};
