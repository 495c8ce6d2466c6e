#pragma once

#include <QFrame>

class QVBoxLayout;

// The rounded, translucent container every window groups its content in. Content goes into
// contentLayout(), which keeps the card's padding.
class TorvelCard : public QFrame {
    Q_OBJECT

public:
    static constexpr int padding = 20;
    static constexpr qreal cornerRadius = 18;

    explicit TorvelCard(QWidget *parent = nullptr);
    // A card around one widget.
    explicit TorvelCard(QWidget *content, QWidget *parent);

    QVBoxLayout *contentLayout() const { return m_layout; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QVBoxLayout *m_layout;
};
