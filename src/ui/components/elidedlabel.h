#pragma once

#include <QWidget>

// One line of text that is shortened with an ellipsis when the space runs out (a folder path
// shortened in the middle keeps both its start and its name). The whole text is the tooltip
// whenever it does not fit.
class ElidedLabel : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QString text READ text)

public:
    explicit ElidedLabel(const QString &text = {}, Qt::TextElideMode mode = Qt::ElideRight, QWidget *parent = nullptr);

    QString text() const { return m_text; }
    void setText(const QString &text);
    // What is drawn at the current width.
    QString displayedText() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void refreshToolTip();

    QString m_text;
    Qt::TextElideMode m_mode;
};
