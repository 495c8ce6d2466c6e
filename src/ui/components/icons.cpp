#include "icons.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QIconEngine>
#include <QPainter>
#include <QPalette>
#include <QSet>
#include <QStandardPaths>

#include <iterator>

namespace {

struct Entry {
    const char *name;
    char16_t codepoint;
    const char *materialName;
};

// Codepoints as published in the font package's codepoint list (scss/_variables.scss).
constexpr Entry table[] = {
    // download choices
    {"sparkles.tv", 0xe65f, "auto_awesome"},
    {"play.rectangle", 0xe41b, "slideshow"},
    {"waveform", 0xe1b8, "graphic_eq"},
    {"film", 0xe02c, "movie"},
    {"rectangle.stack.badge.plus", 0xe02e, "library_add"},
    {"captions.bubble", 0xe048, "subtitles"},
    // main window
    {"gearshape", 0xe8b8, "settings"},
    {"plus", 0xe145, "add"},
    {"link", 0xe157, "link"},
    {"doc.on.clipboard", 0xe14f, "content_paste"},
    {"exclamationmark.triangle.fill", 0xe002, "warning"},
    {"sparkle.magnifyingglass", 0xea11, "saved_search"},
    {"arrow.down.circle.dotted", 0xf001, "downloading"},
    {"play.rectangle.fill", 0xf06a, "smart_display"},
    {"person.crop.circle", 0xe853, "account_circle"},
    {"clock", 0xe8b5, "schedule"},
    {"rectangle.stack", 0xe3e0, "filter_none"},
    {"slider.horizontal.3", 0xe429, "tune"},
    {"checkmark.circle.fill", 0xe86c, "check_circle"},
    {"circle", 0xe836, "radio_button_unchecked"},
    {"waveform.badge.magnifyingglass", 0xe1d2, "troubleshoot"},
    {"aspectratio", 0xe85b, "aspect_ratio"},
    {"speedometer", 0xe9e4, "speed"},
    {"gauge.with.dots.needle.33percent", 0xe01b, "av_timer"},
    {"externaldrive", 0xe1db, "storage"},
    {"speaker.slash.fill", 0xe04f, "volume_off"},
    {"speaker.wave.2.fill", 0xe050, "volume_up"},
    {"speaker.slash", 0xe04f, "volume_off"},
    {"link.badge.plus", 0xe178, "add_link"},
    {"checkmark", 0xe5ca, "check"},
    {"folder", 0xe2c8, "folder_open"},
    {"folder.fill", 0xe2c7, "folder"},
    {"arrow.down.circle.fill", 0xf000, "download_for_offline"},
    {"magnifyingglass", 0xe8b6, "search"},
    // options window
    {"wrench.and.screwdriver", 0xf10b, "handyman"},
    {"info.circle", 0xe88f, "info_outline"},
    {"hand.raised.fill", 0xe925, "pan_tool"},
    {"doc.on.doc", 0xe14d, "content_copy"},
    {"arrow.clockwise", 0xe5d5, "refresh"},
    {"xmark.octagon.fill", 0xe99a, "dangerous"},
    {"arrow.triangle.2.circlepath", 0xe627, "sync"},
    {"arrow.right", 0xe5c8, "arrow_forward"},
    {"gearshape.2.fill", 0xf10c, "miscellaneous_services"},
    {"stop.circle.fill", 0xef71, "stop_circle"},
    {"terminal.fill", 0xeb8e, "terminal"},
    // about window and logo
    {"shippingbox.fill", 0xe1a1, "inventory_2"},
    {"arrow.down.to.line.compact", 0xf090, "download"},
};

constexpr char fontFileName[] = "MaterialIcons-Regular.ttf";
constexpr char materialFamily[] = "Material Icons";

QString loadFontFamily() {
    // A relocatable bundle carries the font beside the executable; a distribution install has it
    // in the data folders.
    QStringList candidates{QStringLiteral(":/fonts/") + QLatin1String(fontFileName),
                           QDir(QCoreApplication::applicationDirPath())
                               .absoluteFilePath(QStringLiteral("../share/fonts/") + QLatin1String(fontFileName))};
    candidates += QStandardPaths::locateAll(QStandardPaths::GenericDataLocation,
                                            QStringLiteral("fonts/truetype/material-design-icons-iconfont/") +
                                                QLatin1String(fontFileName));
    for (const QString &candidate : std::as_const(candidates)) {
        if (!QFile::exists(candidate))
            continue;
        const int id = QFontDatabase::addApplicationFont(candidate);
        const QStringList families = id < 0 ? QStringList() : QFontDatabase::applicationFontFamilies(id);
        if (!families.isEmpty())
            return families.constFirst();
    }
    if (QFontDatabase::families().contains(QLatin1String(materialFamily)))
        return QLatin1String(materialFamily);
    qWarning("Icons: the Material Icons font (fonts-material-design-icons-iconfont) was not found; icons stay empty");
    return {};
}

void warnUnknownOnce(const QString &name) {
    static QSet<QString> warned;
    if (!warned.contains(name)) {
        warned.insert(name);
        qWarning("Icons: no glyph for the icon name \"%s\"", qUtf8Printable(name));
    }
}

QColor resolved(const QColor &color) {
    return color.isValid() ? color : QGuiApplication::palette().color(QPalette::WindowText);
}

// Draws from the font at whatever size and pixel ratio the icon is asked for, so icons stay
// sharp on every screen.
class GlyphIconEngine final : public QIconEngine {
public:
    GlyphIconEngine(QString name, QColor color, int size) : m_name(std::move(name)), m_color(color), m_size(size) {}

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State) override {
        painter->save();
        if (mode == QIcon::Disabled)
            painter->setOpacity(painter->opacity() * 0.4);
        Icons::paint(painter, rect, m_name, resolved(m_color));
        painter->restore();
    }

    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override {
        QPixmap result(size);
        result.fill(Qt::transparent);
        QPainter painter(&result);
        paint(&painter, QRect(QPoint(), size), mode, state);
        return result;
    }

