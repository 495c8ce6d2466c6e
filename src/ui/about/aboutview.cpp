#include "aboutview.h"

#include "platform/applicationinfo.h"

#include "ui/about/deploymentinfo.h"
#include "ui/components/iconlabel.h"
#include "ui/components/secondarytext.h"
#include "ui/components/torvelcard.h"
#include "ui/components/torvellogo.h"
#include "ui/components/torveltheme.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace {

constexpr int columnWidth = 460;
constexpr int descriptionWidth = 430;

// A link only for an address that parses; otherwise its text stays plain.
bool isUsable(const QUrl &url) {
    return url.isValid() && !url.scheme().isEmpty() && !url.host().isEmpty();
}

void showDetected(QLabel *label, const std::optional<ToolInfo> &tool) {
    label->setText(tool ? QStringLiteral("Detectado: ") + tool->version : QString());
    label->setVisible(tool.has_value());
}

} // namespace

AboutView::AboutView(bool compact, QWidget *parent)
    : QWidget(parent), m_compact(compact), m_opener([](const QUrl &url) { QDesktopServices::openUrl(url); }) {
    using TorvelTheme::TextStyle;
    setObjectName(QStringLiteral("aboutView"));

    // A column of at most columnWidth, centered however wide the window is.
    auto *outer = new QHBoxLayout(this);
    outer->setContentsMargins(16, 16, 16, 16);
    auto *column = new QWidget(this);
    column->setMaximumWidth(columnWidth);
    column->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    outer->addStretch();
    outer->addWidget(column, 1);
    outer->addStretch();

    auto *layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(compact ? 10 : 14);

    auto *logo = new TorvelLogo(compact ? 62 : 78, column);
    logo->setObjectName(QStringLiteral("aboutLogo"));
    layout->addWidget(logo, 0, Qt::AlignHCenter);

    auto *heading = new QVBoxLayout;
    heading->setSpacing(2);
    auto *title = new QLabel(QStringLiteral("Torvel Downloader"), column);
    title->setObjectName(QStringLiteral("aboutTitleLabel"));
    QFont titleFont = TorvelTheme::font(TextStyle::body, QFont::Bold);
    titleFont.setPixelSize(compact ? 22 : 26);
    title->setFont(titleFont);
    title->setAlignment(Qt::AlignHCenter);
    heading->addWidget(title);
    QLabel *version = captionLabel(QStringLiteral("Versión ") + applicationVersion(),
                                   QStringLiteral("aboutVersionLabel"), TorvelTheme::font(TextStyle::callout));
    version->setTextInteractionFlags(Qt::TextSelectableByMouse);
    heading->addWidget(version);
    layout->addLayout(heading);

    auto *description = new QLabel(QStringLiteral("Una utilidad local para analizar y descargar contenido compatible "
                                                  "con las herramientas instaladas en tu equipo."),
                                   column);
    description->setObjectName(QStringLiteral("aboutDescriptionLabel"));
    description->setWordWrap(true);
    description->setAlignment(Qt::AlignHCenter);
    const int inset = (columnWidth - descriptionWidth) / 2;
    description->setContentsMargins(inset, 0, inset, 0);
    layout->addWidget(description);

    auto *maker = new QVBoxLayout;
    maker->setSpacing(1);
    maker->addWidget(captionLabel(QStringLiteral("Desarrollado por"), QStringLiteral("aboutMakerCaption"),
                                  TorvelTheme::font(TextStyle::caption)));
    if (isUsable(DeploymentInfo::makerWebsite())) {
        QLabel *link = linkLabel(DeploymentInfo::makerDomain(), DeploymentInfo::makerWebsite(),
                                 TorvelTheme::font(TextStyle::callout, QFont::Medium));
        link->setObjectName(QStringLiteral("aboutMakerLink"));
        maker->addWidget(link, 0, Qt::AlignHCenter);
    }
    layout->addLayout(maker);

    auto *thirdParty = new TorvelCard(column);
    thirdParty->setObjectName(QStringLiteral("aboutThirdPartyCard"));
    thirdParty->contentLayout()->setSpacing(compact ? 12 : 14);
    if (compact)
        thirdParty->contentLayout()->setContentsMargins(16, 16, 16, 16);
    auto *sectionTitle = new QLabel(QStringLiteral("Tecnología de terceros"), thirdParty);
    sectionTitle->setObjectName(QStringLiteral("aboutThirdPartyTitle"));
    sectionTitle->setFont(TorvelTheme::font(TextStyle::headline));
    thirdParty->contentLayout()->addWidget(sectionTitle);
    thirdParty->contentLayout()->addWidget(thirdPartyRow(
        QStringLiteral("yt-dlp"), QStringLiteral("yt-dlp"),
        QStringLiteral(
            "Se utiliza como herramienta externa para identificar formatos y descargar contenido compatible."),
        DeploymentInfo::ytDLPWebsite(), &m_ytDLPDetected));
    thirdParty->contentLayout()->addWidget(thirdPartyRow(
        QStringLiteral("ffmpeg"), QStringLiteral("FFmpeg"),
        QStringLiteral("Se utiliza como herramienta externa para combinar, convertir y procesar audio y video."),
        DeploymentInfo::ffmpegWebsite(), &m_ffmpegDetected));
    thirdParty->contentLayout()->addWidget(
        thirdPartyRow(QStringLiteral("deno"), QStringLiteral("Deno"),
                      QStringLiteral("Se instala cuando hace falta como runtime JavaScript externo para la "
                                     "compatibilidad de yt-dlp con algunos sitios."),
                      DeploymentInfo::denoWebsite(), nullptr));
    thirdParty->contentLayout()->addWidget(thirdPartyRow(
        QStringLiteral("ffmpeg-builds"), QStringLiteral("FFmpeg Linux builds"),
        QStringLiteral(
            "Las instalaciones administradas de FFmpeg usan binarios firmados y precompilados publicados por ") +
            DeploymentInfo::ffmpegBuildsProviderName() + QLatin1Char('.'),
        DeploymentInfo::ffmpegBuildsProviderWebsite(), nullptr));
    layout->addWidget(thirdParty);

    QLabel *independence = captionLabel(
        QStringLiteral("yt-dlp, FFmpeg, Deno y el proveedor de builds son proyectos independientes. Torvel Downloader "
                       "no incorpora sus binarios en la aplicación: puede usar copias existentes o descargarlas, "
                       "verificarlas y guardarlas como herramientas externas administradas."),
        QStringLiteral("aboutIndependenceNotice"), TorvelTheme::font(TextStyle::caption));
    independence->setWordWrap(true);
    layout->addWidget(independence);

    layout->addWidget(captionLabel(DeploymentInfo::makerNotice(), QStringLiteral("aboutFooterLabel"),
                                   TorvelTheme::font(TextStyle::caption2)));
    layout->addStretch();

    setTools(std::nullopt, std::nullopt);
}

