#pragma once

#include <QColor>
#include <QPushButton>

// A filled button in one of the theme's colors with a white label: the options window's
// "Instalar…" (danger) and "Actualizar…" (warning). Disabled, it fades.
class ProminentButton : public QPushButton {
    Q_OBJECT

public:
    ProminentButton(const QString &text, const QColor &tint, QWidget *parent = nullptr);

    QColor tint() const { return m_tint; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_tint;
};
