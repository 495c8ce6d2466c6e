#pragma once

#include <QTextEdit>

// The address field: plain text, one line that grows to three for a long address and scrolls
// beyond that. Return does not add a line; it asks for the analysis instead. A text file dropped
// on it is handed over as a file, not as its address.
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
    // A local ".txt" file was dropped: a list of addresses.
    void textFileDropped(const QString &path);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    bool canInsertFromMimeData(const QMimeData *source) const override;
    void insertFromMimeData(const QMimeData *source) override;

private:
    int fittedHeight() const;
    void fitHeight();
};
