#include "sectionview.h"

#include "model/appmodel.h"
#include "ui/components/torveltheme.h"
#include "ui/components/uiparts.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace {

QLineEdit *timeField(const QString &objectName, const QString &accessibleName, QWidget *parent) {
    auto *field = new QLineEdit(parent);
    field->setObjectName(objectName);
    field->setAccessibleName(accessibleName);
    field->setMaximumWidth(110);
    return field;
}

} // namespace

SectionView::SectionView(AppModel &model, QWidget *parent) : QWidget(parent), m_model(model) {
    using TorvelTheme::TextStyle;
    setObjectName(QStringLiteral("sectionView"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);

    auto *row = new QHBoxLayout;
    row->setSpacing(8);
    auto *title = new QLabel(QStringLiteral("Recortar"), this);
    title->setObjectName(QStringLiteral("sectionTitleLabel"));
    title->setFont(TorvelTheme::font(TextStyle::body, QFont::Medium));
    row->addWidget(title);
    row->addSpacing(8);
    row->addWidget(UiParts::secondaryLabel(QStringLiteral("Desde"), TextStyle::callout, this));
    m_start = timeField(QStringLiteral("sectionStartField"), QStringLiteral("Inicio del recorte"), this);
    m_start->setPlaceholderText(QStringLiteral("0:00"));
    row->addWidget(m_start);
    row->addWidget(UiParts::secondaryLabel(QStringLiteral("hasta"), TextStyle::callout, this));
    m_end = timeField(QStringLiteral("sectionEndField"), QStringLiteral("Final del recorte"), this);
    row->addWidget(m_end);
    row->addStretch();
    layout->addLayout(row);
    layout->addWidget(UiParts::secondaryLabel(QStringLiteral("Vacío: todo el video. Admite 83, 1:23 o 01:02:03."),
                                              TextStyle::caption, this, QStringLiteral("sectionHintLabel")));
    m_problem = new QLabel(this);
    m_problem->setObjectName(QStringLiteral("sectionProblemLabel"));
    m_problem->setWordWrap(true);
    m_problem->setFont(TorvelTheme::font(TextStyle::caption));
    QPalette palette = m_problem->palette();
    palette.setColor(QPalette::WindowText, TorvelTheme::danger());
    m_problem->setPalette(palette);
    layout->addWidget(m_problem);

    const auto edited = [this] { m_model.setSectionTimes(m_start->text(), m_end->text()); };
    connect(m_start, &QLineEdit::textChanged, this, edited);
    connect(m_end, &QLineEdit::textChanged, this, edited);
    connect(&m_model, &AppModel::sectionChanged, this, &SectionView::refresh);
    connect(&m_model, &AppModel::mediaInfoChanged, this, &SectionView::refresh);
    refresh();
}

void SectionView::refresh() {
    for (const auto &[field, text] : {std::pair{m_start, m_model.sectionStart()}, {m_end, m_model.sectionEnd()}}) {
        if (field->text() != text) {
            const QSignalBlocker blocker(field);
            field->setText(text);
        }
    }
    const std::optional<MediaInfo> &media = m_model.mediaInfo();
    m_end->setPlaceholderText(media && media->duration ? torvelDuration(*media->duration) : QStringLiteral("final"));
    const QString problem = m_model.sectionProblem();
    m_problem->setText(problem);
    m_problem->setVisible(!problem.isEmpty());
}
