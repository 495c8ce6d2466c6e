#pragma once

#include "model/toolindicatorstate.h"

#include <QAbstractButton>

// A small capsule that shows whether a tool is ready (a colored dot and the tool's name) and
// opens the tools page when clicked.
class ToolStatusPill : public QAbstractButton {
    Q_OBJECT

public:
    ToolStatusPill(const QString &title, ToolIndicatorState state, QWidget *parent = nullptr);

    QString title() const { return m_title; }
    ToolIndicatorState state() const { return m_state; }
    void setState(ToolIndicatorState state);
    QColor dotColor() const;

    // "Disponible y actualizado", "Actualización disponible", "Disponible, sin comprobar…" or
    // "No instalado".
    static QString stateText(ToolIndicatorState state);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void applyState();

    QString m_title;
    ToolIndicatorState m_state;
};
