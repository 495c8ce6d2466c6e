#pragma once

#include <QWidget>

// A small rounded label for a short fact (container, codec, note). Given less room than its
// text needs, it ends the text with an ellipsis.
class MetadataPill : public QWidget {
    Q_OBJECT

public:
    explicit MetadataPill(const QString &text, QWidget *parent = nullptr);

    QString text() const { return m_text; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_text;
};
