#include "urlinputcard.h"

#include "model/appmodel.h"
#include "ui/components/iconlabel.h"
#include "ui/components/labeledicon.h"
#include "ui/components/primarybutton.h"
#include "ui/components/uiparts.h"
#include "ui/components/wrappinglabel.h"
#include "ui/main/analyzebutton.h"
#include "ui/main/urltextfield.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QTextCursor>
#include <QVBoxLayout>

namespace {

// A rounded field background whose outline turns to the accent while the field has focus.
class FieldFrame final : public QFrame {
public:
    explicit FieldFrame(QWidget *parent) : QFrame(parent) { setObjectName(QStringLiteral("urlFieldFrame")); }

    void watch(QWidget *field) {
        m_field = field;
        field->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut ||
            event->type() == QEvent::EnabledChange)
            update();
        return QFrame::eventFilter(watched, event);
    }

    void paintEvent(QPaintEvent *) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF outline = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        const bool focused = m_field && m_field->hasFocus();
        painter.setBrush(palette().color(QPalette::Base));
        painter.setPen(focused ? QPen(TorvelTheme::accent(), 1.5) : QPen(TorvelTheme::primary(palette(), 0.14), 1));
        painter.drawRoundedRect(outline, 10, 10);
    }

private:
    QWidget *m_field = nullptr;
};

// A softly tinted, rounded strip for warnings.
class WarningStrip final : public QFrame {
public:
    explicit WarningStrip(QWidget *parent) : QFrame(parent) {}

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QColor fill = TorvelTheme::warning();
        fill.setAlphaF(0.12f);
        painter.setPen(Qt::NoPen);
        painter.setBrush(fill);
        painter.drawRoundedRect(QRectF(rect()), 10, 10);
    }
};

} // namespace

