#pragma once

#include <QTextEdit>

// The address field: plain text, one line that grows to three for a long address and scrolls
// beyond that. Return does not add a line; it asks for the analysis instead.
class URLTextField : public QTextEdit {
    Q_OBJECT

public:
    static constexpr int maximumLines = 3;

    explicit URLTextField(QWidget *parent = nullptr);

    // The lines the field shows at its current width, 1 to maximumLines.
    int visibleLineCount() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

Q_SIGNALS:
    void submitted();

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    int fittedHeight() const;
    void fitHeight();
};
