#include "screenshot.h"

#include "ui/components/appbackground.h"
#include "ui/components/iconlabel.h"
#include "ui/components/icons.h"
#include "ui/components/primarybutton.h"
#include "ui/components/toolstatuspill.h"
#include "ui/components/torvelcard.h"
#include "ui/components/torvellogo.h"
#include "ui/components/torveltheme.h"

#include <QFile>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QRawFont>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

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

} // namespace

class ComponentsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(!QFontDatabase::families().isEmpty(), "no font installed: text would draw as boxes");
        QVERIFY2(!Icons::fontFamily().isEmpty(), "the Material Icons font is not installed");
    }

    void pillShowsEachState() {
        // Each state, the dot's colour and the state's text in the tooltip and the accessible name.
        for (const auto &[state, dot, text] : std::initializer_list<std::tuple<ToolIndicatorState, QColor, QString>>{
                 {ToolIndicatorState::current, TorvelTheme::success(), u"Disponible y actualizado"_s},
                 {ToolIndicatorState::updateAvailable, TorvelTheme::warning(), u"Actualización disponible"_s},
                 {ToolIndicatorState::unchecked, TorvelTheme::indicatorColor(ToolIndicatorState::unchecked),
                  u"Disponible, sin comprobar si hay versiones nuevas"_s},
                 {ToolIndicatorState::missing, TorvelTheme::danger(), u"No instalado"_s}}) {
            // Start from another state so that setState has to redo every part.
            const ToolIndicatorState other =
                state == ToolIndicatorState::current ? ToolIndicatorState::missing : ToolIndicatorState::current;
            ToolStatusPill pill(u"yt-dlp"_s, other);
            pill.setState(state);
            pill.resize(pill.sizeHint());

            QCOMPARE(pill.toolTip(), u"yt-dlp: "_s + text + u". Abrir Herramientas."_s);
            QCOMPARE(pill.accessibleName(), u"yt-dlp, "_s + text);
            const QImage image = grabImage(&pill);
            QVERIFY(isClose(pixelAt(image, QPointF(13.5, pill.height() / 2.0)), dot, 0.02f));

            QSignalSpy clicked(&pill, &QAbstractButton::clicked);
            QTest::mouseClick(&pill, Qt::LeftButton);
            QCOMPARE(clicked.count(), 1);
        }
    }

    // Every name in the table draws, and agrees with the codepoint the font package publishes
    // for its glyph name when the package's list is installed; the window tests fail on any name
    // the table lacks.
    void iconTableDraws() {
        QFile codepoints(u"/usr/share/fonts-material-design-icons-iconfont/scss/_variables.scss"_s);
        const QString published =
            codepoints.open(QIODevice::ReadOnly) ? QString::fromUtf8(codepoints.readAll()) : QString();
        const QRawFont font = QRawFont::fromFont(Icons::font(24));
        for (const QString &name : Icons::names()) {
            const std::optional<Icons::Glyph> glyph = Icons::glyph(name);
            QVERIFY2(glyph, qPrintable(name));
            QVERIFY2(font.supportsCharacter(QChar(glyph->codepoint)), qPrintable(name));
            QVERIFY2(opaquePixels(Icons::pixmap(name, Qt::black, 32).toImage()) > 20, qPrintable(name));
            if (published.isEmpty())
                continue;
            const QRegularExpressionMatch match =
                QRegularExpression(QLatin1Char('"') + glyph->materialName + u"\": ([0-9a-f]+),"_s).match(published);
            QVERIFY2(match.hasMatch(), qPrintable(glyph->materialName));
            QCOMPARE(match.captured(1).toUInt(nullptr, 16), uint(glyph->codepoint));
        }
        if (published.isEmpty())
            qInfo("the font package's codepoint list is not installed: codepoints not compared");
    }

    void unknownIconDrawsNothing() {
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"no glyph.*no.such.icon"_s));
        QVERIFY(!Icons::glyph(u"no.such.icon"_s));
        const QPixmap pixmap = Icons::pixmap(u"no.such.icon"_s, Qt::black, 24);
        QCOMPARE(pixmap.size(), QSize(24, 24));
        QCOMPARE(opaquePixels(pixmap.toImage()), 0);
        QVERIFY(!Icons::icon(u"no.such.icon"_s).pixmap(16).isNull());
        IconLabel label(u"no.such.icon"_s);
        label.grab();
    }

    void logoFallsBackToGradient() {
        TorvelLogo logo(78);
        QVERIFY(!logo.showsApplicationIcon());
        QCOMPARE(logo.accessibleName(), u"Torvel Downloader"_s);
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

    void primaryButtonPressedLooksDifferent() {
        PrimaryButton button(u"Descargar"_s);
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
        pills->addWidget(new ToolStatusPill(u"yt-dlp"_s, ToolIndicatorState::current));
        pills->addWidget(new ToolStatusPill(u"FFmpeg"_s, ToolIndicatorState::updateAvailable));
        pills->addWidget(new ToolStatusPill(u"yt-dlp"_s, ToolIndicatorState::missing));
        pills->addStretch();
        layout->addLayout(pills);

        auto *buttons = new QHBoxLayout;
        buttons->addWidget(new PrimaryButton(u"Analizar"_s));
        auto *download = new PrimaryButton(u"Descargar"_s);
        download->setIconName(u"arrow.down.circle.fill"_s);
        buttons->addWidget(download);
        auto *pressed = new PrimaryButton(u"Pulsado"_s);
        pressed->setDown(true);
        buttons->addWidget(pressed);
        auto *disabled = new PrimaryButton(u"Desactivado"_s);
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
        QVERIFY(TestSupport::saveScreenshot(&gallery, u"components"_s));
    }
};

QTEST_MAIN(ComponentsTest)
#include "tst_components.moc"
