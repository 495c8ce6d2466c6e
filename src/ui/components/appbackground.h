#pragma once

#include <QWidget>

// The backdrop behind a window's content: the window color under a faint accent wash. Give it a
// layout and put the content in it, or make it the central widget.
class AppBackground : public QWidget {
    Q_OBJECT

public:
    explicit AppBackground(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};
