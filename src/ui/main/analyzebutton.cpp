#include "analyzebutton.h"

#include "model/appmodel.h"
#include "ui/components/activityindicator.h"

#include <QIconEngine>
#include <QPainter>
#include <QtMath>

namespace {

// The activity indicator as an icon, so the button keeps drawing icon and label as one group.
class SpinnerIconEngine final : public QIconEngine {
public:
    void paint(QPainter *painter, const QRect &rect, QIcon::Mode, QIcon::State) override {
        ActivityIndicator::paint(painter, rect, Qt::white, ActivityIndicator::currentTurn());
    }
    QIconEngine *clone() const override { return new SpinnerIconEngine; }
    QString key() const override { return QStringLiteral("torvel-spinner"); }
};

const QString analyzeText = QStringLiteral("Analizar");
const QString analyzingText = QStringLiteral("Analizando");

} // namespace

AnalyzeButton::AnalyzeButton(AppModel &model, QWidget *parent) : PrimaryButton(parent), m_model(model) {
    setObjectName(QStringLiteral("analyzeButton"));
    m_spin.setInterval(80);
    connect(&m_spin, &QTimer::timeout, this, qOverload<>(&QWidget::update));
    connect(this, &QPushButton::clicked, this, [this] { m_model.analyze(); });
    connect(&m_model, &AppModel::phaseChanged, this, &AnalyzeButton::refresh);
    connect(&m_model, &AppModel::urlInputChanged, this, &AnalyzeButton::refresh);
    refresh();
}

void AnalyzeButton::refresh() {
    using Phase = AppModel::Phase;
    const Phase phase = m_model.phase();
    const bool analyzing = phase == Phase::analyzing;
    if (analyzing) {
        if (text() != analyzingText) {
            setText(analyzingText);
            setIcon(QIcon(new SpinnerIconEngine));
        }
        m_spin.start();
    } else {
        m_spin.stop();
        if (text() != analyzeText) {
            setText(analyzeText);
            setIconName(QStringLiteral("sparkle.magnifyingglass"));
        }
    }
    setEnabled(!m_model.urlInput().trimmed().isEmpty() && phase != Phase::analyzing);
}

QSize AnalyzeButton::sizeHint() const {
    // As wide as the longer of its two labels, so the row does not shift when it switches.
    const QFontMetricsF metrics(font());
    const int extra =
        qMax(0, qCeil(metrics.horizontalAdvance(analyzingText)) - qCeil(metrics.horizontalAdvance(text())));
    return PrimaryButton::sizeHint() + QSize(extra, 0);
}
