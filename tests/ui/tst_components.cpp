#include "testsupport.h"

#include "tools/toolinfo.h"
#include "ui/about/aboutview.h"
#include "ui/components/appbackground.h"
#include "ui/components/iconlabel.h"
#include "ui/components/icons.h"
#include "ui/components/primarybutton.h"
#include "ui/components/toolstatuspill.h"
#include "ui/components/torvelcard.h"
#include "ui/components/torvellogo.h"
#include "ui/components/torveltheme.h"

#include <QApplication>
#include <QFile>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QRawFont>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

namespace {

bool isClose(const QColor &actual, const QColor &expected, float tolerance = 0.06f) {
    return qAbs(actual.redF() - expected.redF()) <= tolerance &&
           qAbs(actual.greenF() - expected.greenF()) <= tolerance &&
           qAbs(actual.blueF() - expected.blueF()) <= tolerance;
}

QColor blend(const QColor &front, const QColor &back, float opacity) {
    return QColor::fromRgbF(opacity * front.redF() + (1 - opacity) * back.redF(),
                            opacity * front.greenF() + (1 - opacity) * back.greenF(),
                            opacity * front.blueF() + (1 - opacity) * back.blueF());
}

QImage grabImage(QWidget *widget) {
    return widget->grab().toImage();
}

// The pixel under a point given in logical coordinates.
QColor pixelAt(const QImage &image, QPointF logical) {
    return image.pixelColor((logical * image.devicePixelRatio()).toPoint());
}

int opaquePixels(const QImage &image) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += qAlpha(image.pixel(x, y)) > 128;
    return count;
}

QString screenshotPath(const QString &name) {
    const qreal ratio = qApp->devicePixelRatio();
    const QString suffix = ratio > 1 ? QStringLiteral("@%1x").arg(ratio) : QString();
    return TestSupport::artefactFolder(QStringLiteral("ui")) + QLatin1Char('/') + name + suffix +
           QStringLiteral(".png");
}

QList<QLabel *> visibleDetectedLines(AboutView &view) {
    QList<QLabel *> lines;
    for (QLabel *label : view.findChildren<QLabel *>()) {
        if (label->isVisibleTo(&view) && label->text().startsWith(QStringLiteral("Detectado: ")))
            lines.append(label);
    }
    return lines;
}

} // namespace

class ComponentsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(!QFontDatabase::families().isEmpty(), "no font installed: text would draw as boxes");
        QVERIFY2(!Icons::fontFamily().isEmpty(), "the Material Icons font is not installed");
    }

    void pillShowsEachState_data() {
        QTest::addColumn<ToolIndicatorState>("state");
        QTest::addColumn<QColor>("dot");
        QTest::addColumn<QString>("toolTip");
        QTest::addColumn<QString>("accessibleName");
        QTest::newRow("current") << ToolIndicatorState::current << TorvelTheme::success()
                                 << QStringLiteral("yt-dlp: Disponible y actualizado. Abrir Herramientas.")
                                 << QStringLiteral("yt-dlp, Disponible y actualizado");
        QTest::newRow("updateAvailable") << ToolIndicatorState::updateAvailable << TorvelTheme::warning()
                                         << QStringLiteral("yt-dlp: Actualización disponible. Abrir Herramientas.")
                                         << QStringLiteral("yt-dlp, Actualización disponible");
        QTest::newRow("missing") << ToolIndicatorState::missing << TorvelTheme::danger()
                                 << QStringLiteral("yt-dlp: No instalado. Abrir Herramientas.")
                                 << QStringLiteral("yt-dlp, No instalado");
    }

    void pillShowsEachState() {
        QFETCH(ToolIndicatorState, state);
        QFETCH(QColor, dot);
        QFETCH(QString, toolTip);
        QFETCH(QString, accessibleName);

        // Start from another state so that setState has to redo every part.
        const ToolIndicatorState other =
            state == ToolIndicatorState::current ? ToolIndicatorState::missing : ToolIndicatorState::current;
        ToolStatusPill pill(QStringLiteral("yt-dlp"), other);
        pill.setState(state);
        pill.resize(pill.sizeHint());

        QCOMPARE(pill.toolTip(), toolTip);
        QCOMPARE(pill.accessibleName(), accessibleName);
        const QImage image = grabImage(&pill);
        QVERIFY(isClose(pixelAt(image, QPointF(13.5, pill.height() / 2.0)), dot, 0.02f));

        QSignalSpy clicked(&pill, &QAbstractButton::clicked);
        QTest::mouseClick(&pill, Qt::LeftButton);
        QCOMPARE(clicked.count(), 1);
    }

    // Every name in the table draws; the window tests fail on any name the table lacks.
    void iconTableDraws() {
        const QRawFont font = QRawFont::fromFont(Icons::font(24));
        for (const QString &name : Icons::names()) {
            const std::optional<Icons::Glyph> glyph = Icons::glyph(name);
            QVERIFY2(glyph, qPrintable(name));
            QVERIFY2(font.supportsCharacter(QChar(glyph->codepoint)), qPrintable(name));
            QVERIFY2(opaquePixels(Icons::pixmap(name, Qt::black, 32).toImage()) > 20, qPrintable(name));
        }
    }

    // The font package publishes its glyph names with their codepoints; the table must agree.
    void iconCodepointsMatchTheFontPackage() {
        QFile codepoints(QStringLiteral("/usr/share/fonts-material-design-icons-iconfont/scss/_variables.scss"));
        if (!codepoints.open(QIODevice::ReadOnly))
            QSKIP("the font package's codepoint list is not installed");
        const QString text = QString::fromUtf8(codepoints.readAll());
        for (const QString &name : Icons::names()) {
            const Icons::Glyph glyph = *Icons::glyph(name);
            const QRegularExpression entry(QLatin1Char('"') + glyph.materialName + QStringLiteral("\": ([0-9a-f]+),"));
            const QRegularExpressionMatch match = entry.match(text);
            QVERIFY2(match.hasMatch(), qPrintable(glyph.materialName));
            QCOMPARE(match.captured(1).toUInt(nullptr, 16), uint(glyph.codepoint));
        }
    }

    void unknownIconDrawsNothing() {
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("no glyph.*no.such.icon")));
        QVERIFY(!Icons::glyph(QStringLiteral("no.such.icon")));
        const QPixmap pixmap = Icons::pixmap(QStringLiteral("no.such.icon"), Qt::black, 24);
        QCOMPARE(pixmap.size(), QSize(24, 24));
        QCOMPARE(opaquePixels(pixmap.toImage()), 0);
        QVERIFY(!Icons::icon(QStringLiteral("no.such.icon")).pixmap(16).isNull());
        IconLabel label(QStringLiteral("no.such.icon"));
        label.grab();
    }

    void logoFallsBackToGradient() {
        TorvelLogo logo(78);
        QVERIFY(!logo.showsApplicationIcon());
        QCOMPARE(logo.accessibleName(), QStringLiteral("Torvel Downloader"));
        const QImage image = grabImage(&logo);
        const QRectF mark = logo.markRect();
        const qreal inset = mark.width() * 0.12;
        QVERIFY(isClose(pixelAt(image, mark.topLeft() + QPointF(inset, inset)), TorvelTheme::accent(), 0.08f));
        QVERIFY(
            isClose(pixelAt(image, mark.bottomRight() - QPointF(inset, inset)), TorvelTheme::accentSecondary(), 0.08f));
        // The white arrow covers a good part of the square.
        int white = 0;
        const QRect pixels(mark.topLeft().toPoint() * image.devicePixelRatio(),
                           mark.size().toSize() * image.devicePixelRatio());
        for (int y = pixels.top(); y <= pixels.bottom(); ++y)
            for (int x = pixels.left(); x <= pixels.right(); ++x)
                white += isClose(image.pixelColor(x, y), Qt::white, 0.03f);
        QVERIFY(white > pixels.width() * pixels.height() / 20);
    }

    void aboutShowsDetectedVersionsOnlyForLocatedTools() {
        AboutView view(false);
        QVERIFY(visibleDetectedLines(view).isEmpty());

        view.setTools(ToolInfo{QStringLiteral("/usr/bin/yt-dlp"), QStringLiteral("2023.03.04"),
                               ToolInstallSource::of(ToolInstallSource::Kind::systemPackage)},
                      std::nullopt);
        const QList<QLabel *> lines = visibleDetectedLines(view);
        QCOMPARE(lines.size(), 1);
        QCOMPARE(lines.constFirst()->objectName(), QStringLiteral("aboutDetected-yt-dlp"));
        QCOMPARE(lines.constFirst()->text(), QStringLiteral("Detectado: 2023.03.04"));

        view.setTools(std::nullopt, std::nullopt);
        QVERIFY(visibleDetectedLines(view).isEmpty());
    }

    void aboutShowsTheBuildsOwnVersionOutsideABundle() {
        // The test runs from the build folder: no bundle, so the build's project version.
        QCOMPARE(AboutView(true).findChild<QLabel *>(QStringLiteral("aboutVersionLabel"))->text(),
                 QStringLiteral("Versión " TORVEL_VERSION));
    }

    void aboutLinksOpenTheirProjects() {
        AboutView view(false);
        QList<QUrl> opened;
        view.setUrlOpener([&opened](const QUrl &url) { opened.append(url); });
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        auto *link = view.findChild<QLabel *>(QStringLiteral("aboutLink-yt-dlp"));
        QVERIFY(link);
        QTest::mouseClick(link, Qt::LeftButton, {}, QPoint(6, link->height() / 2));
        auto *maker = view.findChild<QLabel *>(QStringLiteral("aboutMakerLink"));
        QVERIFY(maker);
        QTest::mouseClick(maker, Qt::LeftButton, {}, maker->rect().center());
        QCOMPARE(opened, (QList<QUrl>{QUrl(QStringLiteral("https://github.com/yt-dlp/yt-dlp")),
                                      QUrl(QStringLiteral("https://torvel.example"))}));
    }

    void primaryButtonPressedLooksDifferent() {
        PrimaryButton button(QStringLiteral("Descargar"));
        button.resize(button.sizeHint());
        QVERIFY(button.height() >= 42);
        const QImage normal = grabImage(&button);
        button.setDown(true);
        const QImage pressed = grabImage(&button);
        button.setDown(false);
        QVERIFY(normal != pressed);
        // Drawn at 82 % over what lies behind: a point inside the fill, away from the label and
        // from the edges the shrinking moves, is the normal color blended with the window color.
        const QColor window = button.palette().color(QPalette::Window);
        const QPointF inside(button.width() / 2.0, 5);
        QVERIFY(isClose(pixelAt(pressed, inside), blend(pixelAt(normal, inside), window, 0.82f), 0.02f));
        // Shrunk around its center: the left edge moves inwards and lets the window show through.
        const QPointF leftEdge(0.25, button.height() / 2.0);
        QVERIFY(!isClose(pixelAt(pressed, leftEdge), blend(pixelAt(normal, leftEdge), window, 0.82f), 0.05f));
        button.setEnabled(false);
        QVERIFY(grabImage(&button) != normal);
    }

    void screenshots() {
        AppBackground gallery;
        auto *layout = new QVBoxLayout(&gallery);
        layout->setContentsMargins(28, 28, 28, 28);
        layout->setSpacing(18);

        auto *logos = new QHBoxLayout;
        for (int size : {TorvelLogo::defaultSize, 62, 78})
            logos->addWidget(new TorvelLogo(size));
        logos->addStretch();
        layout->addLayout(logos);

        auto *pills = new QHBoxLayout;
        pills->addWidget(new ToolStatusPill(QStringLiteral("yt-dlp"), ToolIndicatorState::current));
        pills->addWidget(new ToolStatusPill(QStringLiteral("FFmpeg"), ToolIndicatorState::updateAvailable));
        pills->addWidget(new ToolStatusPill(QStringLiteral("yt-dlp"), ToolIndicatorState::missing));
        pills->addStretch();
        layout->addLayout(pills);

        auto *buttons = new QHBoxLayout;
        buttons->addWidget(new PrimaryButton(QStringLiteral("Analizar")));
        auto *download = new PrimaryButton(QStringLiteral("Descargar"));
        download->setIconName(QStringLiteral("arrow.down.circle.fill"));
        buttons->addWidget(download);
        auto *pressed = new PrimaryButton(QStringLiteral("Pulsado"));
        pressed->setDown(true);
        buttons->addWidget(pressed);
        auto *disabled = new PrimaryButton(QStringLiteral("Desactivado"));
        disabled->setEnabled(false);
        buttons->addWidget(disabled);
        buttons->addStretch();
        layout->addLayout(buttons);

        // Every icon of the table on a card.
        auto *card = new TorvelCard;
        auto *icons = new QGridLayout;
        const QStringList names = Icons::names();
        for (int i = 0; i < names.size(); ++i)
            icons->addWidget(new IconLabel(names.at(i), TorvelTheme::accent(), 24), i / 12, i % 12);
        card->contentLayout()->addLayout(icons);
        layout->addWidget(card);

        gallery.resize(gallery.sizeHint().expandedTo(QSize(900, 0)));
        gallery.show();
        QVERIFY(QTest::qWaitForWindowExposed(&gallery));
        QVERIFY(gallery.grab().save(screenshotPath(QStringLiteral("components"))));

        for (const bool compact : {false, true}) {
            AboutView view(compact);
            view.setTools(ToolInfo{QStringLiteral("/usr/bin/yt-dlp"), QStringLiteral("2023.03.04"), {}},
                          ToolInfo{QStringLiteral("/usr/bin/ffmpeg"), QStringLiteral("5.1.6-0+deb12u1"), {}});
            const int width = compact ? 600 : 520;
            view.resize(width, view.heightForWidth(width) > 0 ? view.heightForWidth(width) : view.sizeHint().height());
            view.show();
            QVERIFY(QTest::qWaitForWindowExposed(&view));
            QVERIFY(
                view.grab().save(screenshotPath(compact ? QStringLiteral("about-compact") : QStringLiteral("about"))));
        }
    }
};

QTEST_MAIN(ComponentsTest)
#include "tst_components.moc"
