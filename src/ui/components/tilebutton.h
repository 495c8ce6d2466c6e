#pragma once

#include <QAbstractButton>

class QVBoxLayout;

// A large clickable tile holding other widgets: faint border when idle, accent border and a
// light accent fill when selected. The widgets inside only draw; every click goes to the tile.
class TileButton : public QAbstractButton {
    Q_OBJECT

public:
    static constexpr qreal cornerRadius = 14;

    explicit TileButton(QWidget *parent = nullptr);

    bool isSelected() const { return m_selected; }
    void setSelected(bool selected);

    QVBoxLayout *contentLayout() const { return m_layout; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void childEvent(QChildEvent *event) override;
    // Tells the tile's own widgets that the selection changed.
    virtual void selectionChanged() {}

private:
    QVBoxLayout *m_layout;
    bool m_selected = false;
};
