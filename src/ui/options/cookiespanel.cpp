#include "cookiespanel.h"

#include "model/appmodel.h"
#include "platform/cookiebrowsers.h"
#include "ui/components/elidedpathfield.h"
#include "ui/components/secondarytext.h"
#include "ui/components/torveltheme.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// The item that opens the file chooser carries no setting of its own.
enum ItemRole { settingRole = Qt::UserRole, opensChooserRole };

} // namespace

CookiesPanel::CookiesPanel(AppModel &model, QWidget *parent) : QWidget(parent), m_model(model) {
    setObjectName(QStringLiteral("cookiesPanel"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);

    auto *row = new QHBoxLayout;
    row->setSpacing(10);
    auto *label = new QLabel(QStringLiteral("Usar las cookies de"), this);
    label->setObjectName(QStringLiteral("cookiesSourceLabel"));
    row->addWidget(label);
    row->addStretch();
    m_source = new QComboBox(this);
    m_source->setObjectName(QStringLiteral("cookiesSourceCombo"));
    m_source->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    label->setBuddy(m_source);
    row->addWidget(m_source);
    layout->addLayout(row);

    m_file = new ElidedPathField(this);
    m_file->setObjectName(QStringLiteral("cookiesFileField"));
    m_file->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    layout->addWidget(m_file);

    auto *caption = new QLabel(QStringLiteral("Algunos sitios piden iniciar sesión o comprobar que no eres un robot. "
                                              "yt-dlp puede usar las cookies del navegador en el que ya iniciaste "
                                              "sesión; no salen de este equipo salvo hacia el sitio que las emitió."),
                               this);
    caption->setObjectName(QStringLiteral("cookiesCaption"));
    caption->setFont(TorvelTheme::font(TorvelTheme::TextStyle::caption));
    caption->setWordWrap(true);
    SecondaryText::apply(caption);
    layout->addWidget(caption);

    refresh();
    connect(&m_model.settings(), &AppSettings::cookiesChanged, this, &CookiesPanel::refresh);
    // activated, not currentIndexChanged: choosing "Archivo de cookies…" again opens the chooser again.
    connect(m_source, &QComboBox::activated, this, &CookiesPanel::chosen);
}

void CookiesPanel::refresh() {
    const AppSettings &settings = m_model.settings();
    const CookieSource source = settings.cookieSource();
    QList<CookieBrowsers::Browser> browsers = CookieBrowsers::installed(settings.homeFolder());
    // A chosen browser whose profile folder has gone is still the setting; it stays listed.
    if (source.kind == CookieSource::Kind::browser &&
        std::none_of(browsers.cbegin(), browsers.cend(),
                     [&](const CookieBrowsers::Browser &browser) { return browser.name == source.browser; }))
        browsers.append(*CookieBrowsers::named(source.browser));

    const QSignalBlocker blocker(m_source);
    m_source->clear();
    m_source->addItem(QStringLiteral("Ninguno"), QString());
    for (const CookieBrowsers::Browser &browser : std::as_const(browsers))
        m_source->addItem(browser.label, browser.name);
    m_source->addItem(QStringLiteral("Archivo de cookies…"));
    m_source->setItemData(m_source->count() - 1, true, opensChooserRole);

    switch (source.kind) {
    case CookieSource::Kind::none:
        m_source->setCurrentIndex(0);
        break;
    case CookieSource::Kind::browser:
        m_source->setCurrentIndex(m_source->findData(source.browser, settingRole));
        break;
    case CookieSource::Kind::file:
        m_source->setCurrentIndex(m_source->count() - 1);
        break;
    }
    m_file->setFullText(source.file);
    m_file->setVisible(source.kind == CookieSource::Kind::file);
}

void CookiesPanel::chosen(int index) {
    if (m_source->itemData(index, opensChooserRole).toBool()) {
        m_model.chooseCookiesFile();
        // A cancelled chooser changes nothing: the choice goes back to the setting.
        refresh();
        return;
    }
    m_model.settings().setCookies(m_source->itemData(index, settingRole).toString());
}
