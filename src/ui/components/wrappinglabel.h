#pragma once

#include <QWidget>

class QTextLayout;

// Read-only text that wraps at word boundaries and, for a word longer than the line (a long
// address or file name), anywhere inside it — so no text ever pushes its column wider than the
// window or gets cut off at the edge.
class WrappingLabel : public QWidget {
    Q_OBJECT
    // The text shown, readable by name like a QLabel's.
    Q_PROPERTY(QString text READ text)

public:
    explicit WrappingLabel(const QString &text = {}, QWidget *parent = nullptr);

    QString text() const { return m_text; }
    void setText(const QString &text);
    Qt::Alignment alignment() const { return m_alignment; }
    void setAlignment(Qt::Alignment alignment);
    // Lines the text takes at a width.
    int lineCount(int width) const;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    // Breaks the text into lines of `width`; returns the height they take.
    qreal layOut(QTextLayout &layout, qreal width) const;
    int naturalWidth() const;
    void textChanged();

    QString m_text;
    Qt::Alignment m_alignment = Qt::AlignLeft;
    mutable int m_cachedWidth = -1;
    mutable int m_cachedHeight = 0;
};
