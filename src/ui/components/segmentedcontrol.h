#pragma once

#include <QStringList>
#include <QWidget>

// A row of mutually exclusive segments, one of them selected: the picker for a short list of
// options.
class SegmentedControl : public QWidget {
    Q_OBJECT

public:
    explicit SegmentedControl(const QStringList &labels, QWidget *parent = nullptr);

    int currentIndex() const { return m_current; }
    void setCurrentIndex(int index);
    int count() const { return int(m_labels.size()); }
    QString label(int index) const { return m_labels.value(index); }
    QRect segmentRect(int index) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

Q_SIGNALS:
    // The user picked a segment (not emitted by setCurrentIndex).
    void activated(int index);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void activate(int index);
    int segmentWidth() const;

    QStringList m_labels;
    int m_current = -1;
};
