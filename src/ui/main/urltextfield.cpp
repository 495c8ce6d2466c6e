#include "urltextfield.h"

#include <QAbstractTextDocumentLayout>
#include <QKeyEvent>
#include <QMimeData>
#include <QtMath>

namespace {
constexpr qreal documentMargin = 3;

// The local text file among dropped or pasted data; empty when there is none.
QString textFileIn(const QMimeData *source) {
    if (!source || !source->hasUrls())
        return {};
    for (const QUrl &url : source->urls())
        if (url.isLocalFile() && url.toLocalFile().endsWith(QLatin1String(".txt"), Qt::CaseInsensitive))
            return url.toLocalFile();
    return {};
}
} // namespace

URLTextField::URLTextField(QWidget *parent) : QTextEdit(parent) {
    setObjectName(QStringLiteral("urlField"));
    setAcceptRichText(false);
    setFrameShape(QFrame::NoFrame);
    setLineWrapMode(QTextEdit::WidgetWidth);
    // Addresses have no spaces to break at.
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setTabChangesFocus(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAutoFillBackground(false);
    viewport()->setAutoFillBackground(false);
    document()->setDocumentMargin(documentMargin);
    setAccessibleName(QStringLiteral("Enlace del contenido"));
    connect(document()->documentLayout(), &QAbstractTextDocumentLayout::documentSizeChanged, this,
            &URLTextField::fitHeight);
    fitHeight();
}

int URLTextField::visibleLineCount() const {
    const qreal lineHeight = fontMetrics().lineSpacing();
    const qreal textHeight = document()->size().height() - 2 * documentMargin;
    return qBound(1, qRound(textHeight / lineHeight), maximumLines);
}

int URLTextField::fittedHeight() const {
    return qCeil(visibleLineCount() * fontMetrics().lineSpacing() + 2 * documentMargin) + 2 * frameWidth();
}

QSize URLTextField::sizeHint() const {
    return {fontMetrics().averageCharWidth() * 40, fittedHeight()};
}

QSize URLTextField::minimumSizeHint() const {
    return {fontMetrics().averageCharWidth() * 10, fittedHeight()};
}

void URLTextField::fitHeight() {
    const int height = fittedHeight();
    if (height != this->height() || minimumHeight() != height)
        setFixedHeight(height);
}

void URLTextField::keyPressEvent(QKeyEvent *event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        Q_EMIT submitted();
        return;
    }
    QTextEdit::keyPressEvent(event);
}

bool URLTextField::canInsertFromMimeData(const QMimeData *source) const {
    return !textFileIn(source).isEmpty() || QTextEdit::canInsertFromMimeData(source);
}

void URLTextField::insertFromMimeData(const QMimeData *source) {
    const QString file = textFileIn(source);
    if (file.isEmpty()) {
        QTextEdit::insertFromMimeData(source);
        return;
    }
    Q_EMIT textFileDropped(file);
}
