#pragma once

#include <QWidget>

// What the window shows before anything is analyzed: ready, and the promise that everything
// stays on this computer.
class IdleView : public QWidget {
    Q_OBJECT

public:
    static constexpr int maximumTextWidth = 560;

    explicit IdleView(QWidget *parent = nullptr);
};
