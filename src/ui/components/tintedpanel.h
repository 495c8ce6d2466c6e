#pragma once

#include <QColor>
#include <QWidget>

// A rounded area on a tinted background, optionally outlined: the faint panels, warning strips
// and the dark log area of the options window. Children are laid out by the caller.
class TintedPanel : public QWidget {
    Q_OBJECT

public:
    // An invalid fill is a faint tint of the palette's text color.
    explicit TintedPanel(const QColor &fill = {}, QWidget *parent = nullptr, qreal cornerRadius = 12);

    QColor fill() const { return m_fill; }
    void setFill(const QColor &fill);
    // A 1-point outline; an invalid color draws none.
    void setBorder(const QColor &border);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_fill;
    QColor m_border;
    qreal m_cornerRadius;
};
