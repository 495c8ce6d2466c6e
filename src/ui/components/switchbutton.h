#pragma once

#include <QAbstractButton>

// An on/off switch: a capsule track, accent-colored while on, with a round knob at the end that
// matches the state. Checkable; clicking or pressing space flips it.
class SwitchButton : public QAbstractButton {
    Q_OBJECT

public:
    explicit SwitchButton(QWidget *parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    bool hitButton(const QPoint &position) const override;
};
