#pragma once

#include <QImage>
#include <QPixmap>
#include <QWidget>

// The application's mark: the application icon when the build carries one, otherwise a rounded
// accent-gradient square with a white download arrow. Either way on a soft accent shadow, which
// needs a margin around the mark; the widget's size includes it.
class TorvelLogo : public QWidget {
    Q_OBJECT

public:
    static constexpr int defaultSize = 46;

    explicit TorvelLogo(int size = defaultSize, QWidget *parent = nullptr);

    int logoSize() const { return m_size; }
    void setLogoSize(int size);
    // The mark's own square inside the widget, without the shadow margin.
    QRect markRect() const;
    bool showsApplicationIcon() const { return !m_applicationIcon.isNull(); }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void paintMark(QPainter *painter, const QRectF &rect) const;
    const QImage &shadow(qreal devicePixelRatio);

    int m_size;
    QPixmap m_applicationIcon;
    QImage m_shadow;
};
