#include "secondarytext.h"

#include "ui/components/torveltheme.h"
#include "ui/components/uiparts.h"

#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <QWidget>

namespace {

// Lives as a child of the widget it colors and watches that widget's events.
class SecondaryTextFollower : public QObject {
public:
    static QString followerName() { return QStringLiteral("secondaryTextFollower"); }

    explicit SecondaryTextFollower(QWidget *widget) : QObject(widget), m_widget(widget) {
        setObjectName(followerName());
        widget->installEventFilter(this);
        update();
    }

    bool eventFilter(QObject *watched, QEvent *event) override {
        if (watched != m_widget)
            return false;
        switch (event->type()) {
        case QEvent::PaletteChange:
        case QEvent::ParentChange:
            update();
            break;
        case QEvent::ApplicationPaletteChange:
            // Every widget hears of the new palette in no particular order: the parent's may not
            // have been resolved yet.
            QTimer::singleShot(0, this, [this] { update(); });
            break;
        default:
            break;
        }
        return false;
    }

private:
    void update() {
        const QWidget *parent = m_widget->parentWidget();
        const QPalette around = parent ? parent->palette() : QApplication::palette(m_widget);
        const QColor color = TorvelTheme::secondaryText(around);
        // Setting the palette sends another PaletteChange, which then finds nothing to do.
        if (m_widget->palette().color(QPalette::WindowText) != color)
            UiParts::setTextColor(m_widget, color);
    }

    QWidget *m_widget;
};

} // namespace

namespace SecondaryText {

void apply(QWidget *widget) {
    if (!widget->findChild<QObject *>(SecondaryTextFollower::followerName(), Qt::FindDirectChildrenOnly))
        new SecondaryTextFollower(widget);
}

void remove(QWidget *widget) {
    delete widget->findChild<QObject *>(SecondaryTextFollower::followerName(), Qt::FindDirectChildrenOnly);
}

} // namespace SecondaryText
