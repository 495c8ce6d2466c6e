#include "labeledicon.h"

#include "ui/components/iconlabel.h"
#include "ui/components/uiparts.h"
#include "ui/components/wrappinglabel.h"

#include <QFontMetrics>
#include <QHBoxLayout>

LabeledIcon::LabeledIcon(const QString &iconName, const QString &text, TorvelTheme::TextStyle style, QWidget *parent,
                         QFont::Weight weight)
    : QWidget(parent) {
    setObjectName(QStringLiteral("labeledIcon"));
    const QFont font = TorvelTheme::font(style, weight);
    const QFontMetrics metrics(font);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(qMax(4, metrics.height() / 3));

    // As tall as one line of text, so the icon sits level with the first line however many
    // lines follow.
    m_icon = new IconLabel(iconName, QColor(), qRound(metrics.height() * 0.95), this);
    m_icon->setFixedHeight(metrics.height());
    layout->addWidget(m_icon, 0, Qt::AlignTop);

    m_label = new WrappingLabel(text, this);
    m_label->setFont(font);
    layout->addWidget(m_label, 1);

    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

QString LabeledIcon::text() const {
    return m_label->text();
}

void LabeledIcon::setText(const QString &text) {
    m_label->setText(text);
}

QString LabeledIcon::iconName() const {
    return m_icon->iconName();
}

void LabeledIcon::setIconName(const QString &name) {
    m_icon->setIconName(name);
}

void LabeledIcon::setTextColor(const QColor &color) {
    UiParts::setTextColor(m_label, color);
}

void LabeledIcon::setIconColor(const QColor &color) {
    m_icon->setColor(color);
}

void LabeledIcon::setColor(const QColor &color) {
    setTextColor(color);
    setIconColor(color);
}