QString AboutView::applicationVersion() {
    return ApplicationInfo::current().displayVersion();
}

void AboutView::setTools(const std::optional<ToolInfo> &ytDLP, const std::optional<ToolInfo> &ffmpeg) {
    showDetected(m_ytDLPDetected, ytDLP);
    showDetected(m_ffmpegDetected, ffmpeg);
}

void AboutView::setUrlOpener(UrlOpener opener) {
    m_opener = std::move(opener);
}

QLabel *AboutView::captionLabel(const QString &text, const QString &objectName, const QFont &font) {
    auto *label = new QLabel(text, this);
    label->setObjectName(objectName);
    label->setFont(font);
    label->setAlignment(Qt::AlignHCenter);
    SecondaryText::apply(label);
    return label;
}

QLabel *AboutView::linkLabel(const QString &text, const QUrl &url, const QFont &font) {
    auto *label = new QLabel(this);
    label->setFont(font);
    label->setTextFormat(Qt::RichText);
    label->setText(
        QStringLiteral("<a href=\"%1\" style=\"color: %2; text-decoration: none;\">%3</a>")
            .arg(url.toString(QUrl::FullyEncoded).toHtmlEscaped(), TorvelTheme::accent().name(), text.toHtmlEscaped()));
    label->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    label->setToolTip(url.toString());
    label->setAccessibleName(text);
    connect(label, &QLabel::linkActivated, this, [this](const QString &link) {
        if (m_opener)
            m_opener(QUrl(link, QUrl::StrictMode));
    });
    return label;
}

QWidget *AboutView::thirdPartyRow(const QString &id, const QString &name, const QString &detail, const QUrl &url,
                                  QLabel **detected) {
    using TorvelTheme::TextStyle;
    auto *row = new QWidget(this);
    row->setObjectName(QStringLiteral("aboutRow-") + id);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);

    auto *icon = new IconLabel(QStringLiteral("shippingbox.fill"), TorvelTheme::accent(), 18, row);
    icon->setFixedWidth(24);
    layout->addWidget(icon, 0, Qt::AlignTop);

    auto *texts = new QVBoxLayout;
    texts->setSpacing(2);
    const QFont nameFont = TorvelTheme::font(TextStyle::callout, QFont::DemiBold);
    QLabel *title = nullptr;
    if (isUsable(url)) {
        title = linkLabel(name, url, nameFont);
    } else {
        title = new QLabel(name, row);
        title->setFont(nameFont);
    }
    title->setObjectName(QStringLiteral("aboutLink-") + id);
    texts->addWidget(title, 0, Qt::AlignLeft);

    auto *detailLabel = new QLabel(detail, row);
    detailLabel->setObjectName(QStringLiteral("aboutDetail-") + id);
    detailLabel->setFont(TorvelTheme::font(TextStyle::caption));
    detailLabel->setWordWrap(true);
    SecondaryText::apply(detailLabel);
    texts->addWidget(detailLabel);

    if (detected) {
        *detected = new QLabel(row);
        (*detected)->setObjectName(QStringLiteral("aboutDetected-") + id);
        (*detected)->setFont(TorvelTheme::font(TextStyle::caption2));
        SecondaryText::apply(*detected);
        texts->addWidget(*detected);
    }
    layout->addLayout(texts, 1);
    return row;
}
