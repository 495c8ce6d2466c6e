#include "interruptwatcher.h"

#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int interruptSockets[2] = {-1, -1};

void onInterrupt(int) {
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(interruptSockets[0], &byte, 1);
}

} // namespace

InterruptWatcher::InterruptWatcher(QObject *parent) : QObject(parent) {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, interruptSockets) != 0)
        return;
    m_notifier = new QSocketNotifier(interruptSockets[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        char byte = 0;
        [[maybe_unused]] const auto read = ::read(interruptSockets[1], &byte, 1);
        Q_EMIT interrupted();
    });
    struct sigaction action = {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    // A polite termination from outside (SIGTERM, a closed terminal) stops the command the same
    // way, so that it removes what it made (the private cookies copy, the job folder).
    for (const int number : {SIGINT, SIGTERM, SIGHUP})
        sigaction(number, &action, nullptr);
}

InterruptWatcher::~InterruptWatcher() {
    for (const int number : {SIGINT, SIGTERM, SIGHUP})
        signal(number, SIG_DFL);
    if (interruptSockets[0] >= 0) {
        ::close(interruptSockets[0]);
        ::close(interruptSockets[1]);
        interruptSockets[0] = interruptSockets[1] = -1;
    }
}
