#pragma once

#include <QColor>
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

class QPainter;

// The small spinning activity indicator. It animates only while it is visible on screen, so a
// hidden indicator costs nothing.
class ActivityIndicator : public QWidget {
    Q_OBJECT

public:
    explicit ActivityIndicator(int size = 16, QWidget *parent = nullptr);

    // An invalid color follows the palette's text color.
    void setColor(const QColor &color);
    bool isAnimating() const { return m_timer.isActive(); }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

    // One frame of the indicator, `turn` running from 0 to 1 per revolution.
    static void paint(QPainter *painter, const QRectF &rect, const QColor &color, qreal turn);
    // The turn for the current moment, shared by every indicator so they spin alike.
    static qreal currentTurn();

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    int m_size;
    QColor m_color;
    QTimer m_timer;
};
