#include "torvellogo.h"

#include "ui/components/icons.h"
#include "ui/components/torveltheme.h"

#include <QPainter>
#include <QPainterPath>
#include <QPainterPathStroker>

#include <algorithm>
#include <vector>

namespace {

constexpr char applicationIconResource[] = ":/icons/AppIcon.png";
constexpr qreal shadowRadius = 7;
constexpr qreal shadowOpacity = 0.22;
constexpr int shadowMargin = 9;

// A moving average over one row or column of the alpha channel; three passes in each direction
// approximate a Gaussian blur closely enough for a soft shadow.
void blurLine(QRgb *first, qsizetype stride, int length, int radius, std::vector<int> &scratch) {
    for (int i = 0; i < length; ++i)
        scratch[size_t(i)] = qAlpha(first[i * stride]);
    auto at = [&](int i) { return i >= 0 && i < length ? scratch[size_t(i)] : 0; };
    int sum = 0;
    for (int i = -radius; i <= radius; ++i)
        sum += at(i);
    for (int i = 0; i < length; ++i) {
        first[i * stride] = qRgba(0, 0, 0, sum / (2 * radius + 1));
        sum += at(i + radius + 1) - at(i - radius);
    }
}

void blurAlpha(QImage &image, int radius) {
    const int width = image.width();
    const int height = image.height();
    std::vector<int> scratch(size_t(std::max(width, height)));
    auto *pixels = reinterpret_cast<QRgb *>(image.bits());
    const qsizetype rowStride = image.bytesPerLine() / qsizetype(sizeof(QRgb));
    for (int pass = 0; pass < 3; ++pass) {
        for (int y = 0; y < height; ++y)
            blurLine(pixels + y * rowStride, 1, width, radius, scratch);
        for (int x = 0; x < width; ++x)
            blurLine(pixels + x, rowStride, height, radius, scratch);
    }
}

} // namespace

TorvelLogo::TorvelLogo(int size, QWidget *parent)
    : QWidget(parent), m_size(size), m_applicationIcon(QString::fromLatin1(applicationIconResource)) {
    setObjectName(QStringLiteral("torvelLogo"));
    setAccessibleName(QStringLiteral("Torvel Downloader"));
    setFixedSize(sizeHint());
}

void TorvelLogo::setLogoSize(int size) {
    if (size == m_size)
        return;
    m_size = size;
    m_shadow = {};
    setFixedSize(sizeHint());
    update();
}

QRect TorvelLogo::markRect() const {
    QRect mark(0, 0, m_size, m_size);
    mark.moveCenter(rect().center());
    return mark;
}

QSize TorvelLogo::sizeHint() const {
    return {m_size + 2 * shadowMargin, m_size + 2 * shadowMargin};
}

void TorvelLogo::paintMark(QPainter *painter, const QRectF &rect) const {
    if (!m_applicationIcon.isNull()) {
        QSizeF fitted = QSizeF(m_applicationIcon.size()).scaled(rect.size(), Qt::KeepAspectRatio);
        QRectF target(QPointF(), fitted);
        target.moveCenter(rect.center());
        painter->drawPixmap(target, m_applicationIcon, m_applicationIcon.rect());
        return;
    }
    const qreal radius = rect.width() * 0.24;
    painter->setPen(Qt::NoPen);
    painter->setBrush(TorvelTheme::accentGradient(rect.topLeft(), rect.bottomRight()));
    painter->drawRoundedRect(rect, radius, radius);

    // The icon font has a single weight; a thin outline of the glyph's own color makes it bold.
    const std::optional<Icons::Glyph> arrow = Icons::glyph(QStringLiteral("arrow.down.to.line.compact"));
    if (!arrow || Icons::fontFamily().isEmpty())
        return;
    const QString text(QChar(arrow->codepoint));
    const QFont font = Icons::font(qRound(rect.width() * 0.6));
    const QFontMetricsF metrics(font);
    QPainterPath glyph;
    glyph.addText(QPointF(rect.center().x() - metrics.horizontalAdvance(text) / 2,
                          rect.center().y() + (metrics.ascent() - metrics.descent()) / 2),
                  font, text);
    QPainterPathStroker stroker;
    stroker.setWidth(rect.width() * 0.035);
    stroker.setJoinStyle(Qt::RoundJoin);
    stroker.setCapStyle(Qt::RoundCap);
    painter->setBrush(Qt::white);
    painter->drawPath(glyph.united(stroker.createStroke(glyph)));
}

const QImage &TorvelLogo::shadow(qreal devicePixelRatio) {
    const QSize pixels = (QSizeF(size()) * devicePixelRatio).toSize();
    if (m_shadow.size() == pixels && qFuzzyCompare(m_shadow.devicePixelRatio(), devicePixelRatio))
        return m_shadow;
    m_shadow = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
    m_shadow.setDevicePixelRatio(devicePixelRatio);
    m_shadow.fill(Qt::transparent);
    {
        QPainter painter(&m_shadow);
        painter.setRenderHint(QPainter::Antialiasing);
        paintMark(&painter, markRect());
    }
    const int boxRadius = std::max(1, qRound(shadowRadius * devicePixelRatio / 2));
    blurAlpha(m_shadow, boxRadius);
    // The blurred alpha becomes the coverage of an accent-colored layer.
    QPainter tint(&m_shadow);
    tint.setCompositionMode(QPainter::CompositionMode_SourceIn);
    QColor color = TorvelTheme::accent();
    color.setAlphaF(float(shadowOpacity));
    tint.fillRect(QRectF(QPointF(), QSizeF(size())), color);
    return m_shadow;
}

void TorvelLogo::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QPointF(), shadow(devicePixelRatioF()));
    paintMark(&painter, markRect());
}