    QSize actualSize(const QSize &size, QIcon::Mode, QIcon::State) override {
        const int side = qMin(size.width(), size.height());
        return {side, side};
    }

    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override { return {QSize(m_size, m_size)}; }
    QString key() const override { return QStringLiteral("TorvelGlyph"); }
    QIconEngine *clone() const override { return new GlyphIconEngine(m_name, m_color, m_size); }
    QString iconName() override { return m_name; }
    bool isNull() override { return false; }

private:
    QString m_name;
    QColor m_color;
    int m_size;
};

} // namespace

namespace Icons {

std::optional<Glyph> glyph(const QString &name) {
    for (const Entry &entry : table) {
        if (name == QLatin1String(entry.name))
            return Glyph{entry.codepoint, QLatin1String(entry.materialName)};
    }
    return std::nullopt;
}

QStringList names() {
    QStringList result;
    result.reserve(qsizetype(std::size(table)));
    for (const Entry &entry : table)
        result.append(QLatin1String(entry.name));
    return result;
}

QString fontFamily() {
    static const QString family = loadFontFamily();
    return family;
}

QFont font(int pixelSize) {
    QFont result(fontFamily());
    result.setPixelSize(qMax(1, pixelSize));
    result.setStyleStrategy(QFont::StyleStrategy(QFont::NoFontMerging | QFont::PreferAntialias));
    result.setHintingPreference(QFont::PreferNoHinting);
    return result;
}

void paint(QPainter *painter, const QRectF &rect, const QString &name, const QColor &color) {
    if (name.isEmpty())
        return;
    const std::optional<Glyph> found = glyph(name);
    if (!found) {
        warnUnknownOnce(name);
        return;
    }
    if (fontFamily().isEmpty() || rect.isEmpty())
        return;
    const QString text(QChar(found->codepoint));
    const QFont iconFont = font(qRound(qMin(rect.width(), rect.height())));
    const QFontMetricsF metrics(iconFont);
    const QPointF origin(rect.center().x() - metrics.horizontalAdvance(text) / 2,
                         rect.center().y() + (metrics.ascent() - metrics.descent()) / 2);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setRenderHint(QPainter::TextAntialiasing);
    painter->setFont(iconFont);
    painter->setPen(color);
    painter->drawText(origin, text);
    painter->restore();
}

QIcon icon(const QString &name, const QColor &color, int size) {
    return QIcon(new GlyphIconEngine(name, color, size));
}

QPixmap pixmap(const QString &name, const QColor &color, int size, qreal devicePixelRatio) {
    const int side = qMax(1, qRound(size * devicePixelRatio));
    QPixmap result(side, side);
    result.fill(Qt::transparent);
    {
        QPainter painter(&result);
        paint(&painter, QRectF(0, 0, side, side), name, resolved(color));
    }
    result.setDevicePixelRatio(devicePixelRatio);
    return result;
}

} // namespace Icons
