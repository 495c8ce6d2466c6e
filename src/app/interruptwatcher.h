#pragma once

#include <QObject>

class QSocketNotifier;

// Turns Ctrl-C (SIGINT), SIGTERM and SIGHUP into a Qt signal on the event loop, where it is safe to act on it.
class InterruptWatcher : public QObject {
    Q_OBJECT

public:
    explicit InterruptWatcher(QObject *parent = nullptr);
    ~InterruptWatcher() override;

Q_SIGNALS:
    void interrupted();

private:
    QSocketNotifier *m_notifier = nullptr;
};