URLInputCard::URLInputCard(AppModel &model, DesktopServices &desktop, QWidget *parent)
    : TorvelCard(parent), m_model(model), m_desktop(desktop) {
    using TorvelTheme::TextStyle;
    setObjectName(QStringLiteral("urlInputCard"));
    QVBoxLayout *layout = contentLayout();
    layout->setSpacing(12);

    auto *header = new QHBoxLayout;
    header->setSpacing(8);
    auto *title =
        new LabeledIcon(QStringLiteral("link"), QStringLiteral("Enlace del contenido"), TextStyle::headline, this);
    title->setObjectName(QStringLiteral("urlCardTitle"));
    title->setIconColor(TorvelTheme::accent());
    header->addWidget(title, 1);
    header->addWidget(UiParts::secondaryLabel(QStringLiteral("HTTP o HTTPS"), TextStyle::caption, this,
                                              QStringLiteral("urlSchemesCaption")),
                      0, Qt::AlignRight | Qt::AlignVCenter);
    layout->addLayout(header);

    auto *row = new QHBoxLayout;
    row->setSpacing(10);
    auto *frame = new FieldFrame(this);
    auto *frameLayout = new QVBoxLayout(frame);
    frameLayout->setContentsMargins(8, 8, 8, 8);
    m_field = new URLTextField(frame);
    m_field->setPlaceholderText(QStringLiteral("Pega aquí el enlace del video o audio"));
    m_field->setFont(TorvelTheme::font(TextStyle::body));
    frameLayout->addWidget(m_field);
    frame->watch(m_field);
    row->addWidget(frame, 1);

    m_paste = UiParts::borderedButton(QStringLiteral("Pegar"), QStringLiteral("doc.on.clipboard"), this,
                                      QStringLiteral("pasteButton"));
    m_paste->setMinimumHeight(PrimaryButton::minimumHeight);
    row->addWidget(m_paste, 0, Qt::AlignTop);
    m_analyze = new AnalyzeButton(m_model, this);
    row->addWidget(m_analyze, 0, Qt::AlignTop);
    layout->addLayout(row);

    m_note = new QWidget(this);
    auto *noteLayout = new QHBoxLayout(m_note);
    noteLayout->setContentsMargins(0, 0, 0, 0);
    noteLayout->setSpacing(10);
    m_noteText = UiParts::secondaryLabel(QString(), TextStyle::callout, m_note, QStringLiteral("addressNoteLabel"));
    m_noteText->setWordWrap(true);
    m_noteText->setTextInteractionFlags(Qt::TextSelectableByMouse);
    noteLayout->addWidget(m_noteText, 1);
    m_queueAddresses = UiParts::borderedButton(QString(), QStringLiteral("rectangle.stack.badge.plus"), m_note,
                                               QStringLiteral("queueAddressesButton"));
    noteLayout->addWidget(m_queueAddresses, 0, Qt::AlignVCenter);
    layout->addWidget(m_note);

    m_warning = new WarningStrip(this);
    m_warning->setObjectName(QStringLiteral("missingToolWarning"));
    auto *warningLayout = new QHBoxLayout(m_warning);
    warningLayout->setContentsMargins(12, 10, 12, 10);
    warningLayout->setSpacing(10);
    auto *warningText = new LabeledIcon(QStringLiteral("exclamationmark.triangle.fill"),
                                        QStringLiteral("Selecciona o instala yt-dlp para poder analizar enlaces."),
                                        TextStyle::callout, m_warning);
    warningText->setObjectName(QStringLiteral("missingToolText"));
    warningText->setIconColor(TorvelTheme::warning());
    warningLayout->addWidget(warningText, 1);
    QPushButton *openOptions = UiParts::borderedButton(QStringLiteral("Abrir opciones"), QString(), m_warning,
                                                       QStringLiteral("openOptionsButton"));
    warningLayout->addWidget(openOptions, 0, Qt::AlignVCenter);
    layout->addWidget(m_warning);

    connect(m_field, &QTextEdit::textChanged, this, [this] {
        if (!m_showingModel)
            m_model.setUrlInput(m_field->toPlainText());
    });
    connect(m_field, &URLTextField::submitted, this, [this] {
        if (m_analyze->isEnabled())
            m_analyze->click();
    });
    connect(m_paste, &QPushButton::clicked, this, &URLInputCard::paste);
    connect(m_queueAddresses, &QPushButton::clicked, this, [this] { m_model.queueAddresses(m_model.urlInput()); });
    connect(m_field, &URLTextField::textFileDropped, this,
            [this](const QString &path) { m_model.queueAddressesFromFile(path); });
    for (const auto signal : {&AppModel::addressNoteChanged, &AppModel::urlInputChanged})
        connect(&m_model, signal, this, &URLInputCard::refreshNote);
    connect(openOptions, &QPushButton::clicked, this, &URLInputCard::openOptionsRequested);

    connect(&m_model, &AppModel::urlInputChanged, this, &URLInputCard::showUrlInput);
    connect(&m_model, &AppModel::phaseChanged, this, &URLInputCard::refreshEnabled);
    // After "Nueva descarga" the next thing to do is to paste or type an address.
    for (const auto signal : {&AppModel::phaseChanged, &AppModel::urlInputChanged})
        connect(&m_model, signal, this, [this] {
            if (m_model.phase() == AppModel::Phase::idle && m_model.urlInput().isEmpty())
                m_field->setFocus(Qt::OtherFocusReason);
        });
    connect(&m_model, &AppModel::toolsChanged, this, &URLInputCard::refreshWarning);
    showUrlInput();
    refreshEnabled();
    refreshWarning();
    refreshNote();
}

void URLInputCard::refreshNote() {
    m_noteText->setText(m_model.addressNote());
    m_note->setVisible(!m_model.addressNote().isEmpty());
    const qsizetype count = m_model.fieldAddressCount();
    m_queueAddresses->setText(QStringLiteral("Añadir %1 direcciones a la cola").arg(count));
    m_queueAddresses->setVisible(count > 1);
}

void URLInputCard::showUrlInput() {
    if (m_field->toPlainText() == m_model.urlInput())
        return;
    // The model changed the text (cleaned address, paste, reset): show it, caret at the end.
    m_showingModel = true;
    m_field->setPlainText(m_model.urlInput());
    m_field->moveCursor(QTextCursor::End);
    m_showingModel = false;
}

void URLInputCard::refreshEnabled() {
    using Phase = AppModel::Phase;
    const bool busy = m_model.phase() == Phase::analyzing;
    m_field->setEnabled(!busy);
    m_paste->setEnabled(!busy);
}

void URLInputCard::refreshWarning() {
    m_warning->setVisible(!m_model.ytDLP() && !m_model.isCheckingTools());
}

void URLInputCard::paste() {
    m_model.offerAddress(m_desktop.clipboardText());
}
