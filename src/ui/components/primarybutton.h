#pragma once

#include <QPushButton>

// The button for a window's main action: white semibold label on the accent gradient. While
// pressed it is drawn slightly faded and shrunk, the way the rest of the interface answers a
// press.
class PrimaryButton : public QPushButton {
    Q_OBJECT

public:
    static constexpr int horizontalPadding = 18;
    static constexpr int minimumHeight = 42;
    static constexpr qreal cornerRadius = 11;
    static constexpr qreal pressedOpacity = 0.82;
    static constexpr qreal pressedScale = 0.985;

    explicit PrimaryButton(QWidget *parent = nullptr);
    explicit PrimaryButton(const QString &text, QWidget *parent = nullptr);
    PrimaryButton(const QIcon &icon, const QString &text, QWidget *parent = nullptr);

    // An icon of the icon table, in white like the label.
    void setIconName(const QString &name);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
};
